"""Matching chains of edges: directions, the edge form, longer chains with
mixed directions on small hand-worked graphs, no edge twice in one chain,
depth-first order, repeated names, nodes side by side, edge constraints."""
from __future__ import annotations

import pytest

from small_graphs import add_edge, add_node, column, graph_with, labels
from velarto import Application, Graph, Node, Term, Variable

A, B, C, D = (Variable(n) for n in "ABCD")


def rows_of(graph, pattern, *names):
    return labels(graph.query().match(pattern).return_(*names))


def lists_of(graph, names, **match):
    """Each variable's bound list, read through rows (one list per name)."""
    rows = graph.query().match(**match).return_(*names)
    return {name: column(rows, name) for name in names}


# G1: A -f-> B, C -g-> B, B -h-> B (a self-loop), in that dict order.
@pytest.fixture
def g1():
    g, n = graph_with("A", "B", "C")
    add_edge(g, "f", n["A"], n["B"], w=1)
    add_edge(g, "g", n["C"], n["B"], w=2)
    add_edge(g, "h", n["B"], n["B"])
    return g


@pytest.mark.parametrize("pattern, expected", [
    ("(x)-[e]->(y)", [("A", "f", "B"), ("C", "g", "B"), ("B", "h", "B")]),
    ("(x)-[e]>(y)", [("A", "f", "B"), ("C", "g", "B"), ("B", "h", "B")]),
    ("(x)<-[e]-(y)", [("B", "f", "A"), ("B", "g", "C"), ("B", "h", "B")]),
    ("(x)-[e]-(y)", [("A", "f", "B"), ("B", "f", "A"), ("C", "g", "B"), ("B", "g", "C"), ("B", "h", "B")]),
    ("(x)[e](y)", [("A", "f", "B"), ("B", "f", "A"), ("C", "g", "B"), ("B", "g", "C"), ("B", "h", "B")]),
    ("(x:A)-[e]-(y)", [("A", "f", "B")]),
    ("(x:B)-[e]-(y)", [("B", "f", "A"), ("B", "g", "C"), ("B", "h", "B")]),
    ("(x)-[e]-(y:B)", [("A", "f", "B"), ("C", "g", "B"), ("B", "h", "B")]),
    ("(x:B)<-[e]-(y:C)", [("B", "g", "C")]),
    ("(x:B)-[e]->(y)", [("B", "h", "B")]),
    ("(x)-[e:A -> B]-(y)", [("A", "f", "B")]),
    ("(x)-[e:$C -> *$]->(y)", [("C", "g", "B")]),
    ("(x)-[e:$* -> B$]-(y)", [("A", "f", "B"), ("C", "g", "B"), ("B", "h", "B")]),  # the arrow counts
    ("(x)-[e:B]->(y)", []),
    ("(x)-[e {w: 1}]->(y)", [("A", "f", "B")]),  # the map is read (it used to be dropped)
])
def test_one_hop(g1, pattern, expected):
    rows = rows_of(g1, pattern, "x", "e", "y")
    assert [(r["x"], r["e"], r["y"]) for r in rows] == expected


def test_one_hop_binds_aligned_lists(g1):
    q = g1.query().match("(x)<-[e]-(y)")
    assert q.return_count() == 3
    assert labels(q.return_("y")) == [{"y": "A"}, {"y": "C"}, {"y": "B"}]
    assert labels(q.return_("e", "x")) == [{"e": "f", "x": "B"}, {"e": "g", "x": "B"}, {"e": "h", "x": "B"}]


def test_edge_nodes_are_the_edges_own_copies():
    g = Graph()
    a, b = Node(A, {"mine": 1}), Node(B)
    add_edge(g, "f", a, b)                       # the node dict holds nothing
    rows = g.query().match("(x:A)-[e]->(y:B)").return_("x", "e", "y")
    assert labels(rows) == [{"x": "A", "e": "f", "y": "B"}]
    assert rows[0]["x"].properties is a.properties


def test_no_matches_bind_empty_lists(g1):
    q = g1.query().match(node="x").match("(x:C)<-[e]-(y)")
    assert q.return_count() == 0


# --- the edge form -----------------------------------------------------------------------------------

