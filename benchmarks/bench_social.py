"""A social graph asked nine questions, by velarto and by the same work elsewhere.

    python benchmarks/bench_social.py                        # 10,000 and 100,000 persons
    python benchmarks/bench_social.py --sizes 10000 --clock cpu

Persons know about seven others each (heavy-tailed both ways), live in a
city, work at a company and like up to three tags (social_graph.py). The
questions (social_queries.py) go from one person's friends to the directed
triangles of the whole graph; each is put to velarto, to plain Python over
lists and adjacency lists, and to networkx, rustworkx and duckdb where they
import. Every answer's row count (or count) is checked against velarto's
before anything is timed; a difference is reported in the table, not hidden.

Figures are medians of interleaved rounds (common.side_by_side). Two things
are particular to this workload:
- a point question (1 to 3) is also timed on its first run: before each such
  sample the graph's dicts are written to (their last entry popped and put
  back, untimed), so that whatever velarto keeps between runs is made again;
- the questions that enumerate many paths (4 and 9) first run once in a
  forked child stopped after a CPU budget, so a slow engine cannot hold the
  run for minutes; a call over ONCE_ABOVE seconds keeps that single timing
  instead of rounds.
It is also a section of run.py (`--skip social`, `--social-sizes`).
"""
from __future__ import annotations

import argparse
import gc
import json
import os
import random
import resource
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import Markdown, format_time, optional, side_by_side, x  # noqa: E402
import social_graph  # noqa: E402
import social_queries  # noqa: E402


nx = optional("networkx")
rx = optional("rustworkx")
duckdb = optional("duckdb")
pandas = optional("pandas")

PEERS = ("networkx", "rustworkx", "duckdb")
HOLDERS = ("velarto", "plain Python") + PEERS
QUESTIONS = {
    1: "1. friends of {who}",
    2: "2. friends-of-friends count of {who}",
    3: "3. distinct persons within 1..3 hops of {who}",
    4: "4. the same from 100 persons (distinct p, f)",
    5: "5. friends-of-friends count, everyone",
    6: "6. persons per city, average age",
    7: "7. over 30 knowing someone of their city, sorted",
    8: "8. persons with no likes (NOT exists)",
    9: "9. directed triangles over knows (x3 rotations)",
}
POINT = (1, 2, 3)
HEAVY = (4, 9)
ONCE_ABOVE = 10.0  # seconds: a call this slow is timed once, not in rounds


def row_count(result) -> int:
    return result if isinstance(result, int) else len(result)


def bounded_once(call, clock, limit: float):
    """One call in a forked child, stopped after `limit` seconds of CPU (or when it
    asks for 12 GB more address space): ("done", seconds, rows), ("stopped", limit)
    or ("failed", message)."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child: its CPU clock starts at zero
        os.close(read_end)
        try:
            seconds = int(limit) + 1
            resource.setrlimit(resource.RLIMIT_CPU, (seconds, seconds + 5))
            with open("/proc/self/statm") as f:
                address_space = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
            resource.setrlimit(resource.RLIMIT_AS, (address_space + (12 << 30), resource.RLIM_INFINITY))
            gc.disable()
            start = clock()
            rows = row_count(call())
            report = ["done", clock() - start, rows]
        except BaseException as error:  # noqa: BLE001 - told to the parent
            report = ["failed", f"{type(error).__name__}: {error}"]
        os.write(write_end, json.dumps(report).encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        data = pipe.read()
    os.waitpid(pid, 0)
    return tuple(json.loads(data)) if data else ("stopped", limit)


def first_runs(call, graph, repeat: int, clock) -> list:
    """Seconds of `call` right after the graph's dicts were written to (untimed)."""
    samples = []
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            for table in (graph.nodes, graph.edges):
                key, value = table.popitem()
                table[key] = value
            start = clock()
            call()
            samples.append(clock() - start)
    finally:
        if enabled:
            gc.enable()
    return samples


