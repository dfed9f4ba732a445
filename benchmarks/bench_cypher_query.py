"""One graph, the same questions: velarto in memory against the embedded engine after the export.

The graph of `common.oriented_records` is exported with `to_cypher("ladybug")` and loaded into
a fresh on-disk database; each question is asked of velarto (`return_`) and of the database
(`Query.to_cypher`, every row fetched), CPU clock of this process (the engine's threads
included), median of interleaved rounds. The rows are checked to agree first.

    PYTHONPATH=build/dev python benchmarks/bench_cypher_query.py --nodes 10000 --edges 100000
"""
from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import common  # noqa: E402

QUESTIONS = {
    "node by property": (lambda g: g.query().match(node="n").where("n.name = 'Bname4243'"), ("n.age",)),
    "one hop, filtered, counted": (lambda g: g.query().match("(a)-[r]->(b)").where("a.kind = 3 AND r.w < 50"),
                                   ("count(*) AS n",)),
    "grouped count": (lambda g: g.query().match("(a)-[r]->(b)"), ("b.kind", "count(*) AS n")),
    "two hops from one node": (lambda g: g.query().match("(a {name: 'Aname78'})-[r]->(b)-[s]->(c)"), ("c.name",)),
}


def rows_of(connection, text, parameters):
    result = connection.execute(text, parameters)
    names = result.get_column_names()
    rows = []
    while result.has_next():
        rows.append(dict(zip(names, result.get_next())))
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=10_000)
    parser.add_argument("--edges", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    import real_ladybug

    graph = common.build_velarto(*common.oriented_records(args.nodes, args.edges))
    folder = tempfile.mkdtemp()
    connection = real_ladybug.Connection(real_ladybug.Database(os.path.join(folder, "db")))
    started = time.perf_counter()
    for statement, parameters in graph.to_cypher("ladybug"):
        connection.execute(statement, parameters)
    print(f"\n### {args.nodes:,} nodes, {args.edges:,} edges (loaded in {time.perf_counter() - started:.1f} s wall)\n")
    print("| question | rows | velarto | the database | database / velarto |")
    print("|---|---:|---:|---:|---:|")
    for name, (build, items) in QUESTIONS.items():
        text, parameters = build(graph).to_cypher(*items, dialect="ladybug")
        ours = build(graph).return_(*items)
        theirs = rows_of(connection, text, parameters)
        key = lambda row: sorted(row.items())  # noqa: E731
        assert sorted(map(key, ours)) == sorted(map(key, theirs)), name
        times = {"velarto": [], "database": []}
        for _ in range(args.repeat):
            for side in times:
                t = time.process_time()
                if side == "velarto":
                    build(graph).return_(*items)
                else:
                    rows_of(connection, text, parameters)
                times[side].append(time.process_time() - t)
        v, d = statistics.median(times["velarto"]), statistics.median(times["database"])
        print(f"| {name} | {len(ours):,} | {common.format_time(v)} | {common.format_time(d)} | {d / v:.1f}x |")


if __name__ == "__main__":
    main()
