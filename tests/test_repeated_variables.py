"""A variable written at several places of a path.

A node variable binds one node (by uid) at all its places, so
`(a)-[r]->(b)-[s]->(a)` is the cycles through `a`; an edge variable written
twice matches nothing. (The two-node match of one fixed edge keeps its own
rule, the later place wins: see test_paths.py.)

Worked by hand on one small graph with cycles and a self-loop; then against
an enumeration of trails written here, on random graphs: the rows (listed by
the search, or as a table of steps), the count (counted from degrees for two
fixed hops), and exists() with free repeated variables.
"""
from __future__ import annotations

import random

import pytest

from small_graphs import add_edge, graph_with, label, random_graph
from velarto import Edge, Node


def plain(value):
    if isinstance(value, (Node, Edge)):
        return label(value)
    return tuple(label(edge) for edge in value)  # an edge list


def rows_of(query, *names):
    return [tuple(plain(row[name]) for name in names) for row in query.return_(*names)]


# H: A -f-> B, B -g-> A, B -h-> C, C -k-> A, B -l-> B (a self-loop), in that dict order.
@pytest.fixture(scope="module")
def h():
    graph, n = graph_with("A", "B", "C")
    add_edge(graph, "f", n["A"], n["B"])
    add_edge(graph, "g", n["B"], n["A"])
    add_edge(graph, "h", n["B"], n["C"])
    add_edge(graph, "k", n["C"], n["A"])
    add_edge(graph, "l", n["B"], n["B"])
    return graph


@pytest.mark.parametrize("pattern, names, expected", [
    # two-cycles through x; the self-loop cannot come back (l twice)
    ("(x)-[r]->(y)-[s]->(x)", "xrys", [("A", "f", "B", "g"), ("B", "g", "A", "f")]),
    ("(x)<-[r]-(y)<-[s]-(x)", "xrys", [("B", "f", "A", "g"), ("A", "g", "B", "f")]),
    ("(x)-[r]->(x)-[s]->(y)", "xrsy", [("B", "l", "g", "A"), ("B", "l", "h", "C")]),
    ("(x)-[r]->(y)-[s]->(y)", "xrys", [("A", "f", "B", "l")]),
    ("(x)-[r]->(x)-[s]->(x)", "xrs", []),  # one self-loop, and it cannot be taken twice
    ("(x)-[r]->(y)-[s]->(z)-[t]->(x)", "xrst", [
        ("A", "f", "h", "k"), ("A", "f", "l", "g"), ("B", "g", "f", "l"),
        ("B", "h", "k", "f"), ("C", "k", "f", "h"), ("B", "l", "g", "f")]),
    ("(x)-[r*1..3]->(x)", "xr", [
        ("A", ("f", "g")), ("A", ("f", "h", "k")), ("A", ("f", "l", "g")), ("B", ("g", "f")),
        ("B", ("g", "f", "l")), ("B", ("h", "k", "f")), ("C", ("k", "f", "h")), ("B", ("l",)),
        ("B", ("l", "g", "f"))]),
    ("(x:C)-[r*0..2]-(x)", "xr", [("C", ())]),  # C's edges h and k meet only at A and B
    ("(x)-[r]->(y)-[r]->(z)", "xyz", []),
    ("(x)-[r*0..1]->(y)-[r*0..1]->(z)", "xyz", []),
    ("(x)-[r]->(y)<-[r*]-(z)", "xyz", []),
])
def test_a_variable_at_several_places(h, pattern, names, expected):
    query = h.query().match(pattern)
    assert rows_of(query, *names) == expected
    assert query.return_count() == len(expected)


@pytest.mark.parametrize("condition, kept", [
    ("exists((n)-[]->(y)-[]->(y))", "A"),       # into a node, then its self-loop
    ("exists((x)-[]->(n)-[]->(x))", "AB"),      # n in the middle of a two-cycle
    ("exists((n)-[]->(n))", "B"),
    ("exists((n)-[r]->()-[r]->())", ""),        # r free and written twice
    ("exists((x)-[]->(x)-[]->(n))", "AC"),      # after B's self-loop: g to A, h to C
])
def test_exists_joins_free_variables(h, condition, kept):
    rows = h.query().match(node="n").where(condition).return_("n")
    assert "".join(label(row["n"]) for row in rows) == kept


def test_a_bound_edge_variable_written_twice_is_fixed_at_both_places(h):
    # r bound to the empty chain of x: both places take no edge, which uses none twice
    query = h.query().match("(x:A)-[r*0]->(y)").where("exists((x)-[r*0..1]->()-[r*0..1]->(x))")
    assert rows_of(query, "x", "r") == [("A", ())]


