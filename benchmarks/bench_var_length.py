"""Reachability within 1 to 3 hops: a variable-length match against networkx.

    python benchmarks/bench_var_length.py                  # 50,000 nodes, 100,000 edges
    python benchmarks/bench_var_length.py --nodes 5000 --edges 10000 --repeat 5

Two workloads on one random directed graph (self-loops and parallel edges
allowed, as the generator draws them):

- from one node: `match("(a:N0)-[r*1..3]->(b)").return_distinct("b")` against
  `nx.single_source_shortest_path_length(G, "N0", cutoff=3)`;
- from every node: `match("(a)-[r*1..3]->(b)").return_distinct("a", "b")`
  against the same call once per node, collecting the (a, b) pairs.

velarto enumerates every chain (each a list of edges) and then keeps the
distinct ends; networkx walks breadth-first and reports each node once, so it
does less work for the same answer. The floor is a bare `list(d.values())`
over the edge dict. Both sides' answers are checked to agree. Times are CPU
time of this process (steadier than the wall clock on a shared machine),
medians of interleaved rounds; nothing here asserts a time.
"""
from __future__ import annotations

import argparse
import random
import time

import networkx as nx

from common import interleaved_medians
from velarto import Edge, Graph, Node, Term, Variable


def build(nodes: int, edges: int, seed: int = 3):
    rng = random.Random(seed)
    graph, digraph = Graph(), nx.MultiDiGraph()
    made = [Node(Variable(f"N{i}")) for i in range(nodes)]
    for node in made:
        graph.nodes[node.uid()] = node
        digraph.add_node(str(node.type))
    link = Variable("link")
    for i in range(edges):
        a, b = rng.randrange(nodes), rng.randrange(nodes)
        edge = Edge(Term(f"e{i}", link), made[a], made[b])
        graph.edges[edge.uid()] = edge
        digraph.add_edge(f"N{a}", f"N{b}")
    return graph, digraph


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--nodes", type=int, default=50_000)
    parser.add_argument("--edges", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    graph, digraph = build(args.nodes, args.edges)

    def ours_one():
        return graph.query().match("(a:N0)-[r*1..3]->(b)").return_distinct("b")

    def theirs_one():
        return nx.single_source_shortest_path_length(digraph, "N0", cutoff=3)

    def ours_all():
        return graph.query().match("(a)-[r*1..3]->(b)").return_distinct("a", "b")

    def theirs_all():
        pairs = []
        for source in digraph:
            for target, distance in nx.single_source_shortest_path_length(digraph, source, cutoff=3).items():
                if distance or digraph.has_edge(source, source):
                    pairs.append((source, target))
        return pairs

    def chains():
        return graph.query().match("(a)-[r*1..3]->(b)").return_count()

    # The same answers: reached nodes (a node reaches itself only through a cycle, which
    # networkx reports as distance 0 whatever the graph; compared without the source).
    one = {str(row["b"].type) for row in ours_one()} - {"N0"}
    if one != set(theirs_one()) - {"N0"}:
        raise SystemExit("single-source answers differ")
    ours_pairs = {(str(row["a"].type), str(row["b"].type)) for row in ours_all()}
    theirs_pairs = {(a, b) for a, b in theirs_all() if a != b}
    if {(a, b) for a, b in ours_pairs if a != b} != theirs_pairs:
        raise SystemExit("all-sources answers differ")

    cases = {
        "velarto *1..3 from one node": ours_one,
        "networkx BFS cutoff 3 from one node": theirs_one,
        "velarto *1..3 from every node (distinct a, b)": ours_all,
        "networkx BFS cutoff 3 from every node": theirs_all,
        "velarto *1..3 chains, return_count": chains,
        "floor list(g.edges.values())": lambda: list(graph.edges.values()),
    }
    medians = interleaved_medians(cases, args.repeat, clock=time.process_time, collect=True)
    width = max(len(name) for name in medians)
    print(f"reachability within 1..3 hops, {args.nodes:,} nodes, {args.edges:,} edges "
          f"(CPU time, median of {args.repeat} rounds); {chains():,} chains, "
          f"{len(ours_pairs):,} distinct (a, b) pairs\n")
    for name, seconds in medians.items():
        print(f"{name:<{width}}  {seconds * 1e3:10.2f} ms")
    one_ratio = medians["networkx BFS cutoff 3 from one node"] / medians["velarto *1..3 from one node"]
    all_ratio = medians["networkx BFS cutoff 3 from every node"] / medians["velarto *1..3 from every node (distinct a, b)"]
    print(f"\nnetworkx / velarto, one node: {one_ratio:.2f}x; every node: {all_ratio:.2f}x (above 1: velarto is faster)")
    print(f"velarto chains / floor: {medians['velarto *1..3 chains, return_count'] / medians['floor list(g.edges.values())']:.1f}x")


if __name__ == "__main__":
    main()
