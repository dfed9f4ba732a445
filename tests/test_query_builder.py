"""The Query builder: construction, the fourteen methods' signatures and
docstrings, argument conversion, form selection, the variable-name errors and
the copy rule (the receiver gets the operation, the returned copy is new)."""
from __future__ import annotations

import inspect

import pytest

from small_graphs import add_edge, add_node, column, graph_with, labels, node_types
from velarto import Application, Edge, Graph, Node, Query, Term, TypeSchema, Variable

A, B, C = Variable("A"), Variable("B"), Variable("C")
NAME_REQUIRED = "Invalid query: Variable name required"
NOT_A_NAME = "Invalid query: Expected string variable name (variable extraction)"


class Str(str):
    pass


class Dict(dict):
    pass


# --- construction ------------------------------------------------------------------------------

def test_query_from_graph_and_from_query_method():
    g = Graph()
    for q in (Query(g), Query(graph=g), g.query()):
        assert type(q) is Query
    assert g.query() is not g.query()
    assert "Query object at" in repr(Query(g))


@pytest.mark.parametrize("call", [
    lambda: Query(),
    lambda: Query(None),
    lambda: Query({}),
    lambda: Query(Graph().nodes),
    lambda: Query(Graph(), Graph()),
    lambda: Query(g=Graph()),
    lambda: Graph().query(1),
])
def test_query_construction_errors(call):
    with pytest.raises(TypeError):
        call()


def test_query_holds_the_graph_dicts_not_the_graph_object():
    g = Graph()
    q = Query(g)
    add_node(g, "A")
    assert column(q.match(node="n").return_("n"), "n") == ["A"]
    q.create(node="m", type=B).execute()
    assert node_types(g) == ["A", "B"]


def test_queries_of_one_graph_share_dicts_only():
    g = Graph()
    q1, q2 = g.query(), Query(g)
    q1.create(node="n", type=A)
    assert q2.return_count() == 0 and node_types(g) == []
    assert q1.return_count() == 1 and node_types(g) == ["A"]
    assert q2.match(node="n").return_count() == 1


# --- signatures and docstrings -----------------------------------------------------------------

SIGNATURES = [
    ("match", "($self, pattern=None, *, node=None, edge=None, start=None, end=None, type=..., "
              "type_schema=None, term=None, term_type_schema=None, properties=None)"),
    ("where", "($self, condition)"),
    ("return_", "($self, *variables)"),
    ("return_count", "($self)"),
    ("return_distinct", "($self, *variables)"),
    ("create", "($self, pattern=None, *, node=None, edge=None, type=..., term=None, start=None, end=None, "
               "properties=None)"),
    ("set", "($self, variable, properties)"),
    ("delete", "($self, *variables, detach=False)"),
    ("merge", "($self, pattern=None, *, node=None, edge=None, type=..., type_schema=None, term=None, "
              "term_type_schema=None, start=None, end=None, properties=None)"),
    ("with_", "($self, *variables)"),
    ("order_by", "($self, variable, key, ascending=True)"),
    ("limit", "($self, count)"),
    ("skip", "($self, count)"),
    ("execute", "($self)"),
    ("params", "($self, /, **values)"),
    ("to_cypher", "($self, *items, distinct=False, dialect='opencypher')"),
]


def test_method_table_order():
    names = [name for name, value in vars(Query).items() if callable(value) and not name.startswith("_")]
    assert names == [name for name, _ in SIGNATURES]


@pytest.mark.parametrize("name, text_signature", SIGNATURES, ids=[s[0] for s in SIGNATURES])
def test_text_signatures(name, text_signature):
    method = getattr(Query, name)
    assert method.__text_signature__ == text_signature
    rest = text_signature[len("($self"):].replace("=...", "=Ellipsis").replace(", /, **", ", **")
    assert str(inspect.signature(method)) == "(self, /" + rest
    assert str(inspect.signature(getattr(Graph().query(), name))) == "(" + rest.lstrip(", ")


