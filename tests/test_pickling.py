"""Pickling and copying: values and uids survive, shared properties dicts
stay shared, graphs keep their edges attached to their nodes, types of any
depth pickle flat, queries refuse, and a worker process can query a graph it
was sent."""
from __future__ import annotations

import copy
import multiprocessing
import pickle

import pytest

from _velarto_pickle import reconstruct
from velarto import (Application, Edge, EdgePattern, Graph, Node, NodePattern, PathPattern, Query, Term,
                     TypeSchema, Variable)

PROTOCOLS = [0, 2, pickle.HIGHEST_PROTOCOL]
A, B, C = Variable("A"), Variable("B"), Variable("C")
AB = Application(A, B)
F = Term("f", Application(AB, Application(B, C)))


def round_trip(value, protocol=pickle.HIGHEST_PROTOCOL):
    return pickle.loads(pickle.dumps(value, protocol))


def people_graph():
    """Ann -knows-> Bea -lives_in-> Paris, with a dict shared by an edge and a node."""
    g = Graph()
    ann, bea = Node(Variable("Ann"), {"kind": "person", "age": 35}), Node(Variable("Bea"), {"kind": "person"})
    paris = Node(Variable("Paris"), {"kind": "city"})
    for n in (ann, bea, paris):
        g.nodes[n.uid()] = n
    knows = Edge(Term("knows", Application(Variable("Ann"), Variable("Bea"))), ann, bea, ann.properties)
    lives = Edge(Term("lives_in", Application(Variable("Bea"), Variable("Paris"))), bea, paris, {"since": 2019})
    for e in (knows, lives):
        g.edges[e.uid()] = e
    return g


# --- values and uids -----------------------------------------------------------------------------------

VALUES = {
    "Variable": lambda: A,
    "Application": lambda: Application(AB, Application(B, AB)),
    "Term": lambda: F,
    "Node": lambda: Node(AB, {"k": [1, 2]}),
    "Edge": lambda: Edge(F, Node(A), Node(AB, {"w": 1}), {"e": "x"}),
    "TypeSchema": lambda: TypeSchema(" $(x:*) -> B$ "),
}


def identity(value):
    """Everything a value shows: its class, text form, uid and properties."""
    shown = [type(value).__name__, repr(value), str(value)]
    if hasattr(value, "uid"):
        shown.append(value.uid())
    for name in ("properties", "name", "pattern", "type", "term", "start", "end", "left", "right"):
        if hasattr(value, name):
            part = getattr(value, name)
            shown.append((name, identity(part) if hasattr(part, "__reduce__") and
                          type(part).__module__ == "velarto" else part))
    return shown


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("name", list(VALUES))
def test_round_trip_keeps_value_and_uid(name, protocol):
    value = VALUES[name]()
    again = round_trip(value, protocol)
    assert type(again) is type(value) and again is not value
    assert identity(again) == identity(value)
    if name in ("Variable", "Application", "Term"):
        assert again == value and hash(again) == hash(value)


@pytest.mark.parametrize("name", list(VALUES))
def test_copy_shares_properties_and_deepcopy_copies_them(name):
    value = VALUES[name]()
    shallow, deep = copy.copy(value), copy.deepcopy(value)
    assert identity(shallow) == identity(deep) == identity(value)
    if hasattr(value, "properties"):
        assert shallow.properties is value.properties
        assert deep.properties is not value.properties


def test_a_renamed_variable_pickles_under_its_new_name():
    v = Variable("old")
    v.name = "new"
    assert round_trip(v).uid() == Variable("new").uid()


# --- sharing within one pickle --------------------------------------------------------------------------

def test_a_properties_dict_shared_by_several_elements_stays_shared():
    shared = {"k": 1}
    n, m = Node(A, shared), Node(B, shared)
    e = Edge(F, n, m, shared)
    n2, m2, e2 = round_trip([n, m, e])
    assert n2.properties is m2.properties is e2.properties is e2.start.properties
    assert n2.properties is not shared and n2.properties == shared


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_graph_edges_point_at_the_round_tripped_nodes(protocol):
    g = people_graph()
    g2 = round_trip(g, protocol)
    assert list(g2.nodes) == list(g.nodes) and list(g2.edges) == list(g.edges)
    for uid, e in g2.edges.items():
        assert e.uid() == uid
        assert e.start.properties is g2.nodes[e.start.uid()].properties
        assert e.end.properties is g2.nodes[e.end.uid()].properties
    knows = next(e for e in g2.edges.values() if e.term.name == "knows")
    assert knows.properties is knows.start.properties  # shared in the original too
    g2.nodes[knows.start.uid()].properties["age"] = 36  # one dict: seen through the edge
    assert knows.properties["age"] == 36
    assert g.nodes[knows.start.uid()].properties["age"] == 35  # the original is untouched


def test_queries_on_a_round_tripped_graph_give_the_same_rows():
    g = people_graph()
    g2 = round_trip(g)

    def rows(graph):
        found = graph.query().match("(a)-[r]->(b)").return_("a", "r", "b")
        return [{k: v.uid() for k, v in row.items()} for row in found]

    assert rows(g2) == rows(g) and len(rows(g)) == 2


def test_graph_copy_shares_the_dicts_and_deepcopy_is_independent():
    g = people_graph()
    shallow, deep = copy.copy(g), copy.deepcopy(g)
    assert shallow.nodes is g.nodes and shallow.edges is g.edges
    assert deep.nodes is not g.nodes and list(deep.nodes) == list(g.nodes)
    e = next(iter(deep.edges.values()))
    assert e.start.properties is deep.nodes[e.start.uid()].properties
    deep.nodes.clear()
    assert len(g.nodes) == 3


