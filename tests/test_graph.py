"""Node, Edge and Graph: construction order, shared properties, uids, text
forms, identity semantics and the graph's two dictionaries."""
from __future__ import annotations

import types
from collections import OrderedDict

import pytest

import type_oracle as oracle
from velarto import Application, Edge, Graph, Node, Term, Variable

A, B, C = Variable("A"), Variable("B"), Variable("C")
EXPECTED_TYPE = "Expected Variable or Application"


class DictSubclass(dict):
    pass


def edge(name="f", start=A, end=B, term_type=None, properties=None):
    term = Term(name, term_type if term_type is not None else Application(start, end))
    return Edge(term, Node(start), Node(end), properties)


# --- Node construction -----------------------------------------------------------------

@pytest.mark.parametrize("type_", [A, Application(A, B)])
def test_node_keeps_its_type(type_):
    n = Node(type_)
    assert n.type == type_
    assert n.type is not type_ and n.type is not n.type
    assert Node(type=type_, properties={"k": 1}).properties == {"k": 1}


@pytest.mark.parametrize("bad_type", ["A", None, 1, Term("A", A), Node(A)])
def test_node_type_must_be_a_type(bad_type):
    with pytest.raises(TypeError) as caught:
        Node(bad_type)
    assert caught.value.args == (EXPECTED_TYPE,)
    with pytest.raises(TypeError) as caught:
        Node(bad_type, {})
    assert caught.value.args == (EXPECTED_TYPE,)


@pytest.mark.parametrize("bad_properties", [[], (), "x", 0, frozenset(), Graph(), types.MappingProxyType({})])
@pytest.mark.parametrize("type_", [A, "not a type"])
def test_node_properties_are_checked_before_the_type(bad_properties, type_):
    with pytest.raises(TypeError) as caught:
        Node(type_, bad_properties)
    assert caught.value.args != (EXPECTED_TYPE,)


