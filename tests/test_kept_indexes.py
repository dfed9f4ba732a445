"""The edge index kept between runs must never be used once its dict changed.

Each case warms the index with a run, changes the graph in one way, and runs
again: the rows must be those of the graph as it is now, computed here by
walking `g.edges` in order (first hop in dict order, then the second hop's
edges in dict order, never one edge twice).
"""
from __future__ import annotations

import gc

import pytest

from small_graphs import add_edge, add_node, graph_with, labels
from velarto import Edge, Graph, Node, Term, Variable

TWO_HOP = "(a)-[r]->(b)-[s]->(c)"


def expected_two_hops(graph):
    edges = list(graph.edges.values())
    rows = []
    for r in edges:
        for s in edges:
            if s is not r and s.start.uid() == r.end.uid():
                rows.append({"a": str(r.start.type), "r": r.term.name, "b": str(r.end.type),
                             "s": s.term.name, "c": str(s.end.type)})
    return rows


def ring(size: int, prefix: str = "N"):
    graph, nodes = graph_with(*(f"{prefix}{i}" for i in range(size)))
    for i in range(size):
        add_edge(graph, f"e{i}", nodes[f"{prefix}{i}"], nodes[f"{prefix}{(i + 1) % size}"])
    return graph, nodes


def add_chord(graph, nodes):
    add_edge(graph, "chord", nodes["N0"], nodes["N2"])


def delete_first(graph, nodes):
    del graph.edges[next(iter(graph.edges))]


def replace_in_place(graph, nodes):
    # Same key, same size: only the version tells the dict changed.
    key = next(iter(graph.edges))
    graph.edges[key] = Edge(Term("swapped", Variable("T")), nodes["N3"], nodes["N1"], {})


def reorder(graph, nodes):
    # Same edges, another order: a kept index would keep the old order.
    items = list(graph.edges.items())
    graph.edges.clear()
    graph.edges.update(reversed(items))


def new_node_and_edge(graph, nodes):
    extra = add_node(graph, "X")
    add_edge(graph, "to_x", nodes["N1"], extra)


@pytest.mark.parametrize("change", [add_chord, delete_first, replace_in_place, reorder, new_node_and_edge])
def test_a_changed_edge_dict_is_indexed_anew(change):
    graph, nodes = ring(5)
    query = graph.query().match(TWO_HOP)
    assert labels(query.return_("a", "r", "b", "s", "c")) == expected_two_hops(graph)
    change(graph, nodes)
    assert labels(query.return_("a", "r", "b", "s", "c")) == expected_two_hops(graph)
    assert query.return_count() == len(expected_two_hops(graph))


def test_graphs_queried_in_turn_keep_their_own_rows():
    graphs = [ring(size, prefix)[0] for size, prefix in ((3, "P"), (4, "Q"), (5, "R"), (6, "S"), (7, "T"))]
    for _ in range(3):
        for graph in graphs:
            assert labels(graph.query().match(TWO_HOP).return_("a", "r", "b", "s", "c")) == \
                expected_two_hops(graph)


def copy_of(graph):
    """A new graph holding the same elements: its dicts were never indexed."""
    fresh = Graph()
    fresh.nodes.update(graph.nodes)
    fresh.edges.update(graph.edges)
    return fresh


# Five graphs, one more than the indexes kept. After the first four, the most
# recently queried is first: 0 is fourth, then 1, 2, 3 each fourth again;
# 3 first; 2 second, 1 third, 0 fourth; 4 is new; 0 second, 1 third, 2 fourth;
# 3 and 4 were dropped and come back new.
QUERY_ORDER = [0, 1, 2, 3, 0, 1, 2, 3, 3, 2, 1, 0, 4, 0, 1, 2, 3, 4, 4]


def test_graphs_queried_in_any_order_each_read_their_own_index():
    graphs = [ring(size, prefix)[0] for size, prefix in ((3, "P"), (4, "Q"), (5, "R"), (6, "S"), (7, "T"))]

    def rows(graph):
        return labels(graph.query().match(TWO_HOP).return_("a", "r", "b", "s", "c"))

    # Worked out before the sequence, which the fresh graphs' own indexes must not disturb.
    expected = [rows(copy_of(graph)) for graph in graphs]
    for step, which in enumerate(QUERY_ORDER):
        assert rows(graphs[which]) == expected[which], f"step {step}: graph {which} read another graph's edges"


def test_a_graph_made_where_a_freed_one_was_is_indexed_anew():
    # New graphs often reuse a freed graph's memory, dicts included.
    for size in range(3, 40):
        graph, _ = ring(size)
        assert graph.query().match(TWO_HOP).return_count() == size
        del graph
        gc.collect()


def test_properties_are_read_live_under_a_kept_index():
    graph, nodes = ring(4)
    query = graph.query().match("(a)-[r {w: 2}]->(b)")
    assert query.return_count() == 0
    edge = next(iter(graph.edges.values()))
    edge.properties["w"] = 2  # a write into the dict the edge holds
    assert labels(query.return_("r")) == [{"r": "e0"}]
    edge.properties = {"w": 2}  # a new dict on the stored object
    later = list(graph.edges.values())[2]
    later.properties = {"w": 2}
    assert labels(query.return_("r")) == [{"r": "e0"}, {"r": "e2"}]


def test_a_stored_value_that_is_not_an_edge_is_refused_each_time():
    graph, nodes = ring(3)
    assert graph.query().match(TWO_HOP).return_count() == 3
    graph.edges["bad"] = Node(Variable("N0"), {})
    for _ in range(2):
        with pytest.raises(TypeError):
            graph.query().match(TWO_HOP).return_count()
    del graph.edges["bad"]
    assert graph.query().match(TWO_HOP).return_count() == 3


def test_an_empty_graph_and_a_graph_emptied_later():
    graph = Graph()
    assert graph.query().match(TWO_HOP).return_count() == 0
    graph, _ = ring(4)
    assert graph.query().match(TWO_HOP).return_count() == 4
    graph.edges.clear()
    assert graph.query().match(TWO_HOP).return_count() == 0