def test_a_graph_reachable_from_its_own_properties_round_trips():
    g = people_graph()
    first = next(iter(g.nodes.values()))
    first.properties["graph"] = g
    g2 = round_trip(g)
    inner = g2.nodes[first.uid()].properties.pop("graph")
    del first.properties["graph"]  # graphs are not collected in cycles: break them
    assert inner.nodes is g2.nodes and inner.edges is g2.edges


# --- types of any depth -----------------------------------------------------------------------------------

def test_a_million_deep_type_pickles_flat():
    t = A
    for i in range(1_000_000):
        t = Application(t, B) if i % 2 else Application(C, t)
    again = round_trip(Term("deep", t))
    assert again.type.uid() == t.uid()
    assert again.uid() == Term("deep", t).uid()


def test_shared_subtrees_are_stored_once():
    t = A
    for _ in range(64):  # 2**64 leaves when expanded
        t = Application(t, t)
    data = pickle.dumps(t)
    assert len(data) < 4096
    assert pickle.loads(data).uid() == t.uid()


@pytest.mark.parametrize("names, structure", [
    (["A"], (1).to_bytes(8, "little") * 2),          # an index past the nodes made so far
    (["A"], (0).to_bytes(8, "little") * 3),          # not a whole number of pairs
    ([], b""),                                       # nothing at all
    (["A", 5], b""),                                 # a name that is not str
    (("A",), b""),                                   # not a list
    (["A"], bytearray(16)),                          # not bytes
], ids=["index ahead", "ragged", "empty", "non-str name", "tuple", "bytearray"])
def test_malformed_type_data_is_refused(names, structure):
    with pytest.raises(ValueError, match="malformed type data"):
        reconstruct("type", names, structure)


@pytest.mark.parametrize("args, error", [
    (("graph", {}, []), ValueError),
    (("path", [NodePattern()], [NodePattern()]), ValueError),
    (("query", None, None), ValueError),
    (("type", ["A"]), TypeError),
    ((5, ["A"], b""), TypeError),
])
def test_malformed_reconstruction_is_refused(args, error):
    with pytest.raises(error):
        reconstruct(*args)


# --- patterns ---------------------------------------------------------------------------------------------

PATTERNS = {
    "NodePattern": lambda: NodePattern("n", AB, TypeSchema("$* -> B$"), {"k": 1, "l": [2]}),
    "NodePattern bare": lambda: NodePattern(),
    "EdgePattern": lambda: EdgePattern("e", F, "$* -> *$", {"w": 1.5}, "backward"),
    "EdgePattern bare": lambda: EdgePattern(direction="any"),
}


@pytest.mark.parametrize("name", list(PATTERNS))
def test_pattern_round_trip_keeps_every_part(name):
    # Patterns show little; their reduction lists every part they hold.
    pattern = PATTERNS[name]()
    again = round_trip(pattern)
    assert repr(again) == repr(pattern)
    assert _parts(again) == _parts(pattern)


def _parts(pattern):
    _, args = pattern.__reduce__()
    return [a.uid() if hasattr(a, "uid") else a for a in args]


def test_path_pattern_round_trip_keeps_its_patterns_in_order():
    path = PathPattern("(a:A)-[r:f]->(b)<-[s]-(c:$* -> B$)")
    path.add_node(PATTERNS["NodePattern"]())
    again = round_trip(path)
    assert repr(again) == repr(path)
    assert [_parts(p) for p in again.nodes] == [_parts(p) for p in path.nodes]
    assert [_parts(p) for p in again.edges] == [_parts(p) for p in path.edges]
    assert [e.direction for e in again.edges] == ["forward", "backward"]


# --- what does not pickle -----------------------------------------------------------------------------------

@pytest.mark.parametrize("action", [pickle.dumps, copy.copy, copy.deepcopy])
def test_a_query_refuses_to_pickle_or_copy(action):
    with pytest.raises(TypeError, match="cannot pickle 'Query' object"):
        action(Graph().query().match(node="n"))


def test_a_graph_holding_a_query_refuses_to_pickle():
    g = people_graph()
    holder = next(iter(g.nodes.values())).properties
    holder["q"] = Query(g)
    try:
        with pytest.raises(TypeError, match="Query"):
            pickle.dumps(g)
    finally:
        del holder["q"]  # queries are not collected in cycles: break it


# --- across processes ---------------------------------------------------------------------------------------

def _worker_counts_people_and_adds_a_city(graph):
    people = graph.query().match(node="p", properties={"kind": "person"}).return_("p")
    graph.query().create(node="c", type=Variable("Rome"), properties={"kind": "city"}).execute()
    return sorted(row["p"].properties.get("age", 0) for row in people), graph


def test_a_worker_process_queries_a_pickled_graph():
    g = people_graph()
    # fork: the child inherits the loaded module (also under a sanitizer); the graph
    # still travels to it and back through pickle.
    with multiprocessing.get_context("fork").Pool(1) as pool:
        ages, back = pool.apply(_worker_counts_people_and_adds_a_city, (g,))
    assert ages == [0, 35]
    assert len(back.nodes) == 4 and len(g.nodes) == 3
    assert back.query().match(node="c", properties={"kind": "city"}).return_count() == 2
