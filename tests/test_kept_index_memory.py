"""The edge index kept between runs goes with its graph: once the edge dict is
freed, the process's resident memory comes back.

The index lives on the C++ heap, where tracemalloc does not look, so each case
runs in a child that reads its resident size from /proc/self/statm, after a
collection and after asking glibc to give back what it holds free. The graphs
are rings of distinct node types, large enough that a kept index is tens of
megabytes: far above what the allocators keep back once all is freed.
"""
from __future__ import annotations

import json
import os
import sys

import pytest

from child_process import run_in_child

pytestmark = [
    pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm"),
    # ASan keeps freed memory in quarantine, so resident memory never comes back.
    pytest.mark.skipif(bool(os.environ.get("VELARTO_SANITIZED")), reason="the sanitizer keeps freed memory"),
]

MB = 1 << 20

MEASURE = """
import ctypes, gc, json, os
from velarto import Edge, Graph, Node, Term, Variable

try:
    trim = ctypes.CDLL(None).malloc_trim
except AttributeError:  # not glibc: nothing to give back
    trim = lambda pad: 0

def resident():
    gc.collect()
    trim(0)
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

def ring(size, prefix):
    graph = Graph()
    nodes = [Node(Variable(f"{prefix}{i}"), {"k": i}) for i in range(size)]
    for node in nodes:
        graph.nodes[node.uid()] = node
    term_type = Variable("T")
    for i in range(size):
        edge = Edge(Term(f"e{i}", term_type), nodes[i], nodes[(i + 1) % size], {})
        graph.edges[edge.uid()] = edge
    return graph

TWO_HOP = "(a)-[r]->(b)-[s]->(c)"
"""

# What a query keeps, and the rows it finds on a ring of `size`.
KEPT = {
    "edge index": ("graph.query().match(TWO_HOP).return_count()", "size"),
    "node table and its property index": ("graph.query().match('(a {k: 7})').return_count()", "1"),
    "property index of the edges' ends": ("graph.query().match('(a {k: 7})-[r]->(b)').return_count()", "1"),
}


def measured(code: str) -> dict:
    return json.loads(run_in_child(MEASURE + code).splitlines()[-1])


# Who drops the last reference to the edge dict. 3.11 has no event for a freed
# dict, so there only the module's own holders (graphs, queries) can report it.
HOLDERS = {
    "graph": "del graph",
    "query": "query = graph.query().match(TWO_HOP)\ndel graph\nquery.return_count()\ndel query",
    "caller": "edges = graph.edges\ndel graph\ndel edges",
}


@pytest.mark.parametrize("last_holder", [
    "graph",
    "query",
    pytest.param("caller", marks=pytest.mark.skipif(
        sys.version_info < (3, 12), reason="3.11 cannot tell that other code freed a dict")),
])
@pytest.mark.parametrize("kept", KEPT)
def test_a_dropped_graph_gives_its_index_back(last_holder, kept):
    query, rows = KEPT[kept]
    sizes = measured(f"""
start = resident()
size = 300_000
graph = ring(size, "N")
built = resident()
assert {query} == {rows}
assert {query} == {rows}
queried = resident()
{HOLDERS[last_holder]}
print(json.dumps({{"index": queried - built, "left": resident() - start}}))
""")
    # Without a kept index there would be nothing to see come back.
    assert sizes["index"] > 5 * MB, sizes
    assert sizes["left"] < sizes["index"] / 2, sizes


def test_graphs_dropped_in_turn_leave_no_index_behind():
    # More graphs than the cache has places: each would push out an older one.
    sizes = measured("""
start = resident()
index = None
for round in range(6):
    graph = ring(150_000, f"G{round}_")
    built = resident()
    assert graph.query().match(TWO_HOP).return_count() == 150_000
    if index is None:  # later ones may reuse memory an older index gave back
        index = resident() - built
    del graph
print(json.dumps({"index": index, "left": resident() - start}))
""")
    assert sizes["index"] > 5 * MB, sizes
    assert sizes["left"] < sizes["index"], sizes