@pytest.mark.parametrize("kwargs, expected", [
    (dict(edge="e", start="s", end="t"), {"e": ["f", "g", "h"], "s": ["A", "C", "B"], "t": ["B", "B", "B"]}),
    (dict(edge="e"), {"e": ["f", "g", "h"], "s": [], "t": []}),
    (dict(edge="e", end="t"), {"e": ["f", "g", "h"], "s": [], "t": ["B", "B", "B"]}),
    (dict(edge="e", start=Node(A), end=B), {"e": ["f", "g", "h"], "s": [], "t": []}),
    (dict(edge="e", start="s", term_type_schema="$C -> *$"), {"e": ["g"], "s": ["C"], "t": []}),
    (dict(edge="e", start="s", term=Term("f", Application(A, B))), {"e": ["f"], "s": ["A"], "t": []}),
    (dict(edge="e", term=Term("f", Application(A, A))), {"e": [], "s": [], "t": []}),
    (dict(edge="e", term=Term("F", Application(A, B))), {"e": [], "s": [], "t": []}),
    (dict(edge="e", properties={"w": 2}), {"e": ["g"], "s": [], "t": []}),
    (dict(edge="e", properties={"w": 2.0}, term_type_schema="$*$"), {"e": ["g"], "s": [], "t": []}),
    (dict(edge="e", properties={"w": 1}, term_type_schema="$C -> B$"), {"e": [], "s": [], "t": []}),
    (dict(edge="e", properties={"absent": None}), {"e": [], "s": [], "t": []}),
    (dict(edge="e", start="s", end="s"), {"e": ["f", "g", "h"], "s": ["B", "B", "B"], "t": []}),
    (dict(edge="e", start="e", end="t"), {"e": ["f", "g", "h"], "s": [], "t": ["B", "B", "B"]}),
    (dict(edge="s", start="s", end="t"), {"e": [], "s": ["f", "g", "h"], "t": ["B", "B", "B"]}),
])
def test_edge_form(g1, kwargs, expected):
    assert lists_of(g1, ["e", "s", "t"], **kwargs) == expected


def test_edge_form_ignores_node_type_arguments(g1):
    assert lists_of(g1, ["e"], edge="e", type=C, type_schema="$C$") == {"e": ["f", "g", "h"]}


def test_edge_form_replaces_bindings(g1):
    q = g1.query().match(node="s").match(edge="e", start="s", properties={"w": 1})
    assert labels(q.return_("s", "e")) == [{"s": "A", "e": "f"}]


# --- longer chains -----------------------------------------------------------------------------------

# G2: A -e1-> B, B -e2-> C, B -e3-> D, D -e4-> C, in that dict order.
@pytest.fixture
def g2():
    g, n = graph_with("A", "B", "C", "D")
    add_edge(g, "e1", n["A"], n["B"])
    add_edge(g, "e2", n["B"], n["C"])
    add_edge(g, "e3", n["B"], n["D"])
    add_edge(g, "e4", n["D"], n["C"])
    return g


CHAINS_G2 = [
    ("(a)-[r]->(b)-[s]->(c)", [
        ("A", "e1", "B", "e2", "C"),
        ("A", "e1", "B", "e3", "D"),
        ("B", "e3", "D", "e4", "C"),
    ]),
    ("(a)-[r]->(b)<-[s]-(c)", [
        ("B", "e2", "C", "e4", "D"),
        ("D", "e4", "C", "e2", "B"),
    ]),
    ("(a)<-[r]-(b)-[s]->(c)", [
        ("C", "e2", "B", "e3", "D"),
        ("D", "e3", "B", "e2", "C"),
    ]),
    ("(a)<-[r]-(b)<-[s]-(c)", [
        ("C", "e2", "B", "e1", "A"),
        ("D", "e3", "B", "e1", "A"),
        ("C", "e4", "D", "e3", "B"),
    ]),
    ("(a)-[r]->(b)-[s]-(c)", [
        ("A", "e1", "B", "e2", "C"),
        ("A", "e1", "B", "e3", "D"),
        ("B", "e2", "C", "e4", "D"),
        ("B", "e3", "D", "e4", "C"),
        ("D", "e4", "C", "e2", "B"),
    ]),
    ("(a)-[r]-(b)-[s]-(c)", [
        ("A", "e1", "B", "e2", "C"),
        ("A", "e1", "B", "e3", "D"),
        ("B", "e2", "C", "e4", "D"),
        ("C", "e2", "B", "e1", "A"),
        ("C", "e2", "B", "e3", "D"),
        ("B", "e3", "D", "e4", "C"),
        ("D", "e3", "B", "e1", "A"),
        ("D", "e3", "B", "e2", "C"),
        ("D", "e4", "C", "e2", "B"),
        ("C", "e4", "D", "e3", "B"),
    ]),
    ("(a:A)-[r]->(b)-[s]->(c:C)", [("A", "e1", "B", "e2", "C")]),
    ("(a)-[r]->(b:D)-[s]->(c)", [("B", "e3", "D", "e4", "C")]),
    ("(a)-[r:A -> B]->(b)-[s:$B -> *$]->(c)", [("A", "e1", "B", "e2", "C"), ("A", "e1", "B", "e3", "D")]),
    ("(a)-[r]->(b)-[s]->(c:A)", []),
]


