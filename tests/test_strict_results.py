"""Result items and property access that used to answer nothing, silently.

An item of `return_`, `return_distinct` or `with_` is a variable's name, its
`name.key`, or an expression; anything else is refused when the method is
called, at its column. A computed item of `with_` needs an alias. Reading a property of something that has none (the edge list of a
variable-length edge) is a TypeError at the '.'. Columns are counted by hand
in code points from 1.
"""
from __future__ import annotations

import pytest

from small_graphs import add_edge, add_node
from velarto import Graph, Variable


@pytest.fixture(scope="module")
def g() -> Graph:
    """A -f-> B -h-> C, each edge with since, each node with name and x."""
    graph = Graph()
    a = add_node(graph, "A", name="a", x=1)
    b = add_node(graph, "B", name="b", x=2)
    c = add_node(graph, "C", name="c", x=3)
    add_edge(graph, "f", a, b, since=2019)
    add_edge(graph, "h", b, c, since=2021)
    return graph


def refusal(call) -> str:
    with pytest.raises(ValueError) as caught:
        call()
    return str(caught.value)


# --- return_ and return_distinct ------------------------------------------------------------------

@pytest.mark.parametrize("item, column", [
    ("CASE WHEN n.x > 1 THEN 'big' AS c", 30),     # no END
    ("length(r)", 1),                               # unknown function
    ("n.l[0 AS i", 7),                              # the index is not closed
    ("count(count(*))", 7),
    ("sum(n.x, 1)", 1),
    ("count(*) AS", 12),
    ("n.name AS", 10),
    ("a b", 3),
    ("n.first name", 9),
    ("", 1),
])
@pytest.mark.parametrize("method", ["return_", "return_distinct"])
def test_an_item_that_is_no_expression_is_refused_at_its_column(g, method, item, column):
    message = refusal(lambda: getattr(g.query().match(node="n"), method)(item))
    assert message.startswith("Invalid query: ")
    assert message.endswith(f" at column {column} in '{item}'")


def test_a_refused_item_stops_the_call_before_anything_runs(g):
    query = g.query().create(node="x", type=Variable("New"))
    refusal(lambda: query.return_("x", "length(x)"))
    assert len(g.nodes) == 3


def test_names_of_any_text_and_their_keys_keep_their_meaning(g):
    query = g.query().match(node="my var").limit(1)
    assert query.return_("my var.name", "`my var`.x * 10 AS big") == [{"my var.name": "a", "big": 10}]
    query = g.query().match(node="n").limit(1)
    assert query.return_("zzz", "zzz.k", "n.name") == [{"n.name": "a"}]  # unbound: no key


# --- with_ ------------------------------------------------------------------------------------------

@pytest.mark.parametrize("item, column", [
    ("count(*)", 1),         # computed items need an alias
    ("n.name", 2),           # a property is computed: it points at the '.'
    ("n.x * 2", 5),
    ("a b", 3),
    ("length(n)", 1),
])
def test_with_refuses_what_is_not_a_name_or_aliased_when_called(g, item, column):
    query = g.query().match(node="n")
    message = refusal(lambda: query.with_("n", item))
    assert message.startswith("Invalid query: ") and message.endswith(f" at column {column} in '{item}'")
    assert len(query.return_("n")) == 3  # nothing was recorded


def test_with_keeps_names_of_any_text(g):
    query = g.query().match(node="my var").match(node="n").with_("my var", "unbound")
    assert [list(row) for row in query.return_("my var", "n")] == [["my var"]] * 3


# --- property access --------------------------------------------------------------------------------

def chains(graph):
    return graph.query().match("(a)-[r*1..2]->(b)")


@pytest.mark.parametrize("condition, column", [
    ("r.since = 2019", 2),
    ("size(r) > 0 AND r.since IS NULL", 18),
    ("b.x < 1 OR r.since > 0", 13),  # b.x < 1 is false: r is read
])
def test_a_property_of_an_edge_list_is_a_type_error_in_where(g, condition, column):
    with pytest.raises(TypeError) as caught:
        chains(g).where(condition).return_("r")
    assert str(caught.value) == f"cannot read property 'since' of a list at column {column} in '{condition}'"


@pytest.mark.parametrize("items, text, column", [
    (("r.since",), "r.since", 2),              # a plain name.key item
    (("b", "r.since"), "r.since", 2),
    (("r.since AS s",), "r.since AS s", 2),
    (("count(r.since)",), "count(r.since)", 8),
])
@pytest.mark.parametrize("method", ["return_", "return_distinct"])
def test_a_property_of_an_edge_list_is_a_type_error_in_results(g, method, items, text, column):
    with pytest.raises(TypeError) as caught:
        getattr(chains(g), method)(*items)
    assert str(caught.value) == f"cannot read property 'since' of a list at column {column} in '{text}'"


def test_columns_count_code_points():
    graph = Graph()
    a, b = add_node(graph, "A"), add_node(graph, "B")
    add_edge(graph, "f", a, b, since=1)
    with pytest.raises(TypeError) as caught:
        graph.query().match("(a)-[ré*]->(b)").return_("ré.since")
    assert str(caught.value) == "cannot read property 'since' of a list at column 3 in 'ré.since'"


def test_a_row_without_an_entry_reads_null(g):
    # r is bound to no chain at all (no Z): every row reads it as null, and null has no properties to miss
    query = g.query().match("(z:Z)-[r*]->(y)").match(node="n").where("r.since IS NULL")
    assert [row["n.name"] for row in query.return_("n.name", "r.since")] == ["a", "b", "c"]
