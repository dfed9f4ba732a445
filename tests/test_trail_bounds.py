"""Long patterns whose hops go both ways are cut short where no trail is long
enough to finish (in a forest, a node's farthest distance bounds every trail
from it). Against an enumeration written here, on random trees, with cycles,
self-loops and parallel edges added to some: the rows and their order must be
those of a plain depth-first walk that never drops a branch.
"""
from __future__ import annotations

import random

import pytest

from small_graphs import add_edge, graph_with, hop_ways, labels

ARROWS = {"forward": "-[{}]->", "backward": "<-[{}]-", "any": "-[{}]-"}


def random_forest(seed: int, extra: str):
    rng = random.Random(seed)
    names = [f"N{i}" for i in range(rng.randint(2, 8))]
    graph, nodes = graph_with(*names)
    k = 0
    for i in range(1, len(names)):
        if rng.random() < 0.15:
            continue  # a second tree begins
        a, b = names[i], names[rng.randrange(i)]
        if rng.random() < 0.5:
            a, b = b, a
        add_edge(graph, f"e{k}", nodes[a], nodes[b])
        k += 1
    if extra == "self-loop":
        n = rng.choice(names)
        add_edge(graph, f"e{k}", nodes[n], nodes[n])
    elif extra == "parallel" and graph.edges:
        e = rng.choice(list(graph.edges.values()))
        add_edge(graph, f"e{k}", e.end, e.start)
    elif extra == "cycle":
        a, b = rng.sample(names, 2)
        add_edge(graph, f"e{k}", nodes[a], nodes[b])
    return graph


def expected_rows(graph, directions):
    """Every trail that fits, in the search's order: first hop in dict order
    (forward before backward when undirected), each next hop in dict order."""
    edges = list(graph.edges.values())
    rows = []

    def extend(row, used, at):
        hop = len(used)
        if hop == len(directions):
            rows.append(dict(row))
            return
        for e in edges:
            if e in used:
                continue
            for frm, to in hop_ways(e, directions[hop]):
                if frm == at:
                    row[f"n{hop + 1}"] = to
                    extend(row, used + [e], to)

    for e in edges:
        for frm, to in hop_ways(e, directions[0]):
            extend({"n0": frm, "n1": to}, [e], to)
    return rows


@pytest.mark.parametrize("extra", ["none", "self-loop", "parallel", "cycle"])
@pytest.mark.parametrize("seed", range(12))
def test_long_mixed_patterns_find_every_trail(seed, extra):
    graph = random_forest(seed, extra)
    rng = random.Random(1000 + seed)
    for hops in (2, 3, 5):
        directions = [rng.choice(["any", "any", "forward", "backward"]) for _ in range(hops)]
        text = "(n0)" + "".join(ARROWS[d].format("") + f"(n{i + 1})" for i, d in enumerate(directions))
        names = [f"n{i}" for i in range(hops + 1)]
        expected = expected_rows(graph, directions)
        assert labels(graph.query().match(text).return_(*names)) == expected, text
        assert graph.query().match(text).return_count() == len(expected), text


@pytest.mark.parametrize("hops", [1, 2, 39, 40, 41])
def test_an_undirected_chain_is_walked_from_its_ends_only(hops):
    # A chain of 40 edges: an undirected pattern of up to 40 hops fits from
    # either end (and, when shorter, from inner nodes); 41 hops fit nowhere.
    names = [f"P{i}" for i in range(41)]
    graph, nodes = graph_with(*names)
    for i in range(40):
        add_edge(graph, f"h{i}", nodes[names[i]], nodes[names[i + 1]])
    text = "(n0)" + "".join(f"-[]-(n{i + 1})" for i in range(hops))
    expected = 2 * (41 - hops) if hops <= 40 else 0
    assert graph.query().match(text).return_count() == expected
    rows = graph.query().match(text).return_("n0", f"n{hops}")
    assert len(rows) == expected
    if hops == 40:
        assert labels(rows) == [{"n0": "P0", "n40": "P40"}, {"n0": "P40", "n40": "P0"}]


def test_bounds_are_made_anew_when_the_edges_change():
    # Warm on a path (no trail of 3 hops), then close it into a triangle: the
    # kept bounds of the path must not cut the trails round the triangle.
    graph, nodes = graph_with("A", "B", "C")
    add_edge(graph, "f", nodes["A"], nodes["B"])
    add_edge(graph, "g", nodes["B"], nodes["C"])
    q = graph.query().match("(x)-[]-(y)-[]-(z)-[]-(w)")
    assert q.return_count() == 0
    add_edge(graph, "h", nodes["C"], nodes["A"])
    assert q.return_count() == 6