@pytest.mark.parametrize("pattern, expected", CHAINS_G2, ids=[c[0] for c in CHAINS_G2])
def test_two_hops(g2, pattern, expected):
    rows = rows_of(g2, pattern, "a", "r", "b", "s", "c")
    assert [(r["a"], r["r"], r["b"], r["s"], r["c"]) for r in rows] == expected


CHAINS3_G2 = [
    ("(a)-[r]->(b)-[s]->(c)<-[t]-(d)", [
        ("A", "e1", "B", "e2", "C", "e4", "D"),
        ("B", "e3", "D", "e4", "C", "e2", "B"),
    ]),
    ("(a)-[r]->(b)-[s]-(c)-[t]->(d)", [
        ("A", "e1", "B", "e3", "D", "e4", "C"),
        ("D", "e4", "C", "e2", "B", "e3", "D"),
    ]),
    ("(a)<-[r]-(b)-[s]->(c)-[t]->(d)", [
        ("C", "e2", "B", "e3", "D", "e4", "C"),
    ]),
    ("(a)-[r]->(b)-[s]->(c)-[t]->(d)", [("A", "e1", "B", "e3", "D", "e4", "C")]),
]


@pytest.mark.parametrize("pattern, expected", CHAINS3_G2, ids=[c[0] for c in CHAINS3_G2])
def test_three_hops(g2, pattern, expected):
    rows = rows_of(g2, pattern, "a", "r", "b", "s", "c", "t", "d")
    assert [tuple(r[k] for k in ("a", "r", "b", "s", "c", "t", "d")) for r in rows] == expected


def test_no_edge_twice_in_one_chain():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"])
    assert rows_of(g, "(a)-[r]-(b)-[s]-(c)", "a") == []
    assert rows_of(g, "(a)-[r]->(b)<-[s]-(c)", "a") == []
    h, m = graph_with("B")
    add_edge(h, "loop", m["B"], m["B"])
    assert rows_of(h, "(a)-[r]->(b)-[s]->(c)", "a") == []
    assert rows_of(h, "(a)-[r]-(b)", "a", "r", "b") == [{"a": "B", "r": "loop", "b": "B"}]


def test_cycle_of_two():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"])
    add_edge(g, "g", n["B"], n["A"])
    rows = rows_of(g, "(a)-[r]->(b)-[s]->(c)", "a", "r", "b", "s", "c")
    assert rows == [{"a": "A", "r": "f", "b": "B", "s": "g", "c": "A"},
                    {"a": "B", "r": "g", "b": "A", "s": "f", "c": "B"}]
    assert rows_of(g, "(a)-[r]->(b)-[s]->(c)-[t]->(d)", "a") == []


def test_self_loop_inside_a_chain():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"])
    add_edge(g, "loop", n["B"], n["B"])
    rows = rows_of(g, "(a)-[r]->(b)-[s]-(c)", "r", "s", "c")
    assert rows == [{"r": "f", "s": "loop", "c": "B"}, {"r": "loop", "s": "f", "c": "A"}]


