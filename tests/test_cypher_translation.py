"""Query.to_cypher: what is refused, with which step named, and what never becomes text.

The rows of translated queries are compared with velarto's own on a real engine in
test_cypher_differential.py; here each kind of step that has no exact translation is refused
with its reason, before anything runs, and values only ever travel as parameters.
"""
from __future__ import annotations

import pytest

from velarto import Application, Edge, Graph, Node, Term, Variable


@pytest.fixture
def g() -> Graph:
    graph = Graph()
    a, b = Node(Variable("A"), {"name": "Ann"}), Node(Variable("B"), {"name": "Bob"})
    for node in (a, b):
        graph.nodes[node.uid()] = node
    edge = Edge(Term("f", Application(a.type, b.type)), a, b)
    graph.edges[edge.uid()] = edge
    return graph


REFUSED = [
    (lambda q: q.match(node="a").match(node="b"), ("a",), "a second match", "pair their rows by position"),
    (lambda q: q.match("(a)(b)"), ("a",), "match", "nodes side by side"),
    (lambda q: q, ("a",), "the query", "does not begin with a match"),
    (lambda q: q.match(node="a").limit(1), ("a",), "limit(1)", "without a sort before it"),
    (lambda q: q.match(node="a").skip(1), ("a",), "skip(1)", "without a sort before it"),
    (lambda q: q.match(node="a").order_by("a", "name").where("a.name = 'x'").limit(1), ("a",), "limit(1)",
     "a step after the sort"),
    (lambda q: q.match(node="a").set("a", {"x": 1}), ("a",), "set", "writes are not translated"),
    (lambda q: q.match(node="a").delete("a"), ("a",), "delete", "writes are not translated"),
    (lambda q: q.match(node="a").create(node="c", type=Variable("C")), ("a",), "create", "writes"),
    (lambda q: q.match("(r)").where("compose(r) = '(A -> B)'"), (), "where(", "compose()"),
    (lambda q: q.match(node="a"), ("keys(a) AS k",), "return_(", "the layout's own keys"),
    (lambda q: q.match(node="a"), ("properties(a) AS p",), "return_(", "the layout's own keys"),
    (lambda q: q.match(node="a"), ("name(a) AS n",), "return_(", "name() of a node"),
    (lambda q: q.match(node="a"), ("type(a.name) AS t",), "return_(", "anything but a bound variable"),
    (lambda q: q.match(node="velarto_a"), ("velarto_a",), "match", "kept for the exported layout"),
    (lambda q: q.match(node="a").where("a.velarto_uid = 'x'"), ("a",), "where(", "kept for the exported layout"),
    (lambda q: q.match("(a {name: null})"), ("a",), "match", "a database does not store"),
    (lambda q: q.match(node="a").where("a.name IN $names").params(names={"Ann"}), ("a",), "$names",
     "a database cannot hold a value of type set"),
    (lambda q: q.match(node="a").where("a.n = $big").params(big=2**70), ("a",), "$big", "an int beyond 64 bits"),
    (lambda q: q.match(node="a").where("a.n = $velarto_p0").params(velarto_p0=1), ("a",), "$velarto_p0",
     "kept for the translation's own parameters"),
    (lambda q: q.match("(a)-[r]->(b)-[r]->(c)"), ("a",), "match", "written twice"),
    (lambda q: q.match(node="a"), ("zz",), "return_(", "every row would be empty"),
]


@pytest.mark.parametrize("build, items, step, why", REFUSED)
def test_a_step_with_no_exact_translation_is_refused_naming_it(g, build, items, step, why):
    query = build(g.query())
    with pytest.raises(ValueError) as caught:
        query.to_cypher(*items)
    message = str(caught.value)
    assert message.startswith("Cannot translate " + step) and why in message
    assert len(g.nodes) == 2 and len(g.edges) == 1  # nothing ran


def test_the_engine_dialect_refuses_edges_of_either_direction_and_an_unknown_dialect(g):
    query = g.query().match("(a)-[r]-(b)")
    assert "-[r:VEdge]-" in query.to_cypher("a")[0]
    with pytest.raises(ValueError, match="self-loop twice"):
        query.to_cypher("a", dialect="ladybug")
    with pytest.raises(ValueError, match="expected 'opencypher' or 'ladybug'"):
        query.to_cypher("a", dialect="sql")


@pytest.mark.parametrize("value", ["x'}) DETACH DELETE n //", "back`tick", "a.name = a.name", 'dq"'])
def test_values_travel_as_parameters_never_as_text(g, value):
    query = (g.query().match(node="a").where("a.name = $who OR a.name = 'lit'").params(who=value)
             .with_("a", "a.name + $who AS joined"))
    text, parameters = query.to_cypher("joined", "a.name")
    assert value not in text and "'lit'" not in text
    assert parameters["who"] == value and "lit" in parameters.values()


def test_unbound_variables_raise_as_the_run_does(g):
    query = g.query().match(node="a").where("b.name = 'x'")
    with pytest.raises(NameError, match="Variable 'b' not found"):
        query.to_cypher("a")
    with pytest.raises(NameError):
        query.return_("a")


def test_a_query_that_ran_before_holds_its_bindings_and_is_refused(g):
    query = g.query().match(node="a")
    query.execute()
    with pytest.raises(ValueError, match="bindings left by an earlier run"):
        query.to_cypher("a")
