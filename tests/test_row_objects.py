"""Node and Edge objects of query rows that read their value where the run keeps it.

They must behave exactly as objects holding their own copy: the same parts,
the very same properties dict, and an assignment to `properties` that changes
that one object only, while the rows, the bindings and the graph keep theirs.
"""
from __future__ import annotations

import copy
import gc
import pickle

import pytest

from small_graphs import add_edge, graph_with

TWO_HOP = "(a)-[r]->(b)-[s]->(c)"


def hub():
    """A -> B -> C and B -> D: edge `f` appears in two rows, node B in both."""
    graph, nodes = graph_with("A", "B", "C", "D")
    add_edge(graph, "f", nodes["A"], nodes["B"], None, w=1)
    add_edge(graph, "g", nodes["B"], nodes["C"])
    add_edge(graph, "h", nodes["B"], nodes["D"])
    return graph, nodes


@pytest.mark.parametrize("key", ["r", "b"])
def test_assigning_properties_changes_that_object_only(key):
    graph, _ = hub()
    rows = graph.query().match(TWO_HOP).return_("a", "r", "b", "s", "c")
    first, second = rows[0][key], rows[1][key]
    shared = first.properties
    assert shared is second.properties
    first.properties = {"new": True}
    assert first.properties == {"new": True}
    assert second.properties is shared
    # The object now holds its own value: its other parts are unchanged.
    assert (first.uid(), str(first)) == (second.uid(), str(second))
    stored = next(v for v in (graph.edges if key == "r" else graph.nodes).values() if v.uid() == first.uid())
    assert stored.properties is shared


def test_a_key_written_through_a_row_reaches_the_stored_edge_and_later_rows():
    graph, _ = hub()
    query = graph.query().match(TWO_HOP)
    rows = query.return_("r")
    rows[0]["r"].properties["seen"] = 1
    assert graph.edges[rows[0]["r"].uid()].properties == {"w": 1, "seen": 1}
    assert [row["r"].properties for row in query.return_("r")] == [{"w": 1, "seen": 1}] * 2


def test_row_objects_outlive_their_query_and_graph():
    graph, _ = hub()
    rows = graph.query().match(TWO_HOP).return_("a", "r", "b", "s", "c")
    del graph
    gc.collect()
    assert [(str(row["a"].type), row["r"].term.name, str(row["b"].type), row["s"].term.name, str(row["c"].type))
            for row in rows] == [("A", "f", "B", "g", "C"), ("A", "f", "B", "h", "D")]
    assert rows[1]["r"].start.properties == {}
    assert rows[0]["r"].properties == {"w": 1}
    rows.pop(0)
    gc.collect()
    assert rows[0]["s"].end.type.name == "D"


@pytest.mark.parametrize("roundtrip", [copy.copy, copy.deepcopy, lambda v: pickle.loads(pickle.dumps(v))])
def test_row_objects_copy_and_pickle_like_any_other(roundtrip):
    graph, _ = hub()
    row = graph.query().match(TWO_HOP).return_("a", "r")[0]
    for value in (row["a"], row["r"]):
        again = roundtrip(value)
        assert type(again) is type(value)
        assert again.uid() == value.uid()
        assert again.properties == value.properties


def test_a_row_edge_stored_into_a_graph_is_matched_and_written_like_its_own():
    graph, _ = hub()
    row = graph.query().match(TWO_HOP).return_("r")[0]
    other, nodes = graph_with("X")
    other.nodes.update(graph.nodes)
    other.edges["kept"] = row["r"]
    assert [r["r"].term.name for r in other.query().match("(a)-[r]->(b)").return_("r")] == ["f"]
    other.query().match("(a)-[r]->(b)").set("r", {"w": 5}).execute()
    assert row["r"].properties["w"] == 5  # the same dict: the set wrote into it


def test_node_match_rows_read_in_place_and_take_their_own_value_when_assigned():
    graph, _ = hub()
    rows = graph.query().match(node="n").skip(1).return_("n")
    assert [str(row["n"].type) for row in rows] == ["B", "C", "D"]
    stored = graph.nodes[rows[0]["n"].uid()]
    rows[0]["n"].properties = {"x": 1}
    assert stored.properties == {} and rows[0]["n"].properties == {"x": 1}
    assert rows[1]["n"].properties is graph.nodes[rows[1]["n"].uid()].properties
    del graph, stored
    gc.collect()
    assert [str(row["n"].type) for row in rows] == ["B", "C", "D"]


class AssignsOnEq:
    """A property value whose `==` gives a stored node a new properties dict."""

    def __init__(self, node):
        self.node = node

    def __eq__(self, other):
        self.node.properties = {"late": True}
        return True

    __hash__ = object.__hash__


@pytest.mark.parametrize("how", ["plain", "by schema", "by property"])
@pytest.mark.parametrize("finish", ["return_", "return_count"])
def test_a_node_match_reads_what_it_saw_when_python_code_runs_before_the_first_read(how, finish):
    # A later step's `==` gives a matched node a new properties dict before
    # anything reads the match's values (a run that ends in a count holds the
    # dict's objects until then). The rows, and the `where` after that step,
    # must see the dict the match saw.
    graph, nodes = hub()
    seen = nodes["A"].properties
    seen["k"] = 1
    edge = next(iter(graph.edges.values()))
    edge.properties["w"] = AssignsOnEq(nodes["A"])
    match = {"plain": {}, "by schema": {"type_schema": "$A$"}, "by property": {"properties": {"k": 1}}}[how]
    q = graph.query().match(node="n", **match).match(edge="e", properties={"w": 1}).where("n.k = 1")
    if finish == "return_":
        rows = q.return_("n")
        assert len(rows) == 1 and rows[0]["n"].properties is seen
    else:
        assert q.return_count() == 1
    assert graph.nodes[nodes["A"].uid()].properties == {"late": True}

