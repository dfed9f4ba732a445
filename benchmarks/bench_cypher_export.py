"""Graph.to_cypher: time and peak memory of the export, and of loading it into ladybug.

Each figure comes from a fresh child process, so that peak memory (the
resident set's high-water mark, `ru_maxrss`) belongs to one operation: the
child builds the graph of `common.oriented_records` (every node with age,
name, kind; every edge with w), reads its resident set, runs the operation
once and reports CPU time (`time.process_time`, all threads of the process)
and wall time, and the peak's growth over the graph alone. The load runs the
ladybug statements in a fresh on-disk database in a temp dir and reports its
size on disk after closing it.

    PYTHONPATH=build/dev python benchmarks/bench_cypher_export.py --edges 100000 1000000
"""
from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def rss_kib() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def disk_bytes(path: str) -> int:
    if os.path.isfile(path):
        return os.path.getsize(path)
    return sum(os.path.getsize(os.path.join(root, name)) for root, _, names in os.walk(path) for name in names)


def child(operation: str, nodes: int, edges: int) -> dict:
    import common

    graph = common.build_velarto(*common.oriented_records(nodes, edges))
    dialect = "opencypher" if operation == "opencypher" else "ladybug"
    statements = graph.to_cypher(dialect) if operation == "load" else None
    before = rss_kib()
    cpu, wall = time.process_time(), time.perf_counter()
    result = {}
    if operation == "load":
        import real_ladybug

        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "db")
            database = real_ladybug.Database(path)
            connection = real_ladybug.Connection(database)
            for statement, parameters in statements:
                connection.execute(statement, parameters)
            result["cpu"], result["wall"] = time.process_time() - cpu, time.perf_counter() - wall
            count = connection.execute("MATCH ()-[r:VEdge]->() RETURN count(r)").get_next()[0]
            assert count == edges, (count, edges)
            connection.close()
            database.close()
            result["disk"] = disk_bytes(path)
    else:
        statements = graph.to_cypher(dialect)
        result["cpu"], result["wall"] = time.process_time() - cpu, time.perf_counter() - wall
        result["statements"] = len(statements)
    result["peak_growth_kib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    return result


def measure(operation: str, nodes: int, edges: int) -> dict:
    out = subprocess.run([sys.executable, __file__, "--child", operation, str(nodes), str(edges)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--edges", type=int, nargs="+", default=[100_000])
    parser.add_argument("--load-up-to", type=int, default=100_000,
                        help="load into ladybug only up to this many edges (its MATCH per row is slow)")
    parser.add_argument("--child", nargs=3)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(child(args.child[0], int(args.child[1]), int(args.child[2]))))
        return
    print("| nodes | edges | operation | CPU | wall | peak memory over the graph | statements / on disk |")
    print("| ---: | ---: | --- | ---: | ---: | ---: | ---: |")
    for edges in args.edges:
        for operation in ["opencypher", "ladybug"] + (["load"] if edges <= args.load_up_to else []):
            got = measure(operation, args.nodes, edges)
            extra = (f"{got['statements']} statements" if "statements" in got
                     else f"{got['disk'] / 2**20:.0f} MiB")
            name = {"opencypher": "to_cypher()", "ladybug": "to_cypher('ladybug')",
                    "load": "load the ladybug statements"}[operation]
            print(f"| {args.nodes:,} | {edges:,} | {name} | {got['cpu']:.2f} s | {got['wall']:.2f} s "
                  f"| {got['peak_growth_kib'] / 1024:.0f} MiB | {extra} |", flush=True)


if __name__ == "__main__":
    main()