def test_keyword_only_parameters():
    for name in ("match", "create", "merge"):
        parameters = inspect.signature(getattr(Query, name)).parameters
        kinds = {p.name: p.kind for p in parameters.values()}
        assert kinds.pop("self") is inspect.Parameter.POSITIONAL_ONLY
        assert kinds.pop("pattern") is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert set(kinds.values()) == {inspect.Parameter.KEYWORD_ONLY}
    detach = inspect.signature(Query.delete).parameters["detach"]
    assert detach.kind is inspect.Parameter.KEYWORD_ONLY and detach.default is False


@pytest.mark.parametrize("name, first_sentence", [
    ("match", "Matches nodes, edges, or paths in the graph."),
    ("where", "Adds a WHERE clause to filter results (not fully implemented)."),
    ("return_", "Returns the specified variables from the query results."),
])
def test_described_methods(name, first_sentence):
    assert getattr(Query, name).__doc__.startswith(first_sentence)


@pytest.mark.parametrize("name", ["return_count", "return_distinct", "create", "set", "delete", "merge",
                                  "with_", "order_by", "limit", "skip", "execute"])
def test_signature_only_methods_have_no_docstring(name):
    assert getattr(Query, name).__doc__ is None


def test_class_doc():
    assert Query.__text_signature__ == "(graph)"
    assert Query.__doc__.startswith("Cypher-like query builder for the graph.")
    assert Graph.query.__doc__.startswith("Creates a new query builder for this graph.")


# --- argument conversion -----------------------------------------------------------------------

@pytest.fixture
def q():
    return Graph().query()


@pytest.mark.parametrize("call", [
    # positional arguments beyond the first, where the rest is keyword-only
    lambda q: q.match("(n)", "n"),
    lambda q: q.create("(n)", "n"),
    lambda q: q.merge(None, "n"),
    lambda q: q.match(nodes="n"),
    lambda q: q.create(type_schema="$A$"),
    lambda q: q.create(term_type_schema="$A$"),
    lambda q: q.return_count(1),
    lambda q: q.execute(1),
    lambda q: q.execute(x=1),
    lambda q: q.where(),
    lambda q: q.where("a", "b"),
    lambda q: q.set("n"),
    lambda q: q.order_by("n"),
    lambda q: q.limit(),
    lambda q: q.skip(count=1, extra=2),
    lambda q: q.delete(variables="n"),
    lambda q: q.with_(names="n"),
    lambda q: q.return_(variables="n"),
])
def test_arity_and_keyword_errors(q, call):
    with pytest.raises(TypeError):
        call(q)


@pytest.mark.parametrize("call, parameter", [
    (lambda q: q.match(pattern=5), "pattern"),
    (lambda q: q.match(b"(n)"), "pattern"),
    (lambda q: q.match(node=5), "node"),
    (lambda q: q.match(edge=["e"]), "edge"),
    (lambda q: q.match(node="n", properties=[1]), "properties"),
    (lambda q: q.create(pattern=5), "pattern"),
    (lambda q: q.create(node=Variable("n")), "node"),
    (lambda q: q.create(edge=1), "edge"),
    (lambda q: q.create(node="n", type=A, properties=()), "properties"),
    (lambda q: q.merge(pattern=5), "pattern"),
    (lambda q: q.merge(node=1), "node"),
    (lambda q: q.merge(edge=1.0), "edge"),
    (lambda q: q.merge(node="n", properties="k"), "properties"),
    (lambda q: q.where(5), "condition"),
    (lambda q: q.set(5, {}), "variable"),
    (lambda q: q.set("n", None), "properties"),
    (lambda q: q.set("n", [("k", 1)]), "properties"),
    (lambda q: q.delete("a", 1), "variables"),
    (lambda q: q.delete(["a"]), "variables"),
    (lambda q: q.delete("a", detach=1), "detach"),
    (lambda q: q.delete("a", detach=0), "detach"),
    (lambda q: q.delete("a", detach=None), "detach"),
    (lambda q: q.delete("a", detach="yes"), "detach"),
    (lambda q: q.with_(["a"]), "variables"),
    (lambda q: q.with_("a", None), "variables"),
    (lambda q: q.order_by(1, "k"), "variable"),
    (lambda q: q.order_by("n", None), "key"),
    (lambda q: q.order_by("n", "k", 1), "ascending"),
    (lambda q: q.order_by("n", "k", ascending=None), "ascending"),
    (lambda q: q.limit(1.5), "count"),
    (lambda q: q.limit("3"), "count"),
    (lambda q: q.skip(None), "count"),
    (lambda q: q.skip(1.5), "count"),
    (lambda q: q.return_(["n"]), "variables"),
    (lambda q: q.return_("n", 1), "variables"),
    (lambda q: q.return_distinct(["n"]), "variables"),
    (lambda q: q.return_distinct(None), "variables"),
])
def test_argument_type_errors_name_the_parameter(q, call, parameter):
    with pytest.raises(TypeError) as caught:
        call(q)
    assert f"'{parameter}'" in str(caught.value)