class Setup:
    """One size: the records, every holder's questions, the persons asked about."""

    def __init__(self, persons: int):
        self.persons = persons
        self.rec = social_graph.records(persons)
        self.build_seconds: dict = {}
        self.notes: list[str] = []
        start = time.process_time()
        self.graph = social_graph.build_velarto(self.rec)
        self.build_seconds["velarto"] = time.process_time() - start
        self.queries = {"velarto": social_queries.velarto_queries(self.graph)}
        start = time.process_time()
        plain = social_graph.PlainSocial(self.rec)
        self.build_seconds["plain Python"] = time.process_time() - start
        self.queries["plain Python"] = social_queries.plain_queries(plain)
        id_of = plain.id_of  # the peers' index by name: none of the graph libraries has one
        if nx is not None:
            start = time.process_time()
            graphs = social_graph.networkx_graphs(nx, self.rec)
            self.build_seconds["networkx"] = time.process_time() - start
            self.queries["networkx"] = social_queries.networkx_queries(nx, *graphs, id_of)
        if rx is not None:
            start = time.process_time()
            knows, other, _ = social_graph.rustworkx_graphs(rx, self.rec)
            self.build_seconds["rustworkx"] = time.process_time() - start
            self.queries["rustworkx"] = social_queries.rustworkx_queries(knows, other, id_of, persons)
        if duckdb is not None and pandas is not None:
            start = time.process_time()
            self.con = social_graph.duckdb_connection(duckdb, pandas, self.rec)
            self.build_seconds["duckdb"] = time.process_time() - start
            self.queries["duckdb"] = social_queries.duckdb_queries(self.con)
        for peer in PEERS:
            if peer not in self.queries:
                self.notes.append(f"{peer} does not import here: left out.")
        degree = [len(f) for f in plain.out_knows]
        typical = statistics.median_low(degree)
        self.typical, self.hub = degree.index(typical), degree.index(max(degree))
        self.degree = degree
        self.hundred = [social_graph.person_name(i) for i in random.Random(11).sample(range(persons), 100)]

    def label(self) -> str:
        return f"{len(self.graph.nodes):,} nodes / {len(self.graph.edges):,} edges"


def run(sizes, repeat: int = 7, clock=time.perf_counter, target: float = 0.02, limit: float = 120.0) -> list:
    """Measures every size and prints its table when done; returns the marks, as
    (mark, subject, met, figure)."""
    marks = []
    for persons in sizes:
        table, size_marks = measure_size(Setup(persons), repeat, clock, target, limit)
        table.show()
        marks.extend(size_marks)
    return marks


def measure_size(s: Setup, repeat: int, clock, target: float, limit: float):
    table = Markdown(
        f"Social graph, {s.persons:,} persons ({s.label()})",
        ["question", "rows", *HOLDERS, "velarto / plain Python", "velarto / best peer"],
        "Times per call; the ratios are velarto's time over the other's (below 1: velarto is faster). "
        "best peer: the fastest of networkx, rustworkx and duckdb on that row.")
    medians: dict = {}

    def row(number: int, label: str, argument, fns: dict) -> None:
        expected, once = None, None
        velarto = fns["velarto"]
        if number in HEAVY:
            outcome = bounded_once(lambda: velarto(argument), clock, limit)
            if outcome[0] != "done":
                once = outcome
            else:
                expected = outcome[2]
                if outcome[1] > ONCE_ABOVE:
                    once = outcome
        else:
            expected = row_count(velarto(argument))
        timed = {}
        if once is None:
            timed["velarto"] = lambda: velarto(argument)
        differ = []
        for holder in HOLDERS[1:]:
            if holder not in fns:
                continue
            got = row_count(fns[holder](argument))
            if expected is not None and got != expected:
                differ.append(f"{holder} {got:,}")
            timed[holder] = lambda fn=fns[holder]: fn(argument)
        samples = side_by_side(timed, repeat=repeat, target=target, clock=clock)
        m = {holder: statistics.median(times) for holder, times in samples.items()}
        cells = {holder: format_time(v) for holder, v in m.items()}
        if once is not None:
            if once[0] == "done":
                m["velarto"] = once[1]
                cells["velarto"] = format_time(once[1]) + " (once)"
            else:
                cells["velarto"] = f"> {limit:.0f} s (stopped)" if once[0] == "stopped" else "failed"
                table.note(f"{label}: velarto {once[0]}" + (f" ({once[1]})" if once[0] == "failed" else
                                                           f" after {limit:.0f} s of CPU") +
                           "; the peers' counts could not be checked against it.")
        rows_cell = "?" if expected is None else f"{expected:,}"
        if differ:
            rows_cell += " (differ: " + ", ".join(differ) + ")"
            table.note(f"{label}: velarto answers {expected:,} rows, " + ", ".join(differ) + ".")
            marks.append(("social: every holder's answer has velarto's row count", f"{label} @ {s.persons:,}",
                          False, ", ".join(differ)))
        peers = {p: m[p] for p in PEERS if p in m}
        best = min(peers, key=peers.get) if peers else None
        v = m.get("velarto")
        table.add(label, rows_cell, *(cells.get(h, "-") for h in HOLDERS),
                  x(v, m["plain Python"]) if v else "-",
                  f"{x(v, peers[best])} ({best})" if v and best else "-")
        medians[label] = m

    marks: list = []
    who = {"typical": (s.typical, "typical"), "hub": (s.hub, "hub")}
    for number in POINT:
        for kind, (person, word) in who.items():
            name = social_graph.person_name(person)
            label = QUESTIONS[number].format(who=f"{name} ({word}, {s.degree[person]:,} friends)")
            call = lambda q=s.queries["velarto"][number], n=name: q(n)  # noqa: E731
            first = statistics.median(first_runs(call, s.graph, min(repeat, 5), clock))
            table.add(label + ", first run", f"{row_count(call()):,}", format_time(first),
                      *(["-"] * (len(HOLDERS) + 1)))
            row(number, label, name, {h: q[number] for h, q in s.queries.items()})
            point_marks(marks, medians[label], f"{label} @ {s.persons:,}")
    for number in range(4, 10):
        argument = s.hundred if number == 4 else None
        label = QUESTIONS[number]
        row(number, label, argument, {h: q[number] for h, q in s.queries.items()})
        whole_marks(marks, number, medians[label], f"@ {s.persons:,}")
    table.note("first run: before each sample the graph's dicts were written to (last entry popped and put "
               "back, untimed), so what velarto keeps between runs is made again; median of "
               f"{min(repeat, 5)}.")
    table.note(f"(once): one run, in a forked child (calls over {ONCE_ABOVE:.0f} s are not repeated).")
    table.note("built in (CPU): " + ", ".join(f"{h} {format_time(t)}" for h, t in s.build_seconds.items()) + ".")
    for note in s.notes:
        table.note(note)
    return table, marks


