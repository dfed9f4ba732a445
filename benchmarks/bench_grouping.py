"""A grouped count: `return_("p.industry", "count(*)")` against the same in plain Python and pandas.

    python benchmarks/bench_grouping.py                  # 100,000 nodes
    python benchmarks/bench_grouping.py --nodes 10000 --repeat 9 --clock cpu

Every node has an `industry` (one of 20 texts) and a `salary`. The query

    match(node="p").return_("p.industry", "count(*)")

is timed against `collections.Counter` over a comprehension that reads the
same property of every node of `g.nodes`, and against pandas
`groupby("industry").size()` on a DataFrame of the same rows (built before
timing; pandas is imported only if it is installed, as in the benchmark venv).
Beside them stand the floor (a bare `list(d.values())`) and the match alone,
so the table shows where the time goes, and the average per group
(`avg(p.salary)`) against its plain-Python equivalent. Figures are medians of
interleaved rounds; the results of every side are checked to agree. Nothing
here asserts a time: the script prints ratios.
"""
from __future__ import annotations

import collections
import os
import random
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import size_and_clock, format_time, side_by_side  # noqa: E402
from velarto import Graph, Node, Variable  # noqa: E402

try:
    import pandas
except Exception:  # noqa: BLE001 - pandas lives in the benchmark venv only
    pandas = None

INDUSTRIES = [f"industry {i}" for i in range(20)]


def build_graph(count: int, seed: int = 7) -> Graph:
    rng = random.Random(seed)
    graph = Graph()
    for i in range(count):
        node = Node(Variable(f"P{i}"), {"industry": rng.choice(INDUSTRIES), "salary": rng.randrange(30, 200)})
        graph.nodes[node.uid()] = node
    return graph


def workloads(graph: Graph) -> dict:
    nodes = graph.nodes
    fns = {
        "floor: list(d.values())": lambda: list(nodes.values()),
        "velarto match only": lambda: graph.query().match(node="p").return_count(),
        "velarto grouped count": lambda: graph.query().match(node="p").return_("p.industry", "count(*)"),
        "plain Python Counter": lambda: collections.Counter([n.properties["industry"] for n in nodes.values()]),
        "velarto average per group": lambda: graph.query().match(node="p").return_("p.industry",
                                                                                   "avg(p.salary)"),
        "plain Python average per group": lambda: python_average(nodes),
    }
    if pandas is not None:
        frame = pandas.DataFrame([n.properties for n in nodes.values()])
        fns["pandas groupby().size()"] = lambda: frame.groupby("industry", sort=False).size()
        fns["pandas groupby().mean()"] = lambda: frame.groupby("industry", sort=False)["salary"].mean()
    return fns


def python_average(nodes) -> dict:
    totals: dict = {}
    for n in nodes.values():
        p = n.properties
        entry = totals.get(p["industry"])
        if entry is None:
            totals[p["industry"]] = [p["salary"], 1]
        else:
            entry[0] += p["salary"]
            entry[1] += 1
    return {k: s / c for k, (s, c) in totals.items()}


def check(fns: dict) -> None:
    counted = {r["p.industry"]: r["count(*)"] for r in fns["velarto grouped count"]()}
    assert counted == dict(fns["plain Python Counter"]())
    averaged = {r["p.industry"]: r["avg(p.salary)"] for r in fns["velarto average per group"]()}
    assert averaged == fns["plain Python average per group"]()
    if "pandas groupby().size()" in fns:
        assert counted == fns["pandas groupby().size()"]().to_dict()


def run(nodes: int, repeat: int = 7, clock=time.perf_counter, target: float = 0.02) -> dict:
    """{workload: median seconds}, measured side by side after the results are checked to agree."""
    fns = workloads(build_graph(nodes))
    check(fns)
    samples = side_by_side(fns, repeat=repeat, target=target, clock=clock)
    return {name: statistics.median(times) for name, times in samples.items()}


def baseline(name: str, medians: dict) -> float:
    """The plain-Python figure that a workload is compared with."""
    averaging = "average" in name or "mean" in name
    return medians["plain Python average per group" if averaging else "plain Python Counter"]


def main() -> None:
    nodes, repeat, clock_name, clock = size_and_clock(__doc__)
    medians = run(nodes, repeat, clock)
    print(f"\n### Grouped count over {nodes:,} nodes ({clock_name} clock, median of {repeat} rounds)\n")
    print("| workload | time | plain Python / this |")
    print("|---|---:|---:|")
    for name, seconds in medians.items():
        print(f"| {name} | {format_time(seconds)} | {baseline(name, medians) / seconds:.2f}x |")
    if pandas is None:
        print("\n(pandas is not installed here: its rows are left out)")


if __name__ == "__main__":
    main()