@pytest.mark.parametrize("count", [-1, -(2 ** 70), 2 ** 64])
@pytest.mark.parametrize("method", ["limit", "skip"])
def test_count_out_of_range(q, method, count):
    with pytest.raises((TypeError, OverflowError)) as caught:
        getattr(q, method)(count)
    assert "'count'" in str(caught.value)


@pytest.mark.parametrize("count", [0, 1, 2 ** 64 - 1])
@pytest.mark.parametrize("method", ["limit", "skip"])
def test_count_in_range(q, method, count):
    assert type(getattr(q, method)(count)) is Query
    assert type(getattr(q, method)(count=count)) is Query


def test_refused_arguments_queue_nothing():
    g, nodes = graph_with("A")
    q = g.query().match(node="n", type=A)
    for bad in (lambda: q.delete(["n"]), lambda: q.delete("n", 1), lambda: q.delete("n", detach=1),
                lambda: q.create(node="m", type=B, properties=[1]), lambda: q.create("(n"),
                lambda: q.create(node="m", type="B"), lambda: q.set("n", None)):
        with pytest.raises((TypeError, ValueError)):
            bad()
    assert q.return_count() == 1
    assert node_types(g) == ["A"]
    assert g.nodes[nodes["A"].uid()] is nodes["A"]


def test_subclasses_of_str_and_dict_are_accepted():
    g, _ = graph_with("A", "B")
    q = g.query()
    q = q.match(Str("(a:A)")).match(node=Str("b"), type_schema=Str("$B$"), properties=Dict())
    q = q.set(Str("a"), Dict(k=1)).delete(Str("zz"), detach=False)
    q = q.merge(Str("ignored"), node=Str("c"), type=C, properties=Dict(x=1))
    rows = q.return_(Str("a"), Str("b"), Str("c"))
    assert labels(rows) == [{"a": "A", "b": "B", "c": "C"}]
    assert all(type(key) is str for key in rows[0])
    assert rows[0]["a"].properties == {"k": 1}
    assert rows[0]["c"].properties == {"x": 1}
    for built in (q.where(Str("a.k = 1")), q.with_(Str("a"), Str("b")), q.order_by(Str("a"), Str("k"))):
        assert type(built) is Query


def test_defaults_are_ellipsis_and_none():
    g, _ = graph_with("A", "B")
    q = g.query()
    assert q.match(None, node="n", edge=None, type=..., type_schema=None, properties=None).return_count() == 2
    assert q.match(node="n", type=None).return_count() == 2
    assert type(q.order_by("n", "k")) is Query and type(q.order_by("n", "k", True)) is Query
    q2 = g.query().create(node="x", type=...)  # no type: nothing to create
    assert q2.return_count() == 0 and len(g.nodes) == 2


# --- form selection ------------------------------------------------------------------------------

@pytest.fixture
def abc():
    g, nodes = graph_with("A", "B", "C")
    add_edge(g, "f", nodes["A"], nodes["B"])
    return g


