"""All of velarto's benchmarks in one run: a table of ratios, measured side by side.

    python benchmarks/run.py                     # 10,000 and 100,000 elements
    python benchmarks/run.py --sizes 10000       # chosen sizes
    python benchmarks/run.py --quick             # a fast smoke run (small sizes, few rounds)

Every ratio compares timings taken in the same run, in interleaved rounds (round
r times each side once), as medians of those rounds. The noise of the run is
stated with each table: the relative spread (max/min - 1) of the repeated
timings of the floor `list(d.values())`, which does the same thing every time.

The peers (networkx + grand-cypher, rustworkx, ladybug, duckdb) are optional: each one
that cannot be imported is left out with a note. They run on the same graph
(the same records) and the same query, and each peer result is checked to
have as many rows as velarto's.
"""
from __future__ import annotations

import argparse
import csv
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import velarto  # noqa: E402
from velarto import Application, Edge, Node, Term, Variable  # noqa: E402

from common import (Markdown, build_velarto, optional, edge_type_names, format_time, oriented_records,  # noqa: E402
                    pct, relative_spread, side_by_side, side_by_side_restored, x)
from python_equivalents import schema_matches  # noqa: E402


nx = optional("networkx")
grandcypher = optional("grandcypher")
rx = optional("rustworkx")
lb = optional("ladybug")

OPTIONS = argparse.Namespace(repeat=7, target=0.02, clock=time.perf_counter)


# --- marks and noise (tables: common.Markdown) -----------------------------------------------

MARKS: list[tuple[str, str, bool, str]] = []  # (mark, subject, met, figure)
NOISE: list[float] = []  # relative spreads of the floors
IQR: list[float] = []  # interquartile range / median of the floors


def mark(name: str, subject: str, met: bool, figure: str) -> None:
    MARKS.append((name, subject, met, figure))


def measure(fns: dict) -> dict:
    """Medians of interleaved rounds; slow callables get fewer rounds."""
    samples = side_by_side(fns, repeat=OPTIONS.repeat, target=OPTIONS.target, clock=OPTIONS.clock)
    return {name: statistics.median(s) for name, s in samples.items()} | {"_samples": samples}


def spread_of(result: dict, name: str = "floor") -> float:
    samples = result["_samples"][name]
    value = relative_spread(samples)
    if name == "floor":
        NOISE.append(value)
        if len(samples) >= 4:
            q = statistics.quantiles(samples, n=4)
            IQR.append((q[2] - q[0]) / statistics.median(samples))
    return value


def check(label: str, expected: int, got: int) -> None:
    if expected != got:
        raise SystemExit(f"result count differs for {label}: velarto {expected}, other {got}")


# --- the workloads over one velarto graph --------------------------------------------------

T5 = Variable("T5")
A_TO_B = "$A -> B$"
TWO_HOP = "(a)-[r1]->(b)-[r2]->(c)"
ONE_HOP = "(a)-[r:$A -> B$]->(b)"


def velarto_workloads(g):
    """name -> (velarto callable, returns rows)."""
    return {
        "node match by type": lambda: g.query().match(node="n", type=T5).return_("n"),
        "node match by schema $T5$": lambda: g.query().match(node="n", type_schema="$T5$").return_("n"),
        "node match by property kind=3": lambda: g.query().match(node="n", properties={"kind": 3}).return_("n"),
        "edge scan (a)-[r:$A -> B$]->(b)": lambda: g.query().match(ONE_HOP).return_("a", "r", "b"),
        "two-hop (a)-[r1]->(b)-[r2]->(c)": lambda: g.query().match(TWO_HOP).return_("a", "r1", "b", "r2", "c"),
        "projection match(node=n).return_(n)": lambda: g.query().match(node="n").return_("n"),
        "return_count, all nodes": lambda: g.query().match(node="n").return_count(),
        "return_count, edge scan $A -> B$": lambda: g.query().match(ONE_HOP).return_count(),
        "return_count, two-hop": lambda: g.query().match(TWO_HOP).return_count(),
    }


def python_workloads(g):
    """The same work in plain Python over g.nodes.values() / g.edges.values()."""
    nodes, edges = g.nodes, g.edges

    def by_type():
        return [{"n": v} for v in nodes.values() if v.type == T5]

    def by_schema():
        return [{"n": v} for v in nodes.values() if schema_matches("$T5$", v.type)]

    def by_property():
        return [{"n": v} for v in nodes.values() if v.properties.get("kind", None) == 3]

    def one_hop():
        return [{"a": e.start, "r": e, "b": e.end} for e in edges.values() if schema_matches(A_TO_B, e.term.type)]

    def index_by_start():
        by_start = {}
        for e in edges.values():
            key = e.start.uid()
            if key in by_start:
                by_start[key].append(e)
            else:
                by_start[key] = [e]
        return by_start

    def two_hop():
        by_start = index_by_start()
        rows = []
        append = rows.append
        for r1 in edges.values():
            b = r1.end
            for r2 in by_start.get(b.uid(), ()):
                if r2 is not r1:
                    append({"a": r1.start, "r1": r1, "b": b, "r2": r2, "c": r2.end})
        return rows

    def two_hop_count():
        # A dict of out-degrees by start uid, summed over the first edge's end: the graph is
        # oriented (no self-loop), so the second edge is never the first one.
        out_degree = {}
        for e in edges.values():
            key = e.start.uid()
            out_degree[key] = out_degree.get(key, 0) + 1
        return sum(out_degree.get(e.end.uid(), 0) for e in edges.values())

    return {
        "node match by type": by_type,
        "node match by schema $T5$": by_schema,
        "node match by property kind=3": by_property,
        "edge scan (a)-[r:$A -> B$]->(b)": one_hop,
        "two-hop (a)-[r1]->(b)-[r2]->(c)": two_hop,
        "projection match(node=n).return_(n)": lambda: [{"n": v} for v in nodes.values()],
        "return_count, all nodes": lambda: sum(1 for _ in nodes.values()),
        "return_count, edge scan $A -> B$": lambda: sum(1 for e in edges.values()
                                                        if schema_matches(A_TO_B, e.term.type)),
        "return_count, two-hop": two_hop_count,
    }


