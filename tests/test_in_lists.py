"""`x IN list` over long lists of texts, row after row: the answers of a test item by item."""
import pytest

from small_graphs import add_node
from velarto import Graph

NAMES = [f"n{i}" for i in range(12)]


class Text(str):
    """A str subclass: compared by its text, like any other text."""


def graph_of(values):
    g = Graph()
    for i, value in enumerate(values):
        add_node(g, f"T{i}", name=value, i=i)
    return g


def kept(g, condition, **params):
    rows = g.query().match(node="p").where(condition).params(**params).return_("p.i")
    return [row["p.i"] for row in rows]


@pytest.mark.parametrize(
    "names, values, expected",
    [
        (NAMES, ["n0", "n11", "n12", "", "N1", None, 5], [0, 1]),
        (NAMES + [None], ["n3", "zz"], [0]),  # the null item makes misses null: still dropped
        (NAMES[:-1] + [Text("n11")], ["n11", Text("n5"), "x"], [0, 1]),
        (tuple(NAMES), ["n7", "n70"], [0]),
        (NAMES + [1.5], ["n2", 1.5, "1.5"], [0, 1]),
        (["a"] * 20, ["a", "b"], [0]),
    ],
    ids=["texts", "with null", "subclass items", "tuple", "a float item", "repeated"],
)
def test_long_lists_answer_as_item_by_item(names, values, expected):
    g = graph_of(values)
    assert kept(g, "p.name IN $names", names=list(names) if isinstance(names, list) else names) == expected
    # NOT tells false from null: a null item makes every miss null, not false.
    missing = [i for i, v in enumerate(values) if i not in expected and v is not None]
    negated = kept(g, "NOT (p.name IN $names)", names=names)
    assert negated == ([] if None in names else missing)


def test_a_list_changed_between_rows_is_read_again():
    names = [f"n{i}" for i in range(10)]

    class Swap:
        """A property whose comparison replaces an item of the list, as Python code between rows may."""

        def __init__(self, new):
            self.new = new

        def __eq__(self, other):
            names[0] = self.new
            return True

        __hash__ = object.__hash__

    g = Graph()
    add_node(g, "A", k=Swap("n0"), name="n0", i=0)
    add_node(g, "B", k=Swap("moved"), name="n0", i=1)   # n0 leaves the list before this row's test
    add_node(g, "C", k=Swap("moved"), name="moved", i=2)
    rows = g.query().match(node="p").where("p.k = $one AND p.name IN $names").params(one=1, names=names)
    assert [row["p.i"] for row in rows.return_("p.i")] == [0, 2]
