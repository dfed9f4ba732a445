"""Readers and writers in several threads at once, for a few seconds: queries
of every kind run while other threads assign properties, replace and delete
elements and run writes. Property values whose `==` lets other threads in
(a `sleep(0)`) put those threads in the middle of scans, searches and
listings. Only results and the documented Python exceptions may come out,
never a crash: the whole run is a child interpreter, whose death fails it."""
from __future__ import annotations

import os

import pytest

from child_process import run_in_child

SECONDS = float(os.environ.get("VELARTO_STRESS_SECONDS", "3"))

STRESS = """
import random, sys, threading, time
from velarto import Application, Edge, Graph, Node, Term, Variable

sys.setswitchinterval(1e-5)  # switch threads as often as the interpreter allows
SECONDS = __SECONDS__


class Yielding:
    # A property value that lets other threads run whenever it is compared.
    def __init__(self, value):
        self.value = value
    def __eq__(self, other):
        time.sleep(0)
        return isinstance(other, Yielding) and other.value == self.value
    __hash__ = None


g = Graph()
nodes = [Node(Variable(f"N{i}"), {"k": i % 5, "y": Yielding(i % 3)}) for i in range(200)]
for node in nodes:
    g.nodes[node.uid()] = node
edges = []
for i in range(800):
    a, b = nodes[i % 200], nodes[(i * 13 + 7) % 200]
    edge = Edge(Term(f"e{i}", Application(a.type, b.type)), a, b, {"k": i % 4, "y": Yielding(i % 2)})
    edges.append(edge)
    g.edges[edge.uid()] = edge

READS = [
    lambda: g.query().match(node="n", properties={"y": Yielding(1)}).return_("n"),
    lambda: g.query().match(node="n").return_("n"),
    lambda: g.query().match(node="n").return_count(),
    lambda: g.query().match("(a)-[r]->(b)-[s]->(c)").limit(5000).return_("a", "s"),
    lambda: g.query().match("(a)-[r]->(b)-[s]->(c)").return_count(),
    lambda: g.query().match("(a)-[r]->(b)-[s]->(c)").where("a = a").limit(3000).return_count(),
    lambda: g.query().match(edge="r", start="a", end="b", properties={"y": Yielding(0)}).return_("r", "b"),
    lambda: g.query().match("(a)-[r*1..2]->(b)").limit(2000).return_("r"),
    lambda: g.query().match(node="n").where("exists((n)-[]->()-[]->())").return_count(),
    lambda: g.query().match(node="n").where("NOT exists((n)<-[]-())").return_("n"),
    lambda: g.query().match("(a)-[r]->(b)").return_("b", "count(*) AS c", "sum(r.k) AS s"),
    lambda: g.query().match("(a)-[r]->(b)").order_by("r", "k").limit(50).return_("r"),
    # searches that start from selected nodes, through kept property indexes
    lambda: g.query().match("(a {k: 1})-[r]->(b)").return_("b"),
    lambda: g.query().match("(a)-[r]->(b {k: 2})-[s]->(c)").return_count(),
    lambda: g.query().match(node="n").where("n.k IN [3, 4] AND n.w IS NULL").return_("n"),
]

rows = []  # row objects shared between threads: they read their values in place
rows_lock = threading.Lock()


def writer(rng):
    choice = rng.randrange(8)
    if choice == 0:
        for node in list(g.nodes.values())[:50]:
            node.properties = {"k": rng.randrange(5), "y": Yielding(rng.randrange(3))}
    elif choice == 1:
        for edge in list(g.edges.values())[:100]:
            edge.properties = {"k": rng.randrange(4), "y": Yielding(rng.randrange(2))}
    elif choice == 2:
        with rows_lock:
            mine = list(rows)
        for row in mine:
            for element in row.values():
                if isinstance(element, Node):
                    g.nodes[element.uid()] = element
                    element.properties = dict(element.properties)
                elif isinstance(element, Edge):
                    g.edges[element.uid()] = element
                    element.properties = dict(element.properties)
    elif choice == 3:
        for key in list(g.edges)[: rng.randrange(20)]:
            g.edges.pop(key, None)
        for edge in rng.sample(edges, 20):
            g.edges[edge.uid()] = edge
    elif choice == 4:
        for key in list(g.nodes)[: rng.randrange(5)]:
            g.nodes.pop(key, None)
        for node in rng.sample(nodes, 5):
            g.nodes[node.uid()] = node
    elif choice == 5:
        g.query().match(node="n", properties={"k": rng.randrange(5)}).set("n", {"w": rng.random()}).execute()
    elif choice == 6:
        g.query().merge(node="m", type=Variable(f"M{rng.randrange(50)}")).execute()
        g.query().match(node="m", type=Variable(f"M{rng.randrange(50)}")).delete("m", detach=True).execute()
    else:
        with rows_lock:
            rows.clear()


ALLOWED = (RuntimeError,)
failures = []
stop = time.monotonic() + SECONDS
counts = {"reads": 0, "writes": 0, "refused": 0}


def run(kind, seed):
    rng = random.Random(seed)
    while time.monotonic() < stop:
        try:
            if kind == "read":
                result = rng.choice(READS)()
                if isinstance(result, list):
                    with rows_lock:
                        rows.extend(result[:50])
                        del rows[:-400]
                counts["reads"] += 1
            else:
                writer(rng)
                counts["writes"] += 1
        except ALLOWED:
            counts["refused"] += 1
        except BaseException as error:  # anything else is a fault
            failures.append(repr(error))
            return


threads = [threading.Thread(target=run, args=(kind, seed))
           for seed, kind in enumerate(["read", "read", "read", "write", "write"])]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert not failures, failures[:5]
assert counts["reads"] > 20 and counts["writes"] > 20, counts
print(counts)
"""