A, B = Variable("A"), Variable("B")


def hand_written(g):
    """Schema checks specialised by hand (no general matcher): a second plain-Python figure."""
    nodes, edges = g.nodes, g.edges

    def fits(t):
        return type(t) is Application and t.left == A and t.right == B

    return {
        "node match by schema $T5$": lambda: [{"n": v} for v in nodes.values()
                                              if type(v.type) is Variable and v.type.name == "T5"],
        "edge scan (a)-[r:$A -> B$]->(b)": lambda: [{"a": e.start, "r": e, "b": e.end} for e in edges.values()
                                                    if fits(e.term.type)],
    }


NODE_SCANS = ("node match by type", "node match by schema $T5$", "node match by property kind=3",
              "projection match(node=n).return_(n)", "return_count, all nodes")
SCAN_MARKED = ("node match by type", "node match by schema $T5$", "node match by property kind=3",
               "edge scan (a)-[r:$A -> B$]->(b)", "two-hop (a)-[r1]->(b)-[r2]->(c)")


def row_count(result) -> int:
    return result if isinstance(result, int) else len(result)


# --- peers: the same graph in networkx, rustworkx and ladybug ------------------------------

def networkx_graph(node_rows, edge_rows):
    graph = nx.DiGraph()
    type_names = []
    for i, age, name, kind in node_rows:
        t = f"T{i}"
        type_names.append(t)
        graph.add_node(i, type=t, age=age, name=name, kind=kind)
    for k, i, j in edge_rows:
        lt, rt = (type_names[i], type_names[j]) if k % 2 == 0 else ("A", "B")
        graph.add_edge(i, j, term=f"e{k}", lt=lt, rt=rt, w=k % 100)
    return graph


def rustworkx_graph(node_rows, edge_rows):
    graph = rx.PyDiGraph()
    indices = graph.add_nodes_from([{"type": f"T{i}", "age": age, "name": name, "kind": kind}
                                    for i, age, name, kind in node_rows])
    graph.add_edges_from([(indices[i], indices[j], {"term": f"e{k}", "lt": edge_type_names(k, i, j)[0],
                                                    "rt": edge_type_names(k, i, j)[1], "w": k % 100})
                          for k, i, j in edge_rows])
    return graph


def rustworkx_workloads(graph):
    def one_hop():
        return [{"a": graph[a], "r": w, "b": graph[b]} for a, b, w in graph.weighted_edge_list()
                if w["lt"] == "A" and w["rt"] == "B"]

    def two_hop():
        rows = []
        append = rows.append
        for a, b, w1 in graph.weighted_edge_list():
            pa, pb = graph[a], graph[b]
            for _, c, w2 in graph.out_edges(b):
                append({"a": pa, "r1": w1, "b": pb, "r2": w2, "c": graph[c]})
        return rows

    return {
        "node match by type": lambda: [{"n": graph[i]} for i in graph.filter_nodes(lambda p: p["type"] == "T5")],
        "node match by schema $T5$": lambda: [{"n": graph[i]}
                                              for i in graph.filter_nodes(lambda p: p["type"] == "T5")],
        "node match by property kind=3": lambda: [{"n": graph[i]}
                                                  for i in graph.filter_nodes(lambda p: p.get("kind") == 3)],
        "edge scan (a)-[r:$A -> B$]->(b)": one_hop,
        "two-hop (a)-[r1]->(b)-[r2]->(c)": two_hop,
        "projection match(node=n).return_(n)": lambda: [{"n": p} for p in graph.nodes()],
        "return_count, edge scan $A -> B$": lambda: len(graph.filter_edges(lambda w: w["lt"] == "A"
                                                                             and w["rt"] == "B")),
        "return_count, two-hop": lambda: sum(graph.out_degree(b) for _, b in graph.edge_list()),
    }


CYPHER = {
    "node match by type": "MATCH (n:N) WHERE n.type = 'T5' RETURN n",
    "node match by schema $T5$": "MATCH (n:N) WHERE n.type = 'T5' RETURN n",
    "node match by property kind=3": "MATCH (n:N) WHERE n.kind = 3 RETURN n",
    "edge scan (a)-[r:$A -> B$]->(b)": "MATCH (a:N)-[r:E]->(b:N) WHERE r.lt = 'A' AND r.rt = 'B' RETURN a, r, b",
    "two-hop (a)-[r1]->(b)-[r2]->(c)": "MATCH (a:N)-[r1:E]->(b:N)-[r2:E]->(c:N) RETURN a, r1, b, r2, c",
    "projection match(node=n).return_(n)": "MATCH (n:N) RETURN n",
    "return_count, all nodes": "MATCH (n:N) RETURN count(*)",
    "return_count, edge scan $A -> B$": "MATCH (a:N)-[r:E]->(b:N) WHERE r.lt = 'A' AND r.rt = 'B' RETURN count(*)",
    "return_count, two-hop": "MATCH (a:N)-[r1:E]->(b:N)-[r2:E]->(c:N) RETURN count(*)",
}

GRAND_CYPHER = {
    "node match by type": 'MATCH (n) WHERE n.type = "T5" RETURN n',
    "node match by property kind=3": "MATCH (n) WHERE n.kind = 3 RETURN n",
    "edge scan (a)-[r:$A -> B$]->(b)": 'MATCH (a)-[r]->(b) WHERE r.lt = "A" AND r.rt = "B" RETURN a, r, b',
    "two-hop (a)-[r1]->(b)-[r2]->(c)": "MATCH (a)-[r1]->(b)-[r2]->(c) RETURN a, r1, b, r2, c",
}