def point_marks(marks: list, m: dict, subject: str) -> None:
    v = m.get("velarto")
    if v is None:
        return
    for peer in ("rustworkx", "duckdb"):
        if peer in m:
            marks.append((f"social target: point questions ahead of {peer}", subject, v < m[peer],
                          x(v, m[peer]) + f" of {peer}'s time"))
    marks.append(("social target: point questions within 20x of plain Python", subject,
                  v <= 20 * m["plain Python"], x(v, m["plain Python"])))


def whole_marks(marks: list, number: int, m: dict, at: str) -> None:
    v = m.get("velarto")
    if v is None:
        marks.append((f"social target: question {number}", at, False, "velarto did not finish"))
        return
    subject = f"{QUESTIONS[number].split('. ')[0]}. {at}"
    if number == 4 and "networkx" in m:
        marks.append(("social target: within 1..3 hops from 100 persons within 2x of networkx", subject,
                      v <= 2 * m["networkx"], x(v, m["networkx"])))
    elif number == 9:
        for other in ("rustworkx", "plain Python"):
            if other in m:
                marks.append((f"social target: triangles ahead of {other}", subject, v < m[other],
                              x(v, m[other]) + f" of {other}'s time"))
    elif number in (6, 7, 8):
        marks.append(("social target: grouping, filtered join, anti-join within 1x of plain Python", subject,
                      v <= m["plain Python"], x(v, m["plain Python"])))
        if "duckdb" in m:
            marks.append(("social target: grouping, filtered join, anti-join within 2x of duckdb", subject,
                          v <= 2 * m["duckdb"], x(v, m["duckdb"])))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[10_000, 100_000], help="person counts")
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--clock", choices=["wall", "cpu"], default="wall")
    parser.add_argument("--limit", type=float, default=120.0,
                        help="CPU seconds after which a path-enumerating question is stopped")
    args = parser.parse_args()
    clock = time.process_time if args.clock == "cpu" else time.perf_counter
    marks = run(args.sizes, args.repeat, clock, limit=args.limit)
    summary = Markdown("Social graph: marks", ["mark", "subject", "met", "figure"])
    for name, subject, met, figure in marks:
        summary.add(name, subject, "yes" if met else "NO", figure)
    summary.show()


if __name__ == "__main__":
    main()