def test_results_follow_the_edge_dict_order():
    g, n = graph_with("A", "B", "C", "D")
    add_edge(g, "e4", n["D"], n["C"])
    add_edge(g, "e3", n["B"], n["D"])
    add_edge(g, "e2", n["B"], n["C"])
    add_edge(g, "e1", n["A"], n["B"])
    rows = rows_of(g, "(a)-[r]->(b)-[s]->(c)", "r", "s")
    assert [(r["r"], r["s"]) for r in rows] == [("e3", "e4"), ("e1", "e3"), ("e1", "e2")]


def test_a_name_used_twice(g2):
    # the two-node match of one edge: the later place wins
    assert rows_of(g2, "(n)-[e]->(n)", "n", "e") == [
        {"n": "B", "e": "e1"}, {"n": "C", "e": "e2"}, {"n": "D", "e": "e3"}, {"n": "C", "e": "e4"}]
    assert rows_of(g2, "(a)-[a]->(b)", "a") == [{"a": "e1"}, {"a": "e2"}, {"a": "e3"}, {"a": "e4"}]
    assert rows_of(g2, "(a)-[b]->(b)", "a", "b") == [
        {"a": "A", "b": "B"}, {"a": "B", "b": "C"}, {"a": "B", "b": "D"}, {"a": "D", "b": "C"}]
    assert rows_of(g2, "(n)-[r*1]->(n)", "n") == []  # a range is no fixed edge: one node at both places
    # longer paths: one node at every place of a name (G2 has no cycle); one edge never twice
    assert rows_of(g2, "(x)-[r]->(y)-[s]->(x)", "x", "y") == []
    assert rows_of(g2, "(x)-[r]->(y)-[s]->(y)", "x", "y") == []
    assert rows_of(g2, "(y)-[s]->(z)<-[t]-(w)<-[u]-(y)", "y", "z", "w") == [{"y": "B", "z": "C", "w": "D"}]
    assert rows_of(g2, "(a)-[r]->(b)-[r]->(c)", "r") == []


# --- nodes side by side --------------------------------------------------------------------------------

@pytest.mark.parametrize("pattern, expected", [
    ("(a:A)(b)", [{"a": "A", "b": "A"}, {"b": "B"}, {"b": "C"}]),
    ("(a)(b:C)", [{"a": "A", "b": "C"}, {"a": "B"}, {"a": "C"}]),
    ("(a)(a:B)", [{"a": "B"}]),
    ("(a:B)(a)", [{"a": "A"}, {"a": "B"}, {"a": "C"}]),
    ("()(:A)", []),
    ("(a:Z)(b:B)(c:C)", [{"b": "B", "c": "C"}]),
])
def test_nodes_side_by_side(pattern, expected):
    g, _ = graph_with("A", "B", "C")
    assert rows_of(g, pattern, "a", "b", "c") == expected


def test_nodes_side_by_side_ignore_edges():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"])
    g.edges["foreign"] = "not an edge"
    assert rows_of(g, "(a:A)(b:B)", "a", "b") == [{"a": "A", "b": "B"}]


# --- bad input -------------------------------------------------------------------------------------------

@pytest.mark.parametrize("term", ["f", A, Application(A, B), Node(A), 1])
def test_term_that_is_not_a_term(term):
    q = Graph().query()
    with pytest.raises(TypeError):
        q.match(edge="e", term=term)
    with pytest.raises(TypeError):
        q.create(edge="e", start="a", end="b", term=term)
    with pytest.raises(TypeError):
        q.merge(edge="e", start="a", end="b", term=term)


def test_end_names_bound_to_edges(g1):
    t = Term("new", A)
    base = g1.query().match(edge="x").match(node="n", type=A)
    for q in (base.create(edge="y", start="x", end="x", term=t),
              base.create(edge="y", start="n", end="x", term=t),
              base.merge(edge="y", start="x", end="n", term=t),
              base.merge(edge="y", start="x", end="x")):
        assert q.return_("y") == []
    assert [e.term.name for e in g1.edges.values()] == ["f", "g", "h"]


def test_chain_over_an_empty_edge_dict():
    g, _ = graph_with("A", "B")
    q = g.query().match(node="a").match("(a)-[r]->(b)-[s]->(c)")
    assert q.return_count() == 0