class Ladybug:
    """An in-memory ladybug database loaded by COPY from CSV files in a temp dir."""

    def __init__(self, node_rows, edge_rows, folder):
        self.node_rows, self.edge_rows, self.folder = node_rows, edge_rows, folder
        self.db = self.conn = None

    def write_csv(self) -> None:
        with open(os.path.join(self.folder, "nodes.csv"), "w", newline="") as f:
            csv.writer(f).writerows((i, f"T{i}", age, name, kind) for i, age, name, kind in self.node_rows)
        with open(os.path.join(self.folder, "edges.csv"), "w", newline="") as f:
            csv.writer(f).writerows((i, j, f"e{k}", *edge_type_names(k, i, j), k % 100)
                                    for k, i, j in self.edge_rows)

    def load(self) -> None:
        self.close()
        self.db = lb.Database(":memory:")
        self.conn = lb.Connection(self.db)
        self.conn.execute("CREATE NODE TABLE N(id INT64, type STRING, age INT64, name STRING, kind INT64, "
                          "PRIMARY KEY(id))")
        self.conn.execute("CREATE REL TABLE E(FROM N TO N, term STRING, lt STRING, rt STRING, w INT64)")
        self.conn.execute(f"COPY N FROM '{os.path.join(self.folder, 'nodes.csv')}' (header=false)")
        self.conn.execute(f"COPY E FROM '{os.path.join(self.folder, 'edges.csv')}' (header=false)")

    def query(self, cypher: str):
        result = self.conn.execute(cypher)
        rows = result.get_all()
        result.close()
        if "count(*)" in cypher:
            return rows[0][0]
        return rows

    def close(self) -> None:
        if self.conn is not None:
            self.conn.close()
            self.db.close()
        self.db = self.conn = None


# --- sections ------------------------------------------------------------------------------