def test_readers_and_writers_in_threads_never_crash():
    output = run_in_child(STRESS.replace("__SECONDS__", repr(SECONDS)), timeout=300)
    assert "reads" in output


# One thread scans with a property map whose `==` lets the other in; the other
# has put row objects into the graph and, once the scan is under way, gives
# them all values of their own, which leaves the store they read from with no
# reader but the scan.
DETACHING = """
import sys, threading, time
from velarto import Application, Edge, Graph, Node, Term, Variable

scan_ready, scan_started, scan_finished = threading.Event(), threading.Event(), threading.Event()


class Yielding:
    def __eq__(self, other):
        scan_started.set()
        time.sleep(0)
        return True
    __hash__ = None


g = Graph()
nodes = [Node(Variable(f"N{i}"), {"y": 0}) for i in range(300)]
for node in nodes:
    g.nodes[node.uid()] = node
for i in range(600):
    a, b = nodes[i % 300], nodes[(i * 7 + 1) % 300]
    edge = Edge(Term(f"e{i}", Application(a.type, b.type)), a, b, {"y": 0})
    g.edges[edge.uid()] = edge

if KIND == "nodes":
    rows = lambda: [row["n"] for row in g.query().match(node="n").return_("n")]
    scan = lambda: len(g.query().match(node="n", properties={"y": Yielding()}).return_("n"))
    table = g.nodes
else:
    rows = lambda: [row["r"] for row in g.query().match(edge="r", start="a", end="b").return_("r")]
    scan = lambda: len(g.query().match(edge="r", start="a", end="b", properties={"y": Yielding()}).return_("r"))
    table = g.edges
stop = time.monotonic() + SECONDS
done = {"scans": 0, "detached": 0}


def scanner():
    while time.monotonic() < stop:
        if not scan_ready.wait(0.05):
            continue
        scan_ready.clear()
        counted = scan()
        assert counted == len(table), (counted, len(table))
        done["scans"] += 1
        scan_finished.set()


def detacher():
    while time.monotonic() < stop:
        elements = rows()
        for element in elements:
            table[element.uid()] = element
        scan_started.clear()
        scan_finished.clear()
        scan_ready.set()
        if not scan_started.wait(5):
            continue
        for element in elements:  # while the scan is reading them
            element.properties = {"y": 1}
        del elements
        done["detached"] += 1
        scan_finished.wait(5)


threads = [threading.Thread(target=scanner), threading.Thread(target=detacher)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert done["scans"] > 5 and done["detached"] > 5, done
print(done)
"""


@pytest.mark.parametrize("kind", ["nodes", "edges"])
def test_a_thread_detaches_row_objects_while_another_scans(kind):
    code = DETACHING.replace("KIND", repr(kind)).replace("SECONDS", repr(SECONDS / 2))
    assert "scans" in run_in_child(code, timeout=300)
