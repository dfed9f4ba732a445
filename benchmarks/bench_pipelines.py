"""Pipelines: `with_` that groups or projects, against the same in `return_`; top-N against heapq.

    python benchmarks/bench_pipelines.py                  # 100,000 nodes
    python benchmarks/bench_pipelines.py --nodes 10000 --repeat 9 --clock cpu

Every node has a `name`, an `age` and a `company` (one of 50 texts).

with_ against return_: the grouped count `with_("p.company AS c", "count(*) AS n").return_("c", "n")`
against `return_("p.company AS c", "count(*) AS n")`, and the projection
`with_("p", "p.age AS a").return_("p.name", "a")` against `return_("p.name", "p.age AS a")`.
A `with_` binds its rows and the `return_` after it reads them, so the ratio is
what the extra step costs.

Top-5 by age: `order_by("p", "age", False).limit(5)` and the same after
`with_("p", "p.age AS a")` ordered by the alias itself, against
`heapq.nlargest(5, nodes.values(), key=...)`, `heapq.nlargest` over a prebuilt
list of (age, name) pairs, the full sort (no limit) and the floor
`list(d.values())`. Results are checked to agree first. Nothing here asserts a
time: the script prints ratios.
"""
from __future__ import annotations

import heapq
import os
import random
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import size_and_clock, format_time, side_by_side  # noqa: E402
from velarto import Graph, Node, Variable  # noqa: E402

COMPANIES = [f"company {i}" for i in range(50)]


def build_graph(count: int, seed: int = 11) -> Graph:
    rng = random.Random(seed)
    graph = Graph()
    for i in range(count):
        node = Node(Variable(f"P{i}"), {"name": f"P{i}", "age": rng.randrange(18, 90),
                                        "company": rng.choice(COMPANIES)})
        graph.nodes[node.uid()] = node
    return graph


def workloads(graph: Graph) -> dict:
    nodes = graph.nodes
    pairs = [(n.properties["age"], n.properties["name"]) for n in nodes.values()]
    match = lambda: graph.query().match(node="p")  # noqa: E731
    return {
        "floor: list(d.values())": lambda: list(nodes.values()),
        "match only": lambda: match().return_count(),
        "grouped count in return_": lambda: match().return_("p.company AS c", "count(*) AS n"),
        "grouped count in with_": lambda: match().with_("p.company AS c", "count(*) AS n").return_("c", "n"),
        "projection in return_": lambda: match().return_("p.name", "p.age AS a"),
        "projection in with_": lambda: match().with_("p", "p.age AS a").return_("p.name", "a"),
        "top-5 by property": lambda: match().order_by("p", "age", False).limit(5).return_("p.name", "p.age"),
        "top-5 by alias": lambda: match().with_("p", "p.age AS a").order_by("a", "", False).limit(5)
        .return_("p.name", "a"),
        "full sort by property": lambda: match().order_by("p", "age", False).return_count(),
        "heapq.nlargest over nodes": lambda: heapq.nlargest(5, nodes.values(), key=lambda n: n.properties["age"]),
        "heapq.nlargest over pairs": lambda: heapq.nlargest(5, pairs, key=lambda pair: pair[0]),
    }


def check(graph: Graph, fns: dict) -> None:
    assert fns["grouped count in with_"]() == fns["grouped count in return_"]()
    assert fns["projection in with_"]() == fns["projection in return_"]()
    ages = [n.properties["age"] for n in fns["heapq.nlargest over nodes"]()]
    by_property = fns["top-5 by property"]()
    assert [row["p.age"] for row in by_property] == ages
    assert [row["a"] for row in fns["top-5 by alias"]()] == ages
    # among equal ages the earlier node first, as the full sort has it
    full = graph.query().match(node="p").order_by("p", "age", False).return_("p.name", "p.age")
    assert by_property == full[:5]


def run(nodes: int, repeat: int = 7, clock=time.perf_counter, target: float = 0.02) -> dict:
    """{workload: median seconds}, measured side by side after the results are checked to agree."""
    graph = build_graph(nodes)
    fns = workloads(graph)
    check(graph, fns)
    samples = side_by_side(fns, repeat=repeat, target=target, clock=clock)
    return {name: statistics.median(times) for name, times in samples.items()}


# workload -> (what it is compared with, the target ratio this / that)
COMPARISONS = {
    "grouped count in with_": ("grouped count in return_", 1.0),
    "projection in with_": ("projection in return_", 1.0),
    "top-5 by property": ("heapq.nlargest over nodes", 1.2),
    "top-5 by alias": ("heapq.nlargest over nodes", 1.2),
}


def main() -> None:
    nodes, repeat, clock_name, clock = size_and_clock(__doc__)
    medians = run(nodes, repeat, clock)
    print(f"\n### Pipelines over {nodes:,} nodes ({clock_name} clock, median of {repeat} rounds)\n")
    print("| workload | time | this / compared | target |")
    print("|---|---:|---:|---:|")
    for name, seconds in medians.items():
        if name in COMPARISONS:
            other, target = COMPARISONS[name]
            print(f"| {name} | {format_time(seconds)} | {seconds / medians[other]:.2f}x {other} | <= {target}x |")
        else:
            print(f"| {name} | {format_time(seconds)} | | |")


if __name__ == "__main__":
    main()