# --- against an enumeration of trails ---------------------------------------------------------------

ARROWS = {"->": "-[{}]->", "<-": "<-[{}]-", "-": "-[{}]-"}
RANGES = {"": None, "*0..2": (0, 2), "*1..2": (1, 2), "*2": (2, 2), "*2..1": (2, 1)}


def random_pattern(rng, fixed_hops: bool):
    """Node places named from a few letters (so names repeat), edges named
    apart but for an occasional repeat. Never the two-node one-edge shape."""
    hops = rng.choice([2, 2, 3]) if fixed_hops else rng.randint(1, 3)
    places = [rng.choice(["a", "b", "c", None]) for _ in range(hops + 1)]
    segments = []
    for i in range(hops):
        written = "" if fixed_hops else rng.choice(list(RANGES))
        if hops == 1 and written == "":
            written = "*1..2"
        name = f"r{i}" if rng.random() < 0.9 else "r0"
        segments.append((rng.choice(list(ARROWS)), written, name))
    text = f"({places[0] or ''})" + "".join(
        ARROWS[arrow].format(name + written) + f"({place or ''})"
        for (arrow, written, name), place in zip(segments, places[1:]))
    return text, places, segments


def trails(graph, places, segments):
    """Every match of the pattern, as a dict of each name's value, by brute force:
    all trails (no edge twice) taking each segment's hops in its direction; a
    node name's places must hold one node; an edge name written twice, nothing."""
    edge_names = [name for _, _, name in segments]
    if len(set(edge_names)) < len(edge_names):
        return []
    edges = [(e.term.name, label(e.start), label(e.end)) for e in graph.edges.values()]
    nodes = [label(n) for n in graph.nodes.values()]
    found = []

    def ways(start, end, arrow):
        if arrow == "->":
            return [(start, end)]
        if arrow == "<-":
            return [(end, start)]
        return [(start, end)] if start == end else [(start, end), (end, start)]

    def walk(segment, hops, at, path, ends):
        arrow, written, _ = segments[segment]
        least, most = RANGES[written] or (1, 1)
        if least <= hops:
            if segment + 1 == len(segments):
                found.append((path, ends + [at]))
            else:
                walk(segment + 1, 0, at, path + [[]], ends + [at])
        if hops >= most:
            return
        used = {name for hop in path for name in hop}
        for name, start, end in edges:
            if name in used:
                continue
            for frm, to in ways(start, end, arrow):
                if frm == at:
                    walk(segment, hops + 1, to, path[:-1] + [path[-1] + [name]], ends)

    for start in nodes:
        walk(0, 0, start, [[]], [start])
    rows = []
    for path, ends in found:
        binding = {}
        if any(binding.setdefault(place, node) != node for place, node in zip(places, ends) if place):
            continue
        for (_, written, name), hop in zip(segments, path):
            binding[name] = tuple(hop) if written else hop[0]
        rows.append(binding)
    return rows


@pytest.mark.parametrize("fixed_hops", [True, False], ids=["fixed hops", "ranges"])
def test_rows_and_counts_match_the_enumeration(fixed_hops):
    rng = random.Random(f"repeated {fixed_hops}")
    for case in range(300):
        graph = random_graph(rng, nodes=(1, 4), edges=(0, 7))
        text, places, segments = random_pattern(rng, fixed_hops)
        names = sorted({p for p in places if p} | {name for _, _, name in segments})
        expected = sorted(tuple(row[name] for name in names) for row in trails(graph, places, segments))
        query = graph.query().match(text)
        assert sorted(rows_of(query, *names)) == expected, (case, text, list(graph.edges.values()))
        assert graph.query().match(text).return_count() == len(expected), (case, text)


def test_exists_matches_the_enumeration():
    rng = random.Random("repeated exists")
    for case in range(200):
        graph = random_graph(rng, nodes=(1, 4), edges=(0, 7))
        text, places, segments = random_pattern(rng, rng.random() < 0.5)
        # the row's node fixes the places named "a" (renamed n); the other names are free
        matches = trails(graph, places, segments)
        if "a" in places:
            expected = [label(node) for node in graph.nodes.values() if any(m["a"] == label(node) for m in matches)]
        else:
            expected = [label(node) for node in graph.nodes.values()] if matches else []
        condition = f"exists({text.replace('(a)', '(n)')})"
        rows = graph.query().match(node="n").where(condition).return_("n")
        assert [label(row["n"]) for row in rows] == expected, (case, condition, list(graph.edges.values()))
