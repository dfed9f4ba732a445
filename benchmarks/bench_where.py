"""Filter, sort and cut: a `where` query against the same work in plain Python.

    python benchmarks/bench_where.py                 # 100,000 nodes
    python benchmarks/bench_where.py --nodes 10000 --repeat 9

The query

    match(node="n", type_schema="$*$")
        .where("n.age > 30 AND n.name STARTS WITH 'A'")
        .order_by("n", "age").limit(10)

is timed against the comprehension that filters `g.nodes.values()`, sorts by
age and keeps ten. Beside them stand the floor (a bare `list(d.values())`),
the match alone, and the where clause alone, so that the table shows where
the time goes. Every figure is the median of repeated runs, taken in
interleaved rounds; the results of the two sides are checked to agree.
Nothing here asserts a time: the script prints ratios.
"""
from __future__ import annotations

import argparse
import random

from common import interleaved_medians
from velarto import Graph, Node, Variable

CONDITION = "n.age > 30 AND n.name STARTS WITH 'A'"


def build_graph(count: int, seed: int = 7) -> Graph:
    rng = random.Random(seed)
    graph = Graph()
    for i in range(count):
        name = rng.choice("ABCDEFGH") + f"name{i}"
        node = Node(Variable(f"P{i}"), {"age": rng.randrange(0, 90), "name": name})
        graph.nodes[node.uid()] = node
    return graph


def velarto_query(graph: Graph):
    return (graph.query().match(node="n", type_schema="$*$")
            .where(CONDITION).order_by("n", "age").limit(10).return_("n"))


def python_query(graph: Graph):
    kept = [n for n in graph.nodes.values()
            if n.properties["age"] > 30 and n.properties["name"].startswith("A")]
    kept.sort(key=lambda n: n.properties["age"])
    return [{"n": n} for n in kept[:10]]


def match_only(graph: Graph):
    return graph.query().match(node="n", type_schema="$*$").return_count()


def match_and_where(graph: Graph):
    return graph.query().match(node="n", type_schema="$*$").where(CONDITION).return_count()


def floor(graph: Graph):
    return list(graph.nodes.values())


def check_agreement(graph: Graph) -> None:
    ours = [(row["n"].uid(), row["n"].properties["age"]) for row in velarto_query(graph)]
    theirs = [(row["n"].uid(), row["n"].properties["age"]) for row in python_query(graph)]
    if ours != theirs:
        raise SystemExit(f"results differ:\n  velarto {ours}\n  python  {theirs}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    graph = build_graph(args.nodes)
    check_agreement(graph)
    cases = {
        "velarto query": lambda: velarto_query(graph),
        "python comprehension": lambda: python_query(graph),
        "floor list(d.values())": lambda: floor(graph),
        "velarto match alone": lambda: match_only(graph),
        "velarto match + where": lambda: match_and_where(graph),
    }
    medians = interleaved_medians(cases, args.repeat)
    width = max(len(name) for name in medians)
    print(f"where / order_by / limit over {args.nodes:,} nodes (median of {args.repeat} rounds)\n")
    for name, seconds in medians.items():
        print(f"{name:<{width}}  {seconds * 1e3:9.2f} ms")
    python_time, ours = medians["python comprehension"], medians["velarto query"]
    print(f"\npython / velarto: {python_time / ours:.2f}x (above 1: velarto is faster)")
    print(f"velarto / floor:  {ours / medians['floor list(d.values())']:.1f}x")
    where_part = medians["velarto match + where"] - medians["velarto match alone"]
    print(f"where clause alone: {where_part * 1e3:.2f} ms "
          f"({where_part / args.nodes * 1e9:.0f} ns per row)")


if __name__ == "__main__":
    main()