@pytest.mark.parametrize("kwargs, bound", [
    (dict(), {}),
    (dict(pattern="(n)", node="m"), {"n": ["A", "B", "C"]}),
    (dict(pattern="(n)", node=None, edge="e", type="not a type", properties={1: 2}), {"n": ["A", "B", "C"]}),
    (dict(node="n", edge="e"), {"n": ["A", "B", "C"]}),
    (dict(node="n", type=B, term="not a term", term_type_schema=5, start=5, end=6), {"n": ["B"]}),
    (dict(edge="e", type="not a type", type_schema=5), {"e": ["f"]}),
    (dict(edge="e", start="s", end=Node(B)), {"e": ["f"], "s": ["A"]}),
    (dict(edge="e", start=1, end="t"), {"e": ["f"], "t": ["B"]}),
    (dict(start="s", end="t", type=A, properties={"k": 1}), {}),
])
def test_match_form_selection(abc, kwargs, bound):
    q = abc.query().match(**kwargs)
    names = ["n", "m", "e", "s", "t"]
    rows = q.return_(*names)
    assert {name: column(rows, name) for name in names if column(rows, name)} == bound


@pytest.mark.parametrize("kwargs, error", [
    (dict(node="n", type="A"), TypeError),
    (dict(node="n", properties={1: 1}), TypeError),
    (dict(node=Str("n"), type=Term("A", A)), TypeError),
    (dict(edge="e", term=A), TypeError),
    (dict(edge="e", term="f"), TypeError),
    (dict(edge="e", properties={2: 1}), TypeError),
    (dict(pattern="(a)-[e]->"), ValueError),
])
def test_match_pattern_build_errors(kwargs, error):
    with pytest.raises(error):
        Graph().query().match(**kwargs)


def test_create_form_selection():
    g = Graph()
    g.query().create("(n:A)", node="m", type=B).execute()       # path form: node and type ignored
    assert node_types(g) == ["A"]
    g.query().create(node="n", edge="e", type=A, term=5, start=5).execute()
    assert node_types(g) == ["A"]
    g.query().create(type=B, properties={"k": 1}).execute()       # nothing selects a form
    assert node_types(g) == ["A"]


@pytest.mark.parametrize("method", ["create", "merge"])
@pytest.mark.parametrize("kwargs, message", [
    (dict(), NAME_REQUIRED),
    (dict(start="a"), NAME_REQUIRED),
    (dict(end="b"), NAME_REQUIRED),
    (dict(start=None, end="b"), NAME_REQUIRED),
    (dict(start="a", end=None), NAME_REQUIRED),
    (dict(start=5, end=None), NOT_A_NAME),
    (dict(start=None, end=5), NAME_REQUIRED),
    (dict(start="a", end=5), NOT_A_NAME),
    (dict(start=Node(A), end="b"), NOT_A_NAME),
    (dict(start=b"a", end="b"), NOT_A_NAME),
])
def test_edge_form_variable_names(method, kwargs, message):
    q = Graph().query()
    with pytest.raises(ValueError) as caught:
        getattr(q, method)(edge="e", **kwargs)
    assert caught.value.args == (message,)
    assert str(caught.value) == message


@pytest.mark.parametrize("method", ["create", "merge"])
def test_edge_pattern_error_wins_over_names(method):
    with pytest.raises(TypeError):
        getattr(Graph().query(), method)(edge="e", term=A)
    with pytest.raises(TypeError):
        getattr(Graph().query(), method)(edge="e", properties={1: 1}, start=None)


def test_edge_form_accepts_str_subclass_names():
    g, nodes = graph_with("A", "B")
    t = Term("f", Application(A, B))
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    q.create(edge="e", start=Str("a"), end=Str("b"), term=t).execute()
    assert [e.term.name for e in g.edges.values()] == ["f"]


def test_merge_form_selection():
    g, _ = graph_with("A")
    q = g.query()
    with pytest.raises(ValueError, match="Unmatched parentheses"):
        q.merge("(n")                                           # the path form parses its pattern
    assert q.merge("(n:A)", node="m", type=B).return_count() == 1   # node form first
    assert node_types(g) == ["A", "B"]
    assert q.merge(Str("(n:C)")).return_count() == 1            # then the path form
    assert node_types(g) == ["A", "B", "C"]


def test_merge_edge_form_ignores_type():
    g, nodes = graph_with("A", "B")
    add_edge(g, "f", nodes["A"], nodes["B"])
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    rows = q.merge(edge="e", start="a", end="b", type="not a type", type_schema=5).return_("e")
    assert column(rows, "e") == ["f"]


# --- the copy rule ---------------------------------------------------------------------------

