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


def optional(name: str):
    """The module `name`, or None when it does not import (a peer left out)."""
    try:
        return __import__(name)
    except Exception:  # noqa: BLE001 - a peer that does not import is left out
        return None


def interleaved_medians(cases: dict, repeat: int, clock: Callable[[], float] = time.perf_counter,
                        collect: bool = False) -> dict:
    """Round `repeat` times every case once; the median per case over the rounds.
    `collect` runs the collector after each sample, outside the timed part."""
    for fn in cases.values():
        fn()  # warm-up
    samples = {name: [] for name in cases}
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            for name, fn in cases.items():
                start = clock()
                fn()
                samples[name].append(clock() - start)
                if collect:
                    gc.collect()
    finally:
        if enabled:
            gc.enable()
    return {name: statistics.median(times) for name, times in samples.items()}


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


def size_and_clock(doc: str, nodes: int = 100_000):
    """The command line of a one-size benchmark: (nodes, repeat, clock name, clock)."""
    import argparse

    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=nodes)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--clock", choices=["wall", "cpu"], default="wall")
    args = parser.parse_args()
    return args.nodes, args.repeat, args.clock, time.process_time if args.clock == "cpu" else time.perf_counter


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


# --- helpers for run.py: interleaved timing and one graph shared with the peers ---------


def once(fn: Callable[[], object]) -> float:
    """Seconds taken by one call of `fn` (also its warm-up)."""
    start = time.perf_counter()
    fn()
    return max(time.perf_counter() - start, 1e-7)


def side_by_side(fns: dict, repeat: int = 7, target: float = 0.02, slow: float = 1.0,
                 slow_repeat: int = 3, clock: Callable[[], float] = time.perf_counter) -> dict:
    """Times every callable of `fns` in interleaved rounds (round r times each
    of them once), so that a drift of the machine hits all of them alike.

    Returns {name: [seconds per call, one per round]}. Each callable is warmed
    up first; the collector is off while timing; each sample repeats the call
    enough times to last about `target` seconds. When some call takes more
    than `slow` seconds, only `slow_repeat` rounds are run. `clock` may be
    time.process_time, to count this process's CPU time instead of wall time
    (steadier on a machine shared with other work; for a peer that runs
    threads, it adds up the CPU time of all of them).
    """
    firsts = {name: once(fn) for name, fn in fns.items()}
    numbers = {name: max(1, int(target / first) + 1) if first < target else 1 for name, first in firsts.items()}
    if max(firsts.values()) > slow:
        repeat = min(repeat, slow_repeat)
    samples: dict = {name: [] for name in fns}
    gc_was_enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            for name, fn in fns.items():
                number = numbers[name]
                start = clock()
                for _ in range(number):
                    fn()
                samples[name].append((clock() - start) / number)
    finally:
        if gc_was_enabled:
            gc.enable()
    return samples


def side_by_side_restored(fns: dict, restore: Callable[[], None], repeat: int = 7,
                          clock: Callable[[], float] = time.perf_counter) -> dict:
    """`side_by_side` for work that changes what it runs on (a delete): each
    sample is one call, made after `restore()` has put the data back, and only
    the call is timed. Rounds are interleaved the same way; each callable is
    warmed up first; the collector runs before each sample and is off while
    timing. Returns {name: [seconds, one per round]}."""
    for fn in fns.values():
        restore()
        fn()
    samples: dict = {name: [] for name in fns}
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            for name, fn in fns.items():
                restore()
                gc.collect()
                start = clock()
                fn()
                samples[name].append(clock() - start)
    finally:
        restore()
        if gc_was_enabled:
            gc.enable()
    return samples


def relative_spread(samples) -> float:
    """(max - min) / min of repeated timings of one operation."""
    return max(samples) / min(samples) - 1.0


def oriented_records(nodes: int, edges: int, seed: int = 7):
    """Plain data for one graph shared by velarto and the peers.

    Node i has type Ti and the properties age, name and kind (kind = i % 10).
    Edge k joins two random distinct nodes; its term is e{k}, of type
    (Ti -> Tj) when k is even and (A -> B) when k is odd; property w = k % 100.
    The graph is oriented: no self-loop, no parallel and no antiparallel edge,
    so matching that keeps edges distinct (velarto, Cypher engines) and matching
    that keeps nodes distinct (subgraph isomorphism) count the same two-hop paths.
    Returns (node_rows, edge_rows): [(i, age, name, kind)], [(k, i, j)].
    """
    import random

    if edges > nodes * (nodes - 1) // 2:
        raise ValueError("too many edges for an oriented graph on so few nodes")
    rng = random.Random(seed)
    node_rows = [(i, i % 90, f"{'A' if i % 3 == 0 else 'B'}name{i}", i % 10) for i in range(nodes)]
    seen = set()
    edge_rows = []
    while len(edge_rows) < edges:
        i, j = rng.randrange(nodes), rng.randrange(nodes)
        if i == j or (i, j) in seen or (j, i) in seen:
            continue
        seen.add((i, j))
        edge_rows.append((len(edge_rows), i, j))
    return node_rows, edge_rows


def build_velarto(node_rows, edge_rows) -> Graph:
    """The velarto graph of `oriented_records` data (fresh objects, fresh dicts)."""
    graph = Graph()
    nodes_dict, edges_dict = graph.nodes, graph.edges
    types = []
    node_objects = []
    for i, age, name, kind in node_rows:
        t = Variable(f"T{i}")
        node = Node(t, {"age": age, "name": name, "kind": kind})
        nodes_dict[node.uid()] = node
        types.append(t)
        node_objects.append(node)
    a, b = Variable("A"), Variable("B")
    for k, i, j in edge_rows:
        term_type = Application(types[i], types[j]) if k % 2 == 0 else Application(a, b)
        edge = Edge(Term(f"e{k}", term_type), node_objects[i], node_objects[j], {"w": k % 100})
        edges_dict[edge.uid()] = edge
    return graph


def edge_type_names(k: int, i: int, j: int) -> tuple:
    """The (left, right) names of the term type of edge k of `oriented_records`."""
    return (f"T{i}", f"T{j}") if k % 2 == 0 else ("A", "B")


# --- output: markdown tables of ratios ---------------------------------------------------------

class Markdown:
    """A markdown table printed as soon as it is complete."""

    def __init__(self, title: str, header: list[str], intro: str = ""):
        self.title, self.header, self.intro = title, header, intro
        self.rows: list[list[str]] = []
        self.notes: list[str] = []

    def add(self, *cells) -> None:
        self.rows.append([str(c) for c in cells])

    def note(self, text: str) -> None:
        self.notes.append(text)

    def render(self) -> str:
        cols = list(zip(self.header, *self.rows)) if self.rows else [[h] for h in self.header]
        widths = [max(len(c) for c in col) for col in cols]

        def line(cells):
            return "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"

        out = [f"\n### {self.title}\n"]
        if self.intro:
            out.append(self.intro + "\n")
        out.append(line(self.header))
        out.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        out.extend(line(r) for r in self.rows)
        if self.notes:
            out.append("")
            out.extend(f"- {n}" for n in self.notes)
        return "\n".join(out)

    def show(self) -> None:
        print(self.render(), flush=True)


def x(a: float, b: float) -> str:
    """a / b as a ratio (three significant digits below 0.1)."""
    r = a / b
    return f"{r:.2f}x" if r >= 0.1 else f"{r:.3g}x"


def pct(value: float) -> str:
    return f"{value * 100:.0f}%"
