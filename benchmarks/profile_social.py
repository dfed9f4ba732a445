"""A social graph, and two queries on it timed against plain Python.

    PYTHONPATH=build/dev python3 benchmarks/profile_social.py               # 10,000 and 100,000 persons
    PYTHONPATH=build/dev python3 benchmarks/profile_social.py --persons 100000 --repeat 7
    PYTHONPATH=build/dev perf record -g python3 benchmarks/profile_social.py --loop anti --persons 100000

Persons `P{i}` (kind, name, age, city), cities `City{j}` and tags `Tag{j}`;
edges, each with a term of its own: `knows` between persons (about 7 a person,
power-law: a few persons know many, and are known by many), one `lives_in` a
person and 0 to 3 `likes` from a person to a tag. About 10 edges a person.

The queries:

- grouping: `match("(p)-[:lives_in]->(c)").return_("c.name", "avg(p.age) AS a")`
  against one pass with a dict of [sum, count] over a list of (city name, age)
  pairs, and over a list of the `lives_in` edges reading both properties;
- anti-join: the persons with no `likes` edge, counted, against a set of the
  persons with one (from a list of the `likes` edges) and a count over the nodes.

The plain side's lists are made before timing.

Times are CPU time (`time.process_time`), medians of interleaved rounds; the
results of both sides are checked to agree. `--loop NAME` only runs one query
over and over, for a profiler. Nothing here asserts a time.
"""
from __future__ import annotations

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import format_time, interleaved_medians  # noqa: E402
from velarto import Edge, Graph, Node, Term, Variable  # noqa: E402


def build_graph(persons: int, seed: int = 5) -> Graph:
    rng = random.Random(seed)
    cities = max(10, persons // 1000)
    tags = max(10, persons // 100)
    g = Graph()
    city_nodes = []
    for j in range(cities):
        node = Node(Variable(f"City{j}"), {"kind": "city", "name": f"c{j}"})
        g.nodes[node.uid()] = node
        city_nodes.append(node)
    tag_nodes = []
    for j in range(tags):
        node = Node(Variable(f"Tag{j}"), {"kind": "tag", "name": f"t{j}"})
        g.nodes[node.uid()] = node
        tag_nodes.append(node)
    people = []
    homes = []
    for i in range(persons):
        j = rng.randrange(cities)
        node = Node(Variable(f"P{i}"), {"kind": "person", "name": f"p{i}", "age": 18 + rng.randrange(60),
                                        "city": f"c{j}"})
        g.nodes[node.uid()] = node
        people.append(node)
        homes.append(j)
    knows, lives_in, likes = Variable("knows"), Variable("lives_in"), Variable("likes")
    edges = g.edges
    n = 0

    def add(term_type: Variable, prefix: str, start: Node, end: Node) -> None:
        nonlocal n
        e = Edge(Term(f"{prefix}{n}", term_type), start, end)
        edges[e.uid()] = e
        n += 1

    for i, person in enumerate(people):
        add(lives_in, "l", person, city_nodes[homes[i]])
        for _ in range(rng.randrange(4) if rng.random() < 0.75 else 0):
            add(likes, "t", person, tag_nodes[rng.randrange(tags)])
        # Out-degree from a Pareto tail with mean about 7; targets skewed to low indices.
        degree = min(int(rng.paretovariate(1.6) * 2.6), persons - 1, 500)
        for _ in range(degree):
            add(knows, "k", person, people[int(persons * rng.random() ** 2)])
    return g


def plain_grouping(pairs) -> dict:
    totals: dict = {}
    for name, age in pairs:
        entry = totals.get(name)
        if entry is None:
            totals[name] = [age, 1]
        else:
            entry[0] += age
            entry[1] += 1
    return {k: s / c for k, (s, c) in totals.items()}


def plain_grouping_edges(edges) -> dict:
    totals: dict = {}
    for e in edges:
        name = e.end.properties["name"]
        entry = totals.get(name)
        if entry is None:
            totals[name] = [e.start.properties["age"], 1]
        else:
            entry[0] += e.start.properties["age"]
            entry[1] += 1
    return {k: s / c for k, (s, c) in totals.items()}


def plain_anti(likes, nodes) -> int:
    liked = {e.start.uid() for e in likes}
    return sum(1 for uid, node in nodes.items() if node.properties["kind"] == "person" and uid not in liked)


def workloads(g: Graph) -> dict:
    # The plain side gets its edges of one kind sorted out beforehand, untimed:
    # the best a hand-written program keeps at hand.
    lives_in = [e for e in g.edges.values() if e.term.type == Variable("lives_in")]
    likes = [e for e in g.edges.values() if e.term.type == Variable("likes")]
    pairs = [(e.end.properties["name"], e.start.properties["age"]) for e in lives_in]
    return {
        "grouping": lambda: g.query().match("(p)-[:lives_in]->(c)").return_("c.name", "avg(p.age) AS a"),
        "grouping, plain Python": lambda: plain_grouping(pairs),
        "grouping, plain Python over the edges": lambda: plain_grouping_edges(lives_in),
        "anti-join": lambda: g.query().match(node="p", properties={"kind": "person"})
        .where("NOT exists((p)-[:likes]->())").return_count(),
        "anti-join, plain Python": lambda: plain_anti(likes, g.nodes),
    }


def check(fns: dict) -> None:
    grouped = {row["c.name"]: row["a"] for row in fns["grouping"]()}
    assert grouped == fns["grouping, plain Python"]() == fns["grouping, plain Python over the edges"](), "grouping differs"
    assert fns["anti-join"]() == fns["anti-join, plain Python"](), "anti-join differs"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--persons", type=int, nargs="+", default=[10_000, 100_000])
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--loop", choices=["grouping", "anti-join"], help="run one query 50 times, for a profiler")
    args = parser.parse_args()
    for persons in args.persons:
        g = build_graph(persons)
        fns = workloads(g)
        if args.loop:
            for _ in range(50):
                fns[args.loop]()
            continue
        check(fns)
        medians = interleaved_medians(fns, args.repeat, clock=time.process_time)
        print(f"\n### {persons:,} persons, {len(g.nodes):,} nodes, {len(g.edges):,} edges "
              f"(CPU time, median of {args.repeat} rounds)\n")
        print("| query | velarto | plain Python | plain / velarto |")
        print("|---|---:|---:|---:|")
        for name, plain_name in (("grouping", "grouping, plain Python"),
                                 ("grouping", "grouping, plain Python over the edges"),
                                 ("anti-join", "anti-join, plain Python")):
            ours, plain = medians[name], medians[plain_name]
            print(f"| {plain_name} | {format_time(ours)} | {format_time(plain)} | {plain / ours:.2f}x |")


if __name__ == "__main__":
    main()