def test_builder_returns_a_new_query_every_time():
    q = Graph().query()
    calls = [lambda: q.match(), lambda: q.match(node="n"), lambda: q.where("n.k = 1"),
             lambda: q.create(), lambda: q.set("n", {}), lambda: q.delete(), lambda: q.merge(),
             lambda: q.with_(), lambda: q.order_by("n", "k"), lambda: q.limit(1), lambda: q.skip(1),
             lambda: q.execute()]
    made = [call() for call in calls]
    assert all(type(c) is Query and c is not q for c in made)
    assert len({id(c) for c in made}) == len(made)


def test_receiver_gets_the_operation():
    g = Graph()
    q = g.query()
    c = q.create(node="a", type=A)
    assert c is not q
    assert q.return_count() == 1 and node_types(g) == ["A"]


def test_later_appends_are_independent():
    g = Graph()
    q = g.query()
    c1 = q.create(node="a", type=A)    # q and c1 hold: create A
    c2 = c1.create(node="b", type=B)   # c1 and c2 hold: create B
    c3 = c2.create(node="c", type=C)   # c2 and c3 hold: create C
    q.execute()
    assert node_types(g) == ["A"]
    c1.execute()
    assert node_types(g) == ["A", "B"]
    g.nodes.clear()
    c3.execute()
    assert node_types(g) == ["A", "B", "C"]
    g.nodes.clear()
    c1.execute()
    assert node_types(g) == ["A", "B"]
    g.nodes.clear()
    q.create(node="d", type=Variable("D"))  # appended to q: seen by q only
    c1.execute()
    assert node_types(g) == ["A", "B"]
    q.execute()
    assert node_types(g) == ["A", "B", "D"]


def test_match_with_nothing_queues_nothing_but_copies():
    g = Graph()
    q = g.query().create(node="a", type=A)
    c = q.match()
    assert c is not q
    g.nodes.clear()
    assert c.return_count() == 1 and node_types(g) == ["A"]


def test_copies_own_their_bindings():
    g, _ = graph_with("A")
    x = g.query()
    y = x.merge(node="n", type=A)   # x and y both hold the merge
    assert x.return_count() == 1
    assert y.return_count() == 1    # y's list did not see x's run
    assert x.return_count() == 2
    z = x.match()                   # a copy carries the bindings of its moment
    assert z.return_count() == 3
    assert x.return_count() == 3
    assert y.return_count() == 2


def test_set_dict_is_shared_between_copies():
    g, nodes = graph_with("A")
    d = {"k": 1}
    q = g.query().match(node="n", type=A)
    c = q.set("n", d)
    d["k"] = 2
    q.execute()
    assert nodes["A"].properties == {"k": 2}
    d["k"] = 3
    c.execute()
    assert nodes["A"].properties == {"k": 3}


def test_long_builder_chain_is_linear():
    g, _ = graph_with("A")
    q = g.query().match(node="n", type=A)
    for i in range(100_000):
        q = q.set("unbound", {"i": i}) if i % 2 else q.merge(node="m", type=A)
    assert q.return_count() == 50_000
    assert len(q.return_("m")) == 100_000  # the merges append again on the second run
    assert len(q.return_("n")) == 1


def test_builder_does_not_touch_the_graph():
    g, nodes = graph_with("A")
    q = g.query().create(node="b", type=B).merge(node="c", type=C).match(node="a", type=A)
    q = q.set("a", {"k": 1}).delete("a", detach=True)
    assert node_types(g) == ["A"] and nodes["A"].properties == {}


def test_edge_pattern_term_is_copied_at_build_time():
    g, nodes = graph_with("A", "B")
    add_edge(g, "f", nodes["A"], nodes["B"])
    t = Term("f", Application(A, B))
    q = g.query().match(edge="e", term=t)
    t.name = "renamed"
    assert column(q.return_("e"), "e") == ["f"]


def test_type_schema_object_pattern_is_copied():
    g, _ = graph_with("A", "B")
    schema = TypeSchema("$B$")
    q = g.query().match(node="n", type_schema=schema)
    assert column(q.return_("n"), "n") == ["B"]
    assert schema.pattern == "$B$"
