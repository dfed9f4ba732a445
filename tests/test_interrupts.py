"""Ctrl-C reaches a long run: loops that run no Python code of their own check
for signals, so an interrupted run raises KeyboardInterrupt, keeps what its
earlier steps wrote, releases what it held and leaves the query usable."""
from __future__ import annotations

import contextlib
import signal
from itertools import permutations

import pytest

from velarto import Application, Edge, Graph, Node, Term, Variable

# A complete graph of 50 nodes: a four-hop chain whose last hop never matches
# walks about 290 million candidates, seconds of work with no result to build.
SIZE = 50
LONG_SEARCH = "(a)-[]->(b)-[]->(c)-[]->(d)-[:Nothing]->(e)"


@pytest.fixture(scope="module")
def complete_graph():
    graph = Graph()
    nodes = []
    for i in range(SIZE):
        node = Node(Variable(f"N{i}"))
        graph.nodes[node.uid()] = node
        nodes.append(node)
    for i, j in permutations(range(SIZE), 2):
        edge = Edge(Term(f"e{i}_{j}", Application(nodes[i].type, nodes[j].type)), nodes[i], nodes[j])
        graph.edges[edge.uid()] = edge
    return graph


@contextlib.contextmanager
def interrupted_after(cpu_seconds: float):
    """Delivers a real signal after the given process CPU time; its handler raises
    KeyboardInterrupt as Ctrl-C's does. Only a loop that checks for signals
    lets the handler run before the loop ends."""
    def handler(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGVTALRM, handler)
    signal.setitimer(signal.ITIMER_VIRTUAL, cpu_seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_VIRTUAL, 0)
        signal.signal(signal.SIGVTALRM, previous)


@pytest.mark.parametrize("finish", ["return_count", "return_", "execute"])
def test_long_chain_search_is_interrupted(complete_graph, finish):
    marker = Variable("Interrupted")
    # The create after the search runs only if the search was not interrupted.
    q = complete_graph.query().match(node="first", type=Variable("N0")).match(LONG_SEARCH)
    q.create(node="m", type=marker)
    nodes_before, edges_before = len(complete_graph.nodes), len(complete_graph.edges)
    with pytest.raises(KeyboardInterrupt), interrupted_after(0.1):
        getattr(q, finish)(*(["a"] if finish == "return_" else []))
    assert Node(marker).uid() not in complete_graph.nodes
    assert (len(complete_graph.nodes), len(complete_graph.edges)) == (nodes_before, edges_before)
    # The query is not left busy: a builder call is accepted again.
    q.skip(0)


def test_interrupted_run_keeps_earlier_writes(complete_graph):
    graph = Graph()
    graph.nodes.update(complete_graph.nodes)
    graph.edges.update(complete_graph.edges)
    marker = Variable("Written")
    q = graph.query().create(node="w", type=marker).match(LONG_SEARCH)
    with pytest.raises(KeyboardInterrupt), interrupted_after(0.1):
        q.execute()
    assert Node(marker).uid() in graph.nodes  # written before the interrupted step


@pytest.fixture(scope="module")
def dense_graph():
    # 160 nodes, every ordered pair joined: about 4 million two-hop chains, counted
    # in a moment and listed in a good part of a second.
    graph = Graph()
    nodes = [Node(Variable(f"D{i}")) for i in range(160)]
    for node in nodes:
        graph.nodes[node.uid()] = node
    for i, j in permutations(range(len(nodes)), 2):
        edge = Edge(Term(f"d{i}_{j}", Application(nodes[i].type, nodes[j].type)), nodes[i], nodes[j])
        graph.edges[edge.uid()] = edge
    return graph


@pytest.mark.parametrize("finish", [lambda q: q.return_("a"), lambda q: q.where("a = a").return_count()],
                         ids=["return_", "where"])
def test_listing_a_counted_match_is_interrupted(dense_graph, finish):
    q = dense_graph.query().match("(a)-[r]->(b)-[s]->(c)")
    chains = 160 * 159 * 159  # a -> b -> a counts: its two edges differ
    assert q.return_count() == chains
    with pytest.raises(KeyboardInterrupt), interrupted_after(0.05):
        finish(q)
    # Nothing half-listed stays behind: the next run lists every row.
    assert dense_graph.query().match("(a)-[r]->(b)-[s]->(c)").limit(3).return_count() == 3
    rows = q.skip(chains - 2).return_("a", "c")
    assert [(str(row["a"].type), str(row["c"].type)) for row in rows] == [("D159", "D157"), ("D159", "D159")]


@pytest.mark.parametrize("match", [{"type_schema": "$*$"}, {"type": Variable("Absent")}, {}],
                         ids=["schema scan", "lookup by type", "plain"])
def test_a_signal_handler_that_empties_the_node_dict_during_a_scan(match):
    # A node scan reads a few entries ahead; a handler that runs while it
    # checks for signals (Python code) may free the nodes it has read ahead.
    # The scan must go on from the dict as the handler left it (under the
    # sanitizer, a read of a freed node fails the run).
    graph = Graph()
    state = {"scanning": False, "during": 0}

    def handler(signum, frame):
        state["during"] += state["scanning"]
        graph.nodes.clear()

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        for _ in range(20):
            graph.nodes.clear()
            graph.nodes.update((node.uid(), node) for node in [Node(Variable(f"N{i}")) for i in range(60_000)])
            signal.setitimer(signal.ITIMER_REAL, 0.0005)  # a precise timer: it falls in the scan
            state["scanning"] = True
            count = graph.query().match(node="n", **match).return_count()
            state["scanning"] = False
            signal.setitimer(signal.ITIMER_REAL, 0)
            if state["during"]:
                break
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert state["during"] == 1 and len(graph.nodes) == 0
    assert count < 60_000 if "type" not in match else count == 0
