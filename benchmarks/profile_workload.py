"""Runs one workload of run.py in a loop, for a profiler to look at.

    PYTHONPATH=build/dev valgrind --tool=callgrind --toggle-collect='*query_return*' \\
        python3 benchmarks/profile_workload.py two-hop 2000 3
    PYTHONPATH=build/dev perf record -g python3 benchmarks/profile_workload.py projection 100000 50

Workloads: type, schema, property, edge-scan, two-hop, two-hop-count, projection,
count, chain, and social-1 to social-9 (the questions of bench_social.py; size
counts persons). The graph is built first (size nodes and size edges; the two-hop
uses size/10 nodes), then the workload runs `loops` times.
"""
from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import social_graph  # noqa: E402
import social_queries  # noqa: E402
from common import build_velarto, oriented_records  # noqa: E402
from velarto import Variable  # noqa: E402


def main() -> None:
    name = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 10_000
    loops = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    if name.startswith("two-hop"):
        g = build_velarto(*oriented_records(max(size // 10, 50), size, seed=11))
    elif name.startswith("social"):
        g = social_graph.build_velarto(social_graph.records(size))  # size: persons
    else:
        g = build_velarto(*oriented_records(size, size))
    t5 = Variable("T5")
    work = {
        "type": lambda: g.query().match(node="n", type=t5).return_("n"),
        "schema": lambda: g.query().match(node="n", type_schema="$T5$").return_("n"),
        "property": lambda: g.query().match(node="n", properties={"kind": 3}).return_("n"),
        "edge-scan": lambda: g.query().match("(a)-[r:$A -> B$]->(b)").return_("a", "r", "b"),
        "two-hop": lambda: g.query().match("(a)-[r1]->(b)-[r2]->(c)").return_("a", "r1", "b", "r2", "c"),
        "two-hop-count": lambda: g.query().match("(a)-[r1]->(b)-[r2]->(c)").return_count(),
        "projection": lambda: g.query().match(node="n").return_("n"),
        "count": lambda: g.query().match(node="n").return_count(),
        # the social graph's questions (bench_social.py), by their numbers there
        # (the point questions ask about p1; the fourth about p0 to p9)
        **{f"social-{number}": (lambda ask=ask, number=number: ask([f"p{i}" for i in range(10)] if number == 4 else "p1"))
           for number, ask in social_queries.velarto_queries(g).items()},
    }
    if name == "chain":
        for _ in range(loops):
            q = g.query()
            for _ in range(size):
                q = q.match(node="n", type=t5)
        return
    fn = work[name]
    for _ in range(loops):
        fn()


if __name__ == "__main__":
    main()