def test_chains_through_a_hub():
    # 2000 edges into one hub and one out of it: every chain passes the hub.
    g = Graph()
    hub = add_node(g, "Hub")
    for i in range(2000):
        leaf = add_node(g, f"L{i}")
        add_edge(g, f"in{i}", leaf, hub)
    end = add_node(g, "End")
    add_edge(g, "out", hub, end)
    rows = rows_of(g, "(a)-[r]->(b)-[s]->(c:End)", "a", "s")
    assert len(rows) == 2000 and all(r["s"] == "out" for r in rows)


# --- a limit right after a match ends the search early, with the same rows -----------------------

def complete_graph(size):
    g, n = graph_with(*(f"N{i}" for i in range(size)))
    for i in range(size):
        for j in range(size):
            if i != j:
                add_edge(g, f"e{i}_{j}", n[f"N{i}"], n[f"N{j}"], w=i * size + j)
    return g


@pytest.mark.parametrize("cuts", [
    [("limit", 0)], [("limit", 1)], [("limit", 7)], [("limit", 10_000)],
    [("skip", 5), ("limit", 4)], [("limit", 9), ("skip", 3)], [("skip", 2), ("skip", 3), ("limit", 2)],
    [("limit", 6), ("limit", 2)], [("skip", 200)],
])
@pytest.mark.parametrize("pattern", ["(a)-[r]->(b)-[s]->(c)", "(a)-[r*1..2]-(b)", "(a)<-[r]-(b)"])
@pytest.mark.parametrize("before", [False, True], ids=["alone", "after a longer list"])
def test_limit_after_a_match_keeps_the_rows_of_the_full_run(pattern, cuts, before):
    g = complete_graph(5)

    def query():
        q = g.query()
        if before:  # a longer list already bound: rows past the chains stay rows
            q = q.match(node="x").match(node="y").match(node="z").match("(p)-[q1]->(o)-[q2]->(u)")
        return q.match(pattern)

    names = ["a", "r", "b"] + (["x", "p"] if before else [])
    full = labels_of(query().return_(*names))
    expected = full
    for how, count in cuts:
        expected = expected[count:] if how == "skip" else expected[:count]
    q = query()
    for how, count in cuts:
        q = getattr(q, how)(count)
    assert labels_of(q.return_(*names)) == expected
    assert q.return_count() == len(expected)


def labels_of(rows):
    return [{k: [e.term.name for e in v] if isinstance(v, list) else str(v) for k, v in row.items()} for row in rows]


class Recorded:
    """A property value equal to anything, whose `==` records its label in `seen`."""

    def __init__(self, label, seen):
        self.label, self.seen = label, seen

    def __eq__(self, other):
        self.seen.append(self.label)
        return True

    __hash__ = object.__hash__


def test_limit_does_not_cut_a_search_that_runs_python_code():
    # A property test runs `==` for every candidate of the full run: a limit
    # must not change what that code sees (nor which of its errors surface).
    g = complete_graph(4)
    seen = []
    for edge in g.edges.values():
        edge.properties["w"] = Recorded(edge.properties["w"], seen)
    g.query().match("(a)-[r {w: 1}]->(b)").return_count()
    full = list(seen)
    seen.clear()
    assert len(g.query().match("(a)-[r {w: 1}]->(b)").limit(2).return_("r")) == 2
    assert seen == full


def test_places_that_cannot_finish_are_still_tested_when_python_code_runs():
    # On the path N0 -> N1 -> N2 -> N3 the chain that starts with N2 -> N3 cannot
    # take its second hop; without Python code it is refused at once, but a
    # property test must still see N3 as it would in a plain depth-first walk.
    g, n = graph_with("N0", "N1", "N2", "N3")
    seen = []
    for name, node in n.items():
        node.properties["k"] = Recorded(name, seen)
    for i in range(3):
        add_edge(g, f"e{i}", n[f"N{i}"], n[f"N{i + 1}"])
    rows = g.query().match("(a)-[r]->(b {k: 1})-[s]->(c)").return_("a", "c")
    assert labels(rows) == [{"a": "N0", "c": "N2"}, {"a": "N1", "c": "N3"}]
    assert seen == ["N1", "N2", "N3"]
