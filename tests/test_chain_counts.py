"""One- and two-hop chains are counted by degrees and listed only when read.

Against an enumeration written here: random small graphs with self-loops,
parallel edges and cycles, every pair of directions, with and without node
and edge tests. The count must equal the number of chains listed, and the
rows must come in the search's order (first hop in dict order, forward before
backward when undirected; then the second hop's edges in dict order).
"""
from __future__ import annotations

import random

import pytest

from small_graphs import add_edge, graph_with, hop_ways, labels
from velarto import Variable

ARROWS = {"forward": ("-[{}]->", ), "backward": ("<-[{}]-", ), "any": ("-[{}]-", )}
DIRECTIONS = list(ARROWS)


def random_graph(seed: int):
    rng = random.Random(seed)
    names = [f"N{i}" for i in range(rng.randint(1, 5))]
    graph, nodes = graph_with(*names)
    for k in range(rng.randint(0, 9)):
        start, end = rng.choice(names), rng.choice(names)  # self-loops and parallel edges happen
        add_edge(graph, f"e{k}", nodes[start], nodes[end], Variable(rng.choice(["T0", "T1"])))
    return graph


def expected_rows(graph, d1, d2, node_ok, edge_ok):
    edges = list(graph.edges.values())
    rows = []
    for r in edges:
        if not edge_ok[0](r):
            continue
        for a, b in hop_ways(r, d1):
            if not (node_ok[0](a) and node_ok[1](b)):
                continue
            for s in edges:
                if s is r or not edge_ok[1](s):
                    continue
                for frm, c in hop_ways(s, d2):
                    if frm == b and node_ok[2](c):
                        rows.append({"a": a, "r": r.term.name, "b": b, "s": s.term.name, "c": c})
    return rows


def anything(_):
    return True


# (node labels, edge labels) written into the pattern, and the same tests in Python.
TESTS = [
    (("", "", ""), ("", ""), (anything,) * 3, (anything,) * 2),
    ((":N1", "", ""), ("", ""), (lambda n: n == "N1", anything, anything), (anything,) * 2),
    (("", ":N0", ":N0"), ("", ""), (anything, lambda n: n == "N0", lambda n: n == "N0"), (anything,) * 2),
    (("", "", ""), (":T0", ":T1"), (anything,) * 3,
     (lambda e: str(e.term.type) == "T0", lambda e: str(e.term.type) == "T1")),
    (("", ":N2", ""), ("", ":T0"), (anything, lambda n: n == "N2", anything),
     (anything, lambda e: str(e.term.type) == "T0")),
]


def pattern(d1, d2, node_labels, edge_labels):
    hop = lambda d, var, lab: ARROWS[d][0].format(var + lab)  # noqa: E731
    a, b, c = (f"({v}{lab})" for v, lab in zip("abc", node_labels))
    return a + hop(d1, "r", edge_labels[0]) + b + hop(d2, "s", edge_labels[1]) + c


@pytest.mark.parametrize("d1", DIRECTIONS)
@pytest.mark.parametrize("d2", DIRECTIONS)
@pytest.mark.parametrize("test", range(len(TESTS)))
def test_two_hop_counts_and_rows_agree_with_an_enumeration(d1, d2, test):
    node_labels, edge_labels, node_ok, edge_ok = TESTS[test]
    text = pattern(d1, d2, node_labels, edge_labels)
    for seed in range(25):
        graph = random_graph(seed)
        expected = expected_rows(graph, d1, d2, node_ok, edge_ok)
        query = graph.query().match(text)
        assert query.return_count() == len(expected), (text, seed)
        assert labels(query.return_("a", "r", "b", "s", "c")) == expected, (text, seed)
        # Listed after a count, on the same query, and cut by skip and limit.
        assert query.return_count() == len(expected)
        assert graph.query().match(text).limit(2).return_count() == min(2, len(expected))
        assert labels(graph.query().match(text).skip(1).limit(2).return_("a", "r", "b", "s", "c")) == \
            expected[1:3]


@pytest.mark.parametrize("direction", DIRECTIONS)
@pytest.mark.parametrize("labels_and_tests", [("", "", "", anything, anything, anything),
                                              (":N1", ":T0", "", lambda n: n == "N1",
                                               lambda e: str(e.term.type) == "T0", anything),
                                              ("", "", ":N0", anything, anything, lambda n: n == "N0")])
def test_one_hop_counts_and_rows_agree_with_an_enumeration(direction, labels_and_tests):
    a_label, r_label, b_label, a_ok, r_ok, b_ok = labels_and_tests
    text = f"(a{a_label})" + ARROWS[direction][0].format("r" + r_label) + f"(b{b_label})"
    for seed in range(25):
        graph = random_graph(seed)
        expected = [{"a": a, "r": r.term.name, "b": b} for r in graph.edges.values() if r_ok(r)
                    for a, b in hop_ways(r, direction) if a_ok(a) and b_ok(b)]
        query = graph.query().match(text)
        assert query.return_count() == len(expected), (text, seed)
        assert labels(query.return_("a", "r", "b")) == expected, (text, seed)
        assert labels(graph.query().match(text).skip(1).limit(2).return_("a", "r", "b")) == expected[1:3]


@pytest.mark.parametrize("text, names", [
    ("(a)-[r]->(b)-[s]->(c)", ["f", "g"]),        # counted, listed when read
    ("(a)-[r]->(b)", ["f", "g"]),                 # listed at once, values copied when read
    ("(a)-[r]->(b)-[s]->(c)-[t]->(d)", []),       # the same, no row
    ("(a)-[r]->(b)<-[s]-(c)", []),
])
def test_rows_keep_the_values_of_the_time_of_the_match(text, names):
    graph, nodes = graph_with("A", "B", "C")
    first = add_edge(graph, "f", nodes["A"], nodes["B"], None, w=1)
    add_edge(graph, "g", nodes["B"], nodes["C"])
    nodes["C"].properties["k"] = 0

    class Meddler:
        # Runs between the match and the first read of its rows.
        def __eq__(self, other):
            first.properties = {"w": 2}
            add_edge(graph, "h", nodes["B"], nodes["A"])
            return True

        __hash__ = None

    rows = graph.query().match(text).match(node="x", properties={"k": Meddler()}).return_("r")
    assert [row["r"].term.name for row in rows][:1] == names[:1]
    if names:
        assert rows[0]["r"].properties == {"w": 1}