@pytest.mark.parametrize("call", [
    lambda: Node(),
    lambda: Node(A, {}, {}),
    lambda: Node(A, props={}),
    lambda: Node(A, type=A),
    lambda: Node(properties={}),
], ids=["missing", "extra", "unknown keyword", "duplicate", "only properties"])
def test_node_argument_binding_errors(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.value.args != (EXPECTED_TYPE,)


# --- Edge construction ------------------------------------------------------------------

T, N = Term("t", A), Node(A)

# (term, start, end, properties, the parameter that must be reported)
EDGE_ORDER = [
    ("t", "s", "e", [], "properties"),
    (T, N, N, [], "properties"),
    ("t", "s", "e", None, "term"),
    ("t", N, N, {}, "term"),
    (A, N, N, None, "term"),
    (T, "s", "e", None, "start"),
    (T, A, N, None, "start"),
    (T, T, T, None, "start"),
    (T, N, "e", None, "end"),
    (T, N, Edge(T, N, N), DictSubclass(), "end"),
]


@pytest.mark.parametrize("term,start,end,properties,reported", EDGE_ORDER)
def test_edge_checks_properties_term_start_end_in_order(term, start, end, properties, reported):
    with pytest.raises(TypeError) as caught:
        Edge(term, start, end, properties)
    message = str(caught.value)
    # The binder names the offending parameter; only the first failure is reported.
    assert f"'{reported}'" in message
    for later in ("properties", "term", "start", "end"):
        if later != reported:
            assert f"'{later}'" not in message


@pytest.mark.parametrize("call", [
    lambda: Edge(T, N),
    lambda: Edge(T, N, N, {}, {}),
    lambda: Edge(T, N, N, weight=1),
    lambda: Edge(T, N, N, term=T),
], ids=["missing", "extra", "unknown keyword", "duplicate"])
def test_edge_argument_binding_errors(call):
    with pytest.raises(TypeError):
        call()


def test_edge_accepts_keywords_and_unrelated_types():
    # no consistency between the term's type and the end nodes is required
    e = Edge(end=Node(C), start=Node(Application(A, B)), term=Term("weird", Variable("Z")))
    assert e.term == Term("weird", Variable("Z"))
    assert e.start.type == Application(A, B)
    assert e.end.type == C
    assert e.properties == {}


def test_edge_copies_term_and_nodes():
    term = Term("f", Application(A, B))
    start_type = Variable("A")
    start = Node(start_type)
    e = Edge(term, start, Node(B))
    term.name = "renamed"
    start_type.name = "Z"
    assert e.term.name == "f"
    assert e.uid() == oracle.edge_uid("f", ("A", "B"))
    assert str(e) == "Edge(f: A -> B)"
    assert e.term is not e.term and e.term == e.term
    assert e.start is not e.start and e.end is not e.end


# --- properties -------------------------------------------------------------------------------

@pytest.mark.parametrize("make", [
    lambda props: Node(A, props),
    lambda props: Edge(T, N, N, props),
], ids=["node", "edge"])
def test_properties_dict_is_held_not_copied(make):
    given = {"k": 1}
    holder = make(given)
    assert holder.properties is given
    assert holder.properties is holder.properties
    given["later"] = 2
    assert holder.properties["later"] == 2
    holder.properties["from holder"] = 3
    assert given["from holder"] == 3


@pytest.mark.parametrize("make", [
    lambda props: Node(A, props),
    lambda props: Edge(T, N, N, props),
], ids=["node", "edge"])
def test_absent_properties_make_a_new_dict_each_time(make):
    first, second = make(None), make(None)
    assert type(first.properties) is dict and first.properties == {}
    assert first.properties is not second.properties


@pytest.mark.parametrize("make", [
    lambda props: Node(A, props),
    lambda props: Edge(T, N, N, props),
], ids=["node", "edge"])
@pytest.mark.parametrize("subclass", [DictSubclass, OrderedDict])
def test_properties_accept_dict_subclasses(make, subclass):
    given = subclass(a=1)
    assert make(given).properties is given


@pytest.mark.parametrize("holder", [Node(A), Edge(T, N, N)], ids=["node", "edge"])
def test_properties_setter(holder):
    replacement = DictSubclass(x=1)
    holder.properties = replacement
    assert holder.properties is replacement
    for bad in ([], None, "x", OrderedDict().items()):
        with pytest.raises(TypeError):
            holder.properties = bad
        assert holder.properties is replacement
    with pytest.raises(AttributeError) as caught:
        del holder.properties
    assert caught.value.args == ("can't delete attribute",)
    assert holder.properties is replacement


def test_edge_node_copies_share_the_properties_dict():
    p = Node(A, {"name": "start"})
    e = Edge(T, p, Node(B))
    first, second = e.start, e.start
    assert first is not second
    assert first.properties is second.properties is p.properties
    p.properties["seen"] = True
    assert e.start.properties["seen"] is True
    p.properties = {"replaced": True}
    assert "replaced" not in e.start.properties
    assert e.start.properties["seen"] is True


def test_node_read_from_edge_can_be_given_new_properties_without_affecting_the_edge():
    e = Edge(T, Node(A, {"k": 1}), Node(B))
    copy = e.start
    copy.properties = {}
    assert e.start.properties == {"k": 1}
    copy = e.start
    copy.properties["k"] = 2  # same dict: visible through the edge
    assert e.start.properties == {"k": 2}


def test_edge_properties_are_its_own():
    start = Node(A, {"side": "node"})
    e = Edge(T, start, start, {"side": "edge"})
    assert e.properties == {"side": "edge"}
    assert e.start.properties == e.end.properties == {"side": "node"}
    e.properties = {"new": 1}
    assert e.start.properties == {"side": "node"}


# --- uids ------------------------------------------------------------------------------------

NODE_TYPES = ["A", "", "Person", ("A", "B"), (("A", "B"), "C"), 'q"', "日本"]


@pytest.mark.parametrize("desc", NODE_TYPES, ids=repr)
def test_node_uid_matches_oracle(desc):
    n = Node(oracle.build(desc))
    assert n.uid() == oracle.node_uid(desc)
    assert n.uid() == oracle.sha("node:" + n.type.uid())


def test_node_uid_ignores_properties():
    assert Node(A).uid() == Node(Variable("A"), {"k": 1}).uid()
    assert Node(A).uid() != Node(B).uid()
    assert Node(A).uid() != A.uid()


# (term name, term type, start, end)
EDGE_UIDS = [
    ("f", ("A", "B"), "A", "B"),
    ("f", "Z", "A", "B"),
    ("", "", "", ""),
    ("a:b", ("c", "d"), ("A", "B"), "C"),
]


@pytest.mark.parametrize("name,term_type,start,end", EDGE_UIDS)
def test_edge_uid_matches_oracle(name, term_type, start, end):
    e = Edge(Term(name, oracle.build(term_type)), Node(oracle.build(start)), Node(oracle.build(end)))
    assert e.uid() == oracle.edge_uid(name, term_type)
    assert e.uid() == oracle.sha("edge:" + e.term.uid())


def test_edge_uid_depends_on_the_term_alone():
    term = Term("f", Application(A, B))
    forward = Edge(term, Node(A), Node(B), {"w": 1})
    backward = Edge(term, Node(B), Node(A))
    elsewhere = Edge(Term("f", Application(A, B)), Node(C), Node(C))
    assert forward.uid() == backward.uid() == elsewhere.uid()
    assert forward.uid() != Edge(Term("g", Application(A, B)), Node(A), Node(B)).uid()
    assert forward.uid() != Edge(Term("f", Application(B, A)), Node(A), Node(B)).uid()


def test_uid_is_stable_across_calls_and_renaming_of_sources():
    term = Term("f", A)
    e = Edge(term, Node(A), Node(A))
    first = e.uid()
    term.name = "g"
    assert e.uid() == first == e.uid()


# --- text forms ------------------------------------------------------------------------------

@pytest.mark.parametrize("type_,text", [
    (A, "Node(A)"),
    (Variable("Person"), "Node(Person)"),
    (Application(A, B), "Node((A -> B))"),
    (Application(Application(A, B), C), "Node(((A -> B) -> C))"),
    (Variable('q"\\'), 'Node(q"\\)'),
    (Variable(""), "Node()"),
])
def test_node_text(type_, text):
    n = Node(type_, {"ignored": 1})
    assert str(n) == text
    assert repr(n) == text


@pytest.mark.parametrize("name,term_type,start,end,text", [
    ("f", ("A", "B"), "A", "B", "Edge(f: A -> B)"),
    ("f", "Z", "A", "B", "Edge(f: A -> B)"),  # the term's own type is not shown
    ("g", ("A", "B"), ("A", "B"), "C", "Edge(g: (A -> B) -> C)"),
    ("(f x)", "B", "A", ("B", "C"), "Edge((f x): A -> (B -> C))"),
    ('"q"', "A", "", "", 'Edge("q":  -> )'),
])
def test_edge_text(name, term_type, start, end, text):
    e = Edge(Term(name, oracle.build(term_type)), Node(oracle.build(start)), Node(oracle.build(end)),
             {"ignored": 1})
    assert str(e) == text
    assert repr(e) == text


# --- identity semantics ---------------------------------------------------------------------------

@pytest.mark.parametrize("make", [lambda: Node(A), lambda: Edge(T, N, N), lambda: Graph()],
                         ids=["node", "edge", "graph"])
def test_equality_and_hash_are_by_identity(make):
    x, y = make(), make()
    assert x == x and not x != x
    assert x != y and not x == y
    assert hash(x) == object.__hash__(x)
    assert len({x, x, y}) == 2
    with pytest.raises(TypeError):
        x < y


def test_equal_uids_do_not_make_equal_nodes():
    assert Node(A).uid() == Node(Variable("A")).uid()
    assert Node(A) != Node(Variable("A"))
    e = Edge(T, N, N)
    assert e.start != e.start


# --- Graph ---------------------------------------------------------------------------------------

def test_new_graph_is_empty():
    g = Graph()
    assert str(g) == repr(g) == "Graph(0 nodes, 0 edges)"
    assert g.nodes == {} and g.edges == {}
    assert type(g.nodes) is dict and type(g.edges) is dict


@pytest.mark.parametrize("call", [lambda: Graph(1), lambda: Graph(nodes={}), lambda: Graph(None)],
                         ids=["positional", "keyword", "None"])
def test_graph_takes_no_arguments(call):
    with pytest.raises(TypeError):
        call()


def test_graph_dicts_are_the_same_objects_and_count_in_text():
    g = Graph()
    assert g.nodes is g.nodes and g.edges is g.edges
    assert g.nodes is not g.edges
    node = Node(Variable("Person"))
    g.nodes[node.uid()] = node
    assert str(g) == "Graph(1 nodes, 0 edges)"
    e = edge()
    g.edges[e.uid()] = e
    g.edges["another"] = e
    assert repr(g) == "Graph(1 nodes, 2 edges)"
    assert g.nodes[node.uid()] is node
    del g.nodes[node.uid()]
    assert str(g) == "Graph(0 nodes, 2 edges)"


def test_graph_dicts_hold_anything_python_puts_there():
    g = Graph()
    g.nodes[1] = "not a node"
    g.nodes[(2, 3)] = None
    assert str(g) == "Graph(2 nodes, 0 edges)"


def test_storing_under_the_same_uid_replaces():
    g = Graph()
    first, second = Node(A, {"n": 1}), Node(Variable("A"), {"n": 2})
    g.nodes[first.uid()] = first
    g.nodes[second.uid()] = second
    assert str(g) == "Graph(1 nodes, 0 edges)"
    assert g.nodes[first.uid()] is second


def test_graphs_do_not_share_dicts():
    g, h = Graph(), Graph()
    g.nodes["k"] = Node(A)
    assert h.nodes == {} and g.nodes is not h.nodes and g.edges is not h.edges


def test_graph_dicts_survive_the_graph():
    g = Graph()
    nodes = g.nodes
    nodes["k"] = Node(A)
    del g
    assert str(nodes["k"]) == "Node(A)"


@pytest.mark.parametrize("attribute", ["nodes", "edges"])
def test_graph_dict_attributes_are_read_only(attribute):
    g = Graph()
    original = getattr(g, attribute)
    with pytest.raises(AttributeError):
        setattr(g, attribute, {})
    with pytest.raises(AttributeError):
        delattr(g, attribute)
    assert getattr(g, attribute) is original
