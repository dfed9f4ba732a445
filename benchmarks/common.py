"""Shared pieces of the benchmarks: timing by medians, ratio tables, graphs.

Every figure is measured side by side in one run: the operation, its floor
(for a scan, a bare `list(d.values())` over the same dict) and the same work in
plain Python, each as the median of repeated runs, so that ratios compare like
with like on the same machine at the same moment.
"""
from __future__ import annotations

import gc
import statistics
import time
from typing import Callable

import velarto
from velarto import Application, Edge, Graph, Node, Term, Variable


def median_time(fn: Callable[[], object], repeat: int = 7, number: int = 1) -> float:
    """Median seconds per call over `repeat` rounds of `number` calls each."""
    fn()  # warm-up (compiles schemas, fills digest caches)
    samples = []
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            start = time.perf_counter()
            for _ in range(number):
                fn()
            samples.append((time.perf_counter() - start) / number)
    finally:
        if gc_was_enabled:
            gc.enable()
    return statistics.median(samples)


def spread(fn: Callable[[], object], repeat: int = 7) -> float:
    """Relative spread (max/min - 1) of repeated timings: the run's noise."""
    fn()
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        samples.append(time.perf_counter() - start)
    return max(samples) / min(samples) - 1.0


class Table:
    def __init__(self, title: str):
        self.title = title
        self.rows: list[tuple[str, float, str]] = []

    def add(self, name: str, seconds: float, note: str = "") -> None:
        self.rows.append((name, seconds, note))

    def render(self) -> str:
        width = max(len(r[0]) for r in self.rows) if self.rows else 10
        lines = [f"\n### {self.title}", ""]
        for name, seconds, note in self.rows:
            lines.append(f"{name:<{width}}  {format_time(seconds):>10}  {note}")
        return "\n".join(lines)


def format_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} us"
    if seconds < 1:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.2f} s"


def ratio(a: float, b: float) -> str:
    return f"{a / b:.2f}x"


def chain_graph(nodes: int, edges: int, seed: int = 7) -> Graph:
    """`nodes` nodes of types T0..Tn-1 and `edges` edges between random pairs,
    each with a distinct term of type (Ti -> Tj). Nodes alternate between the
    kinds Person-like (even, with an age) and others."""
    import random

    rng = random.Random(seed)
    graph = Graph()
    types = [Variable(f"T{i}") for i in range(nodes)]
    node_objects = []
    for i, t in enumerate(types):
        node = Node(t, {"age": i % 90, "name": f"{'A' if i % 3 == 0 else 'B'}name{i}", "kind": i % 10})
        graph.nodes[node.uid()] = node
        node_objects.append(node)
    for k in range(edges):
        i, j = rng.randrange(nodes), rng.randrange(nodes)
        term_type = Application(types[i], types[j]) if k % 2 == 0 else Application(Variable("A"), Variable("B"))
        edge = Edge(Term(f"e{k}", term_type), node_objects[i], node_objects[j], {"w": k % 100})
        graph.edges[edge.uid()] = edge
    return graph


__all__ = ["median_time", "spread", "Table", "format_time", "ratio", "chain_graph", "velarto"]