def scans(sizes) -> dict:
    """Each scan against its floor and against plain Python, with the peers that run at
    full size (rustworkx, ladybug) interleaved in the same rounds. Returns velarto's
    medians by (workload, size) for the scaling and end-to-end tables."""
    main = Markdown(
        "Scans against their floor and plain Python",
        ["workload", "size", "rows", "velarto", "floor", "velarto/floor", "plain Python", "Python/velarto",
         "noise"],
        "size: nodes / edges of the graph. floor: `list(d.values())` over the dict the scan reads "
        "(g.nodes for node scans, g.edges for edge scans). Python/velarto > 1 means velarto is faster. "
        "noise: relative spread (max/min - 1) of the floor's repeated timings in that row.")
    peers = Markdown(
        "Peers at full size (same graph, same query, same rows)",
        ["workload", "size", "rows", "velarto", "rustworkx", "rustworkx/velarto", "ladybug query",
         "ladybug/velarto"],
        "rustworkx: the same scan written with its API (filter_nodes, weighted_edge_list, out_edges), rows "
        "as dicts of payloads. ladybug: Cypher on an in-memory database, all rows fetched into Python "
        "(get_all). Ratio > 1 means velarto is faster.")
    medians: dict = {}
    for size in sizes:
        node_rows, edge_rows = oriented_records(size, size)
        g = build_velarto(node_rows, edge_rows)
        hop_rows = oriented_records(max(size // 10, 50), size, seed=11)
        g2 = build_velarto(*hop_rows)
        graphs = {"one": (g, (node_rows, edge_rows)), "two": (g2, hop_rows)}
        peer_graphs = {}
        folder = tempfile.mkdtemp(prefix="velarto-bench-")
        try:
            for key, (_, records) in graphs.items():
                entry = {}
                if rx is not None:
                    entry["rustworkx"] = rustworkx_workloads(rustworkx_graph(*records))
                if lb is not None:
                    sub = os.path.join(folder, key)
                    os.mkdir(sub)
                    db = Ladybug(*records, sub)
                    db.write_csv()
                    db.load()
                    entry["ladybug"] = db
                peer_graphs[key] = entry
            for name in velarto_workloads(g):
                key = "two" if "two-hop" in name else "one"
                graph, records = graphs[key]
                native = velarto_workloads(graph)[name]
                plain = python_workloads(graph)[name]
                dict_scanned = graph.nodes if name in NODE_SCANS else graph.edges
                expected = row_count(native())
                check(f"plain Python {name}", expected, row_count(plain()))
                fns = {"velarto": native, "floor": lambda d=dict_scanned: list(d.values()), "python": plain}
                hand = hand_written(graph).get(name)
                if hand is not None:
                    check(f"hand-written Python {name}", expected, row_count(hand()))
                    fns["hand"] = hand
                if name.startswith("two-hop") and not name.startswith("return_count"):
                    tuples = [(r["a"], r["r1"], r["b"], r["r2"], r["c"]) for r in native()]
                    fns["rows floor"] = lambda t=tuples: [{"a": a, "r1": r1, "b": b, "r2": r2, "c": c}
                                                          for a, r1, b, r2, c in t]
                peer = peer_graphs[key]
                if "rustworkx" in peer and name in peer["rustworkx"]:
                    fn = peer["rustworkx"][name]
                    check(f"rustworkx {name}", expected, row_count(fn()))
                    fns["rustworkx"] = fn
                if "ladybug" in peer and name in CYPHER:
                    fn = lambda db=peer["ladybug"], q=CYPHER[name]: db.query(q)  # noqa: E731
                    check(f"ladybug {name}", expected, row_count(fn()))
                    fns["ladybug"] = fn
                m = measure(fns)
                medians[(name, size)] = m["velarto"]
                n_nodes, n_edges = len(graph.nodes), len(graph.edges)
                label = f"{n_nodes:,} / {n_edges:,}"
                noise = spread_of(m)
                main.add(name, label, f"{expected:,}", format_time(m["velarto"]), format_time(m["floor"]),
                         x(m["velarto"], m["floor"]), format_time(m["python"]), x(m["python"], m["velarto"]),
                         pct(noise))
                if "hand" in m:
                    main.add("  the same, Python check written by hand", label, f"{expected:,}",
                             format_time(m["velarto"]), format_time(m["floor"]), x(m["velarto"], m["floor"]),
                             format_time(m["hand"]), x(m["hand"], m["velarto"]), pct(noise))
                if "rows floor" in m:
                    mark("(extra) two-hop within 4x of building the same rows from tuples", f"@ {label}",
                         m["velarto"] <= 4 * m["rows floor"], x(m["velarto"], m["rows floor"]))
                    main.add("  the same, floor = building the same rows from tuples", label, f"{expected:,}",
                             format_time(m["velarto"]), format_time(m["rows floor"]),
                             x(m["velarto"], m["rows floor"]), "", "", pct(noise))
                if name in SCAN_MARKED:
                    mark("every scan within 4x of its floor", f"{name} @ {label}",
                         m["velarto"] <= 4 * m["floor"], x(m["velarto"], m["floor"]))
                if name.startswith("projection"):
                    mark("projection within 1.5x of the comprehension", f"@ {label}",
                         m["velarto"] <= 1.5 * m["python"], x(m["velarto"], m["python"]) + " of the comprehension")
                target_marks(name, label, size, m)
                if "ladybug" in m:
                    LADYBUG_QUERY_MEDIANS.setdefault(size, {})[name] = m["ladybug"]
                if "rustworkx" in m or "ladybug" in m:
                    peers.add(name, label, f"{expected:,}", format_time(m["velarto"]),
                              format_time(m["rustworkx"]) if "rustworkx" in m else "-",
                              x(m["rustworkx"], m["velarto"]) if "rustworkx" in m else "-",
                              format_time(m["ladybug"]) if "ladybug" in m else "-",
                              x(m["ladybug"], m["velarto"]) if "ladybug" in m else "-")
        finally:
            for entry in peer_graphs.values():
                if "ladybug" in entry:
                    entry["ladybug"].close()
            shutil.rmtree(folder, ignore_errors=True)
    main.note("node scans run on a graph of N nodes and N edges; the two-hop runs on N/10 nodes and N edges "
              "(10,000 / 100,000 at N = 100,000), about 10 N rows.")
    main.note("plain Python: comprehensions over g.nodes.values() / g.edges.values(); schemas through "
              "python_equivalents.schema_matches (a general text-walking matcher); the two-hop indexes the "
              "edges by start uid first. The rows written by hand replace the general matcher by a check "
              "specialised to the one schema.")
    main.show()
    if rx is None and lb is None:
        peers.note("rustworkx and ladybug are not installed: no peer figures.")
    peers.note("the graph is oriented (no self-loop, no parallel or antiparallel edge), so every engine's "
               "matching rule gives the same rows; every peer's row count was checked against velarto's.")
    peers.note("ladybug has no type schemas: `$T5$` is written as the same equality as the exact type.")
    peers.show()
    return medians


def target_marks(name: str, label: str, size: int, m: dict) -> None:
    """The performance targets of the query engine, judged on this row's medians."""
    v = m["velarto"]
    at = f"@ {label}"
    if name == "two-hop (a)-[r1]->(b)-[r2]->(c)":
        mark("target: two-hop rows at least 1.5x faster than plain Python", at, m["python"] >= 1.5 * v,
             x(m["python"], v) + " faster")
        if "rustworkx" in m:
            mark("target: two-hop rows ahead of rustworkx", at, m["rustworkx"] > v, x(m["rustworkx"], v) + " faster")
    elif name == "return_count, two-hop":
        mark("target: two-hop count at least 5x faster than plain Python (out-degree sum)", at,
             m["python"] >= 5 * v, x(m["python"], v) + " faster")
        if "ladybug" in m:
            if size < 100_000:
                mark("target: two-hop count ahead of ladybug below 100,000 edges", at, m["ladybug"] > v,
                     x(m["ladybug"], v) + " faster")
            else:
                mark("target: two-hop count within 2x of ladybug at 100,000 edges and more", at,
                     v <= 2 * m["ladybug"], x(v, m["ladybug"]) + " of ladybug's time")
    elif name == "projection match(node=n).return_(n)":
        mark("target: projection within 1.25x of the comprehension", at, v <= 1.25 * m["python"],
             x(v, m["python"]) + " of the comprehension")
        if "rustworkx" in m:
            mark("target: projection ahead of rustworkx", at, m["rustworkx"] > v, x(m["rustworkx"], v) + " faster")
    elif name in ("node match by schema $T5$", "node match by property kind=3"):
        mark("target: node match by schema / property within 4x of list(g.nodes.values())", f"{name} {at}",
             v <= 4 * m["floor"], x(v, m["floor"]))
    elif name == "return_count, edge scan $A -> B$":
        mark("target: edge scan count within 6x of list(g.edges.values())", at, v <= 6 * m["floor"],
             x(v, m["floor"]))


def two_hop_scaling(sizes, medians) -> None:
    if len(sizes) < 2:
        return
    table = Markdown("Two-hop scaling", ["workload", "sizes", "size ratio", "time ratio"],
                     "The same two-hop query at the smallest and largest size of the run.")
    small, big = min(sizes), max(sizes)
    for name in ("two-hop (a)-[r1]->(b)-[r2]->(c)", "return_count, two-hop"):
        ratio = medians[(name, big)] / medians[(name, small)]
        table.add(name, f"{max(small // 10, 50):,}/{small:,} -> {big // 10:,}/{big:,}", x(big, small), f"{ratio:.2f}x")
    table.note("a time ratio near the size ratio means the cost grows linearly with the graph.")
    table.show()


def builder_chain() -> None:
    table = Markdown("Builder chain", ["chain", "1,000 calls", "10,000 calls", "time ratio (size ratio 10x)"],
                     "`q = q.match(node='n', type=T5)` repeated on one query; then the same chain run by "
                     "return_count() on a graph of 10 nodes.")
    g = build_velarto(*oriented_records(10, 10))

    def chain(n):
        q = g.query()
        for _ in range(n):
            q = q.match(node="n", type=T5)
        return q

    chains = {n: chain(n) for n in (1_000, 10_000)}
    m = measure({"build 1k": lambda: chain(1_000), "build 10k": lambda: chain(10_000),
                 "run 1k": lambda: chains[1_000].return_count(), "run 10k": lambda: chains[10_000].return_count()})
    for what in ("build", "run"):
        small, big = m[f"{what} 1k"], m[f"{what} 10k"]
        table.add("building the chain" if what == "build" else "running it (return_count)",
                  format_time(small), format_time(big), f"{big / small:.2f}x")
        mark("builder chain linear (10x calls within 12.5x time)", what, big / small <= 12.5,
             f"{big / small:.2f}x for 10x calls")
    table.note(f"noise: spread of the 10k build timings {pct(relative_spread(m['_samples']['build 10k']))}")
    table.show()


def chain_graph_of(hops: int):
    """One chain of `hops` edges, P0 -> P1 -> ... -> P{hops}, and the pattern that walks all of it."""
    g = velarto.Graph()
    nodes = [Node(Variable(f"P{i}")) for i in range(hops + 1)]
    for node in nodes:
        g.nodes[node.uid()] = node
    for i in range(hops):
        edge = Edge(Term(f"h{i}", Application(nodes[i].type, nodes[i + 1].type)), nodes[i], nodes[i + 1])
        g.edges[edge.uid()] = edge
    pattern = "(n0)" + "".join(f"-[r{i}]->(n{i})" for i in range(1, hops + 1))
    return g, pattern


def long_paths(hops: tuple[int, int]) -> None:
    small, big = hops
    table = Markdown("Long paths: an H-hop pattern over a chain of H edges",
                     ["pattern", "hops", "rows", "velarto", "per hop"],
                     "`match('(n0)-[r1]->(n1)-...->(nH)').return_('n0', 'nH')` on a graph that is one chain of H "
                     "edges; the undirected pattern `(n0)-[r1]-(n1)-...` finds it from both ends. The query is "
                     "built once, so the figures are runs, not parsing.")
    for arrow, label, rows_expected in (("->", "directed", 1), ("-", "undirected", 2)):
        fns = {}
        for h in (small, big):
            g, pattern = chain_graph_of(h)
            q = g.query().match(pattern.replace("->", arrow))
            rows = q.return_("n0", f"n{h}")
            check(f"{h}-hop {label} chain", rows_expected, len(rows))
            fns[h] = lambda q=q, h=h: q.return_("n0", f"n{h}")
        m = measure(fns)
        for h in (small, big):
            table.add(label, f"{h:,}", rows_expected, format_time(m[h]), format_time(m[h] / h))
        ratio = m[big] / m[small]
        table.note(f"{label}: {big // small}x the hops took {ratio:.2f}x the time; linear cost gives about "
                   f"{big // small}x.")
        mark(f"target: H-hop linear ({big // small}x the hops within {1.5 * big / small:.0f}x the time)",
             f"{label}, {small:,} -> {big:,} hops", ratio <= 1.5 * big / small, f"{ratio:.2f}x")
    table.show()


SIX_HOP = "(a)-[r1]->(b)-[r2]->(c)-[r3]->(d)-[r4]->(e)-[r5]->(f)-[r6]->(g)"


def early_stop(nodes: int, edges: int) -> None:
    g = build_velarto(*oriented_records(nodes, edges, seed=13))
    q = g.query().match(SIX_HOP)
    limited = g.query().match(SIX_HOP).limit(10)
    full_rows = len(q.return_("a", "g"))
    check("6-hop limit(10)", min(10, full_rows), len(limited.return_("a", "g")))
    table = Markdown("Early stop: a 6-hop match with limit(10) against the full run",
                     ["query", "size", "rows", "time", "ratio to the full run"],
                     f"`match('{SIX_HOP}')` then `return_('a', 'g')`, with and without `limit(10)` before it.")
    m = measure({"full": lambda: q.return_("a", "g"), "limit": lambda: limited.return_("a", "g")})
    label = f"{nodes:,} / {edges:,}"
    table.add("full run", label, f"{full_rows:,}", format_time(m["full"]), "1x")
    table.add("limit(10)", label, "10", format_time(m["limit"]), x(m["limit"], m["full"]))
    mark("target: 6-hop limit(10) within 1/100 of the full run", f"@ {label}, {full_rows:,} paths",
         m["limit"] <= m["full"] / 100, x(m["limit"], m["full"]))
    table.show()


DOOMED = "n.kind < 5"  # half of the nodes of `oriented_records`


def detach_delete(nodes: int, edges: int) -> None:
    """match + where + delete(detach=True) against the same work in plain Python, on a
    graph put back before every sample (a delete cannot simply be repeated)."""
    g = build_velarto(*oriented_records(nodes, edges, seed=17))
    node_dict, edge_dict = g.nodes, g.edges
    saved_nodes, saved_edges = dict(node_dict), dict(edge_dict)

    def restore():
        node_dict.clear()
        node_dict.update(saved_nodes)
        edge_dict.clear()
        edge_dict.update(saved_edges)

    q = g.query().match(node="n").where(DOOMED).delete("n", detach=True)
    matched = g.query().match(node="n").where(DOOMED)

    def python():
        # The same work written well: the nodes the condition keeps, removed by uid
        # into a set, then one pass over the edges against that set.
        doomed = [n for n in node_dict.values() if n.properties["kind"] < 5]
        dead = set()
        for n in doomed:
            uid = n.uid()
            node_dict.pop(uid, None)
            dead.add(uid)
        for key in [key for key, e in edge_dict.items() if e.start.uid() in dead or e.end.uid() in dead]:
            del edge_dict[key]

    restore()
    q.execute()
    left = (list(node_dict), list(edge_dict))
    restore()
    python()
    if (list(node_dict), list(edge_dict)) != left:
        raise SystemExit("detach delete: velarto and plain Python leave different dicts")
    deleted_nodes, deleted_edges = nodes - len(left[0]), edges - len(left[1])
    samples = side_by_side_restored({"velarto": q.execute, "python": python, "match": matched.execute,
                                     "floor": lambda: list(edge_dict.values())},
                                    restore, repeat=OPTIONS.repeat, clock=OPTIONS.clock)
    m = {name: statistics.median(s) for name, s in samples.items()}
    table = Markdown(
        "Delete with detach against plain Python",
        ["workload", "size", "deleted nodes / edges", "velarto", "match + where alone", "plain Python",
         "velarto/Python", "floor", "noise"],
        f"`match(node='n').where('{DOOMED}').delete('n', detach=True).execute()` on the graph of the scans "
        "(half of the nodes deleted), against the same work in plain Python: the nodes the condition keeps, "
        "removed by uid into a set, then one pass over `g.edges.items()` against that set. The graph is put "
        "back before every sample, untimed. floor: `list(g.edges.values())` over the whole edge dict.")
    label = f"{nodes:,} / {edges:,}"
    table.add("detach delete", label, f"{deleted_nodes:,} / {deleted_edges:,}", format_time(m["velarto"]),
              format_time(m["match"]), format_time(m["python"]), x(m["velarto"], m["python"]),
              format_time(m["floor"]), pct(relative_spread(samples["floor"])))
    table.show()
    mark("target: detach delete within 1.5x of plain Python", f"@ {label}", m["velarto"] <= 1.5 * m["python"],
         x(m["velarto"], m["python"]) + " of plain Python's time")


def types_section(sizes) -> None:
    import bench_types

    tables = bench_types.run(sizes)
    print("\n### Types and terms: uid(), hash(), == against plain Python (bench_types.run)\n\n"
          "bench_types' own tables, timed by wall clock: \"plain Python 9.41x slower\" means velarto is "
          "9.41x faster.")
    for table in tables:
        print("```" + table.render() + "\n```")
        for name, _, note in table.rows:
            found = re.search(r"plain Python ([\d.]+)x (slower|faster)", note)
            if not found or not (name.endswith("uid()") or name.startswith("hash(")):
                continue
            factor = float(found.group(1)) if found.group(2) == "slower" else 1 / float(found.group(1))
            mark("uid() and hash() at least 2x faster than plain Python", f"{name} ({table.title.split(' (')[0]})",
                 factor >= 2.0, f"{factor:.2f}x faster")
        for name, seconds, note in table.rows:
            if name == 'Variable("Person").uid()':
                t_plain = next(s for n, s, _ in table.rows if n.startswith("plain-Python uid"))
                mark("uid() and hash() at least 2x faster than plain Python", "Variable.uid() single calls",
                     t_plain / seconds >= 2.0, f"{t_plain / seconds:.2f}x faster")
    print()


def grouping_section(size: int) -> None:
    import bench_grouping

    medians = bench_grouping.run(size, OPTIONS.repeat, OPTIONS.clock, OPTIONS.target)
    table = Markdown(f"Grouped count and average per group, {size:,} nodes (bench_grouping.run)",
                     ["workload", "time", "plain Python / this"],
                     "`match(node=\"p\").return_(\"p.industry\", \"count(*)\")` against `Counter` over a "
                     "comprehension and pandas `groupby().size()` (DataFrame built beforehand)")
    for name, seconds in medians.items():
        table.add(name, format_time(seconds), x(bench_grouping.baseline(name, medians), seconds))
    if bench_grouping.pandas is None:
        table.note("pandas is not installed: its rows are left out")
    table.show()
    factor = medians["plain Python Counter"] / medians["velarto grouped count"]
    mark("grouped count at least 2x faster than plain Python", f"{size:,} nodes", factor >= 2.0,
         f"{factor:.2f}x faster")


def social_section(sizes) -> None:
    import bench_social

    print("\n## Social graph (bench_social.run)\n\nPersons who know each other, live in cities, work at "
          "companies and like tags; nine questions put to velarto, plain Python, networkx, rustworkx and "
          "duckdb (see bench_social.py).", flush=True)
    for name, subject, met, figure in bench_social.run(sorted(set(sizes)), OPTIONS.repeat, OPTIONS.clock,
                                                       OPTIONS.target):
        mark(name, subject, met, figure)


def grand_cypher_section(size: int) -> None:
    if nx is None or grandcypher is None:
        print("\n(grand-cypher not installed: left out)")
        return
    table = Markdown(
        f"networkx + grand-cypher at {size:,} elements",
        ["workload", "size", "rows", "velarto", "grand-cypher", "grand-cypher/velarto"],
        "grand-cypher is slow, so it runs at a smaller size, and velarto runs the same query on the same graph "
        "at that size in the same rounds.")
    one = oriented_records(size, size)
    two = oriented_records(max(size // 10, 50), size, seed=11)
    for name, cypher in GRAND_CYPHER.items():
        records = two if "two-hop" in name else one
        g = build_velarto(*records)
        host = networkx_graph(*records)
        native = velarto_workloads(g)[name]
        peer = lambda host=host, cypher=cypher: grandcypher.GrandCypher(host).run(cypher)  # noqa: E731
        expected = row_count(native())
        check(f"grand-cypher {name}", expected, len(next(iter(peer().values()))))
        samples = side_by_side({"velarto": native, "grand-cypher": peer}, repeat=min(OPTIONS.repeat, 3),
                               target=OPTIONS.target, clock=OPTIONS.clock)
        v, p = statistics.median(samples["velarto"]), statistics.median(samples["grand-cypher"])
        label = f"{len(g.nodes):,} / {len(g.edges):,}"
        table.add(name, label, f"{expected:,}", format_time(v), format_time(p), x(p, v))
        if name.startswith("edge scan") or name.startswith("two-hop"):
            mark("at least 500x faster than grand-cypher (one-hop, two-hop)", f"{name} @ {label}", p / v >= 500,
                 f"{p / v:.0f}x")
    table.note("one-hop = the edge scan with its term condition (r.lt = 'A' AND r.rt = 'B' on the networkx side).")
    table.show()


def ladybug_end_to_end(sizes, medians) -> None:
    if lb is None:
        print("\n(ladybug not installed: left out)")
        return
    table = Markdown(
        "End to end against ladybug: load + query",
        ["workload", "size", "velarto build + query", "ladybug load + query", "ladybug/velarto"],
        "velarto load: building the Graph (types, nodes, terms, edges, uids) from the same plain records. "
        "ladybug load: writing the two CSV files + creating an in-memory database and its tables + COPY. "
        "The query figures are the medians of the peers table above (same run).")
    loads = Markdown("Loading the graph", ["size", "velarto build", "ladybug CSV write", "ladybug create + COPY",
                                           "ladybug load / velarto build"])
    for size in sizes:
        one = oriented_records(size, size)
        two = oriented_records(max(size // 10, 50), size, seed=11)
        folder = tempfile.mkdtemp(prefix="velarto-bench-")
        try:
            build = {}
            for key, records in (("one", one), ("two", two)):
                db = Ladybug(*records, folder)
                fns = {"velarto": lambda r=records: build_velarto(*r), "csv": db.write_csv, "copy": db.load}
                samples = side_by_side(fns, repeat=min(OPTIONS.repeat, 5), target=0.0, clock=OPTIONS.clock)
                db.close()
                build[key] = {k: statistics.median(s) for k, s in samples.items()}
                b = build[key]
                loads.add(f"{size // 10 if key == 'two' else size:,} / {size:,}", format_time(b["velarto"]),
                          format_time(b["csv"]), format_time(b["copy"]), x(b["csv"] + b["copy"], b["velarto"]))
            lb_queries = LADYBUG_QUERY_MEDIANS.get(size, {})
            for name in CYPHER:
                if name not in lb_queries:
                    continue
                b = build["two" if "two-hop" in name else "one"]
                v = b["velarto"] + medians[(name, size)]
                p = b["csv"] + b["copy"] + lb_queries[name]
                label = f"{size // 10 if 'two-hop' in name else size:,} / {size:,}"
                table.add(name, label, format_time(v), format_time(p), x(p, v))
                mark("ahead of ladybug end to end (load + query)", f"{name} @ {label}", p > v, x(p, v))
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    loads.show()
    table.show()


LADYBUG_QUERY_MEDIANS: dict = {}


def memory_section(sizes) -> None:
    holders = ["velarto", "plain Python"] + (["networkx"] if nx is not None else [])
    for size in sizes:
        memory_table(size, holders)


def memory_table(size: int, holders: list[str]) -> None:
    table = Markdown(
        f"Memory per stored element ({size:,} nodes, {size:,} edges)",
        ["holder", "per node (RSS)", "per edge (RSS)", "per node (tracemalloc)", "per edge (tracemalloc)"],
        "Each figure from fresh processes: one builds the nodes only, one the nodes and the edges, from plain "
        "records made beforehand; the growth of the resident set (and, in other runs, of tracemalloc's "
        "count) once the graph is built and the build's helper lists are gone, divided by the element count "
        "(edges: the difference of the two); RSS is read after `malloc_trim(0)`. tracemalloc sees only Python's "
        "allocators: velarto's type nodes and edge cores come from its small-object allocator, while long "
        "names, the intern table and the rest of what C++ takes show in RSS only. plain Python: dicts of tuples "
        "under the same uid keys, `{uid: (type name, properties)}` and `{uid: (term name, type text, start "
        "uid, end uid, properties)}`.")
    figures = {}
    for holder in holders:
        for how in ("rss", "tracemalloc"):
            for stage in ("nodes", "all"):
                out = subprocess.run([sys.executable, os.path.abspath(__file__), "--memory-probe", holder, how, stage,
                                      str(size)], capture_output=True, text=True, check=True).stdout
                figures[(holder, how, stage)] = json.loads(out.strip().splitlines()[-1])
    per = {}
    for holder in holders:
        for how in ("rss", "tracemalloc"):
            nodes, both = figures[(holder, how, "nodes")]["bytes"], figures[(holder, how, "all")]["bytes"]
            per[(holder, how)] = (nodes / size, (both - nodes) / size)
        (rn, re_), (tn, te) = per[(holder, "rss")], per[(holder, "tracemalloc")]
        table.add(holder, f"{rn:.0f} B", f"{re_:.0f} B", f"{tn:.0f} B", f"{te:.0f} B")
    (vn, ve), (pn, pe) = per[("velarto", "rss")], per[("plain Python", "rss")]
    table.note(f"velarto / plain Python (RSS): nodes {vn / pn:.2f}x, edges {ve / pe:.2f}x")
    mark("target: memory per node within 1.2x of plain Python (RSS)", f"@ {size:,}", vn <= 1.2 * pn,
         f"{vn:.0f} B / {pn:.0f} B = {vn / pn:.2f}x")
    mark("target: memory per edge within 1.0x of plain Python (RSS)", f"@ {size:,}", ve <= pe,
         f"{ve:.0f} B / {pe:.0f} B = {ve / pe:.2f}x")
    if nx is not None:
        nn, ne = per[("networkx", "rss")]
        table.note(f"velarto / networkx (RSS): nodes {vn / nn:.2f}x, edges {ve / ne:.2f}x")
    for holder in holders:
        sizes = figures[(holder, "rss", "all")]["getsizeof"]
        table.note(f"sys.getsizeof, {holder}: " + ", ".join(f"{k} {v} B" for k, v in sizes.items()))
    table.note("all hold the same data: a type name, age, name and kind per node; the term name, the type of "
               "the term (velarto: an Application of the node types; networkx: two strings shared with the "
               "nodes; plain Python: its display text) and w per edge. velarto and plain Python also key every "
               "element by its 64-character uid string.")
    table.show()


def plain_graph(node_rows, edge_rows):
    """Dicts of tuples under velarto's uid keys: what a graph written in plain Python would hold."""
    from hashlib import sha256

    def hexdigest(text: str) -> str:
        return sha256(text.encode()).hexdigest()

    nodes, edges, keys = {}, {}, []
    for i, age, name, kind in node_rows:
        type_name = f"T{i}"
        key = hexdigest("node:" + hexdigest("var:" + type_name))
        nodes[key] = (type_name, {"age": age, "name": name, "kind": kind})
        keys.append(key)
    for k, i, j in edge_rows:
        left, right = edge_type_names(k, i, j)
        type_uid = hexdigest("app:" + hexdigest("var:" + left) + ":" + hexdigest("var:" + right))
        term = f"e{k}"
        key = hexdigest("edge:" + hexdigest("term:" + term + ":" + type_uid))
        edges[key] = (term, f"({left} -> {right})", keys[i], keys[j], {"w": k % 100})
    return nodes, edges


def memory_probe(holder: str, how: str, stage: str, size: int) -> None:
    """Runs in a child process: prints one JSON line, the bytes taken by the graph."""
    import gc
    import tracemalloc

    import ctypes

    # Records for the nodes only are made without edges at all: rows made and dropped before the build
    # would leave free memory that the build reuses unseen.
    node_rows, edge_rows = oriented_records(size, size if stage == "all" else 0)
    page = os.sysconf("SC_PAGE_SIZE")
    try:
        trim = ctypes.CDLL(None).malloc_trim
    except (OSError, AttributeError):
        trim = None

    def now():
        gc.collect()
        if how == "tracemalloc":
            return tracemalloc.get_traced_memory()[0]
        if trim is not None:  # hand free heap pages back, so that RSS counts what is in use
            trim(0)
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * page

    if how == "tracemalloc":
        tracemalloc.start()
    before = now()
    if holder == "velarto":
        graph = build_velarto(node_rows, edge_rows)
        after = now()
        node = next(iter(graph.nodes.values()))
        getsizeof = {"Node": sys.getsizeof(node), "node properties": sys.getsizeof(node.properties),
                     "Variable": sys.getsizeof(node.type), "uid key": sys.getsizeof(node.uid())}
        if graph.edges:
            edge = next(iter(graph.edges.values()))
            getsizeof |= {"Edge": sys.getsizeof(edge), "edge properties": sys.getsizeof(edge.properties),
                          "Term": sys.getsizeof(edge.term), "Application": sys.getsizeof(edge.term.type)}
    elif holder == "plain Python":
        graph = plain_graph(node_rows, edge_rows)
        after = now()
        nodes, edges = graph
        getsizeof = {"node tuple": sys.getsizeof(next(iter(nodes.values())))}
        if edges:
            getsizeof["edge tuple"] = sys.getsizeof(next(iter(edges.values())))
    else:
        graph = networkx_graph(node_rows, edge_rows)
        after = now()
        getsizeof = {"node attributes": sys.getsizeof(graph.nodes[0]), "successor dict": sys.getsizeof(graph._succ[0])}
        if edge_rows:
            i, j = next(iter(graph.edges))
            getsizeof["edge attributes"] = sys.getsizeof(graph[i][j])
    print(json.dumps({"bytes": after - before, "getsizeof": getsizeof}))


def machine() -> str:
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{model}, {os.cpu_count()} cores, Python {platform.python_version()}, velarto from "
            f"{os.path.dirname(velarto.__file__)}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[10_000, 100_000])
    parser.add_argument("--quick", action="store_true", help="a fast smoke run")
    parser.add_argument("--repeat", type=int, default=7, help="rounds per figure (slow calls get 3)")
    parser.add_argument("--clock", choices=["wall", "cpu"], default="wall",
                        help="wall time (default) or this process's CPU time (steadier on a busy machine; "
                             "for ladybug's threads it adds up their CPU time)")
    parser.add_argument("--grand-cypher-size", type=int, default=None,
                        help="nodes (and edges) of grand-cypher's graph; default: 10,000 (1,000 with --quick)")
    parser.add_argument("--skip", nargs="*", default=[],
                        choices=["scans", "chain", "types", "grouping", "grand-cypher", "ladybug-e2e", "paths",
                                 "limit", "delete", "memory", "social"])
    parser.add_argument("--social-sizes", type=int, nargs="+", default=None,
                        help="persons of the social graph (about 10 edges each); default: 10000 100000 "
                             "(2000 with --quick)")
    parser.add_argument("--memory-probe", nargs=4, metavar=("HOLDER", "HOW", "STAGE", "SIZE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_probe:
        holder, how, stage, size = args.memory_probe
        memory_probe(holder, how, stage, int(size))
        return
    sizes = sorted(set(args.sizes))
    OPTIONS.repeat, OPTIONS.target = args.repeat, 0.02
    OPTIONS.clock = time.process_time if args.clock == "cpu" else time.perf_counter
    gc_size = args.grand_cypher_size or 10_000
    if args.quick:
        sizes = [1_000, 5_000] if args.sizes == [10_000, 100_000] else sizes
        OPTIONS.repeat, OPTIONS.target = 3, 0.005
        gc_size = args.grand_cypher_size or 500
    started = time.time()
    load_start = os.getloadavg()
    print(f"# velarto benchmarks\n\nmachine: {machine()}\nsizes: {', '.join(f'{s:,}' for s in sizes)}; "
          f"{OPTIONS.repeat} interleaved rounds per figure (3 for calls over 1 s); clock: "
          f"{'CPU time of this process' if args.clock == 'cpu' else 'wall time'}\n"
          f"load average at start: {load_start[0]:.2f}", flush=True)

    medians = {}
    if "scans" not in args.skip:
        medians = scans(sizes)
        two_hop_scaling(sizes, medians)
    if "chain" not in args.skip:
        builder_chain()
    if "types" not in args.skip:
        types_section(tuple(sizes))
    if "grouping" not in args.skip:
        grouping_section(max(sizes))
    if "grand-cypher" not in args.skip:
        grand_cypher_section(gc_size)
    if "ladybug-e2e" not in args.skip and medians:
        ladybug_end_to_end(sizes, medians)
    if "paths" not in args.skip:
        long_paths((100, 1_000) if args.quick else (400, 4_000))
    if "limit" not in args.skip:
        early_stop(*((300, 900) if args.quick else (1_000, 3_000)))
    if "delete" not in args.skip:
        detach_delete(*((4_000, 8_000) if args.quick else (64_000, 128_000)))
    if "memory" not in args.skip:
        memory_section(sizes)
    if "social" not in args.skip:
        social_section(args.social_sizes or ([2_000] if args.quick else [10_000, 100_000]))

    summary = Markdown("Marks", ["mark", "subject", "met", "figure"])
    for name, subject, met, figure in MARKS:
        summary.add(name, subject, "yes" if met else "NO", figure)
    summary.show()
    load_end = os.getloadavg()
    if NOISE:
        print(f"\nnoise: relative spread of the floor timings over {len(NOISE)} rows: median {pct(statistics.median(NOISE))}, "
              f"max {pct(max(NOISE))}" + (f"; interquartile range / median: median {pct(statistics.median(IQR))}, "
                                          f"max {pct(max(IQR))}" if IQR else ""))
    print(f"load average at start {load_start[0]:.2f}, at end {load_end[0]:.2f}; "
          f"run took {time.time() - started:.0f} s")


if __name__ == "__main__":
    main()
