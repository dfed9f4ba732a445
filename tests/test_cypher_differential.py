"""The Cypher translation against a real database: the same rows, or a refusal.

Each random graph (tests/cypher_queries.py) is exported with
`graph.to_cypher("ladybug")` into a fresh database; each random query runs
here (`return_`, `return_distinct`, `return_count`) and there (the text of
`Query.to_cypher(..., dialect="ladybug")`), and the two row lists must agree.
A query the translation refuses (`ValueError`) is counted, not failed; too
many refusals fail the count below, so refusing everything cannot pass.

Rows are compared as values, not objects: a node or an edge is its uid and
its properties without the None ones (the database reads an absent key as
null); ints, floats and booleans keep their kinds (the database's exact sum
of ints arrives as a Decimal, read as the int it is); floats agree to nine
significant digits; `collect` lists compare as multisets. Rows compare as a
multiset, and where the query orders, the order-key columns of the two lists
must also come in the same sequence (ties may come in any order).
"""
from __future__ import annotations

import decimal
import math
from collections import Counter
from dataclasses import dataclass, field

import pytest

from cypher_queries import make_recipe, random_graph
from velarto import Edge, Graph, Node

GRAPH_SEEDS = range(8)
QUERIES_PER_GRAPH = 60
ENOUGH_COMPARED = 300


def _needs_translation():
    pytest.importorskip("real_ladybug")
    if not hasattr(Graph, "to_cypher"):
        pytest.skip("Graph.to_cypher is not built yet")


def normal(value, bag: bool = False):
    """A hashable form of a value from either side, equal when the values agree."""
    if value is None:
        return None
    if isinstance(value, bool):
        return ("bool", value)
    if isinstance(value, int):
        return ("int", value)
    if isinstance(value, decimal.Decimal):
        return ("int", int(value)) if value == value.to_integral_value() else normal(float(value))
    if isinstance(value, float):
        if value == 0:  # a typed float column sums nothing to 0.0 there, to the int 0 here
            return ("int", 0)
        return ("float", "nan" if math.isnan(value) else float(f"{value:.9g}"))
    if isinstance(value, str):
        return ("text", value)
    if isinstance(value, (Node, Edge)):
        kind = "node" if isinstance(value, Node) else "edge"
        return (kind, value.uid(), _properties(value.properties.items()))
    if isinstance(value, dict):
        if "_RELS" in value:                                   # a variable-length edge
            return normal(value["_RELS"], bag)
        if "_LABEL" in value and "velarto_uid" in value:
            kind = "edge" if "_SRC" in value else "node"
            user = ((k, v) for k, v in value.items() if not k.startswith(("_", "velarto_")))
            return (kind, value["velarto_uid"], _properties(user))
        return ("map", tuple(sorted((k, normal(v)) for k, v in value.items())))
    if isinstance(value, (list, tuple)):
        items = [normal(item) for item in value]
        return ("bag", tuple(sorted(items, key=repr))) if bag else ("list", tuple(items))
    return ("other", repr(value))


def _properties(pairs) -> tuple:
    return tuple(sorted((key, normal(value)) for key, value in pairs if value is not None))


def velarto_rows(recipe, graph) -> list[dict]:
    query, items, distinct = recipe(graph)
    if not items:
        return [{"count": query.return_count()}]
    return query.return_distinct(*items) if distinct else query.return_(*items)


def engine_rows(connection, text: str, parameters: dict) -> list[dict]:
    result = connection.execute(text, parameters)
    columns = result.get_column_names()
    rows = []
    while result.has_next():
        rows.append(dict(zip(columns, result.get_next())))
    return rows


def difference(recipe, mine: list[dict], theirs: list[dict]) -> str | None:
    """What differs between the two row lists, or None."""
    def rows(side):
        return [tuple(sorted((k, normal(v, k in recipe.bags)) for k, v in row.items())) for row in side]

    ours, engine = rows(mine), rows(theirs)
    if Counter(ours) != Counter(engine):
        only_ours = list((Counter(ours) - Counter(engine)).elements())[:3]
        only_engine = list((Counter(engine) - Counter(ours)).elements())[:3]
        return (f"{len(ours)} rows here, {len(engine)} there; only here: {only_ours}; "
                f"only there: {only_engine}")
    if recipe.ordered:
        def keys(side):
            return [tuple(dict(row).get(column) for column in recipe.ordered) for row in side]
        if keys(ours) != keys(engine):
            return f"order of {recipe.ordered} differs: here {keys(ours)[:6]}, there {keys(engine)[:6]}"
    return None


@dataclass
class Outcome:
    compared: int = 0
    failed_both: int = 0
    refused: Counter = field(default_factory=Counter)
    differences: list = field(default_factory=list)


def run_graph(seed: int, directory, export=lambda graph: graph.to_cypher("ladybug")) -> Outcome:
    import real_ladybug

    graph = random_graph(seed)
    database = real_ladybug.Database(str(directory / f"graph{seed}"))
    connection = real_ladybug.Connection(database)
    for statement, parameters in export(graph):
        connection.execute(statement, parameters)
    outcome = Outcome()
    for index in range(QUERIES_PER_GRAPH):
        recipe = make_recipe(seed * 1000 + index)
        case = f"graph {seed}, query seed {recipe.seed}: {recipe}"
        query, items, distinct = recipe(graph)
        try:
            text, parameters = query.to_cypher(*items, distinct=distinct, dialect="ladybug")
        except ValueError as refusal:
            outcome.refused[str(refusal).split(":")[0][:60]] += 1
            continue
        try:
            mine = velarto_rows(recipe, graph)
        except (TypeError, ValueError, ZeroDivisionError) as failure:
            mine = failure
        try:
            theirs = engine_rows(connection, text, parameters)
        except RuntimeError as failure:
            if isinstance(mine, Exception):          # both refuse the values: nothing to compare
                outcome.failed_both += 1
                continue
            outcome.differences.append(f"{case}\n  cypher: {text!r} {parameters}\n  the database failed: {failure}")
            continue
        if isinstance(mine, Exception):
            outcome.differences.append(f"{case}\n  cypher: {text!r} {parameters}\n  velarto raised {mine!r}, "
                                       f"the database gave {len(theirs)} rows")
            continue
        outcome.compared += 1
        found = difference(recipe, mine, theirs)
        if found:
            outcome.differences.append(f"{case}\n  cypher: {text!r} {parameters}\n  {found}")
    return outcome


@pytest.fixture(scope="module")
def outcomes(tmp_path_factory):
    _needs_translation()
    directory = tmp_path_factory.mktemp("ladybug")
    return {seed: run_graph(seed, directory) for seed in GRAPH_SEEDS}


@pytest.mark.parametrize("seed", GRAPH_SEEDS, ids=lambda seed: f"graph-seed-{seed}")
def test_translated_queries_give_the_rows_velarto_gives(outcomes, seed):
    outcome = outcomes[seed]
    print(f"graph {seed}: {outcome.compared} compared, {sum(outcome.refused.values())} refused "
          f"{dict(outcome.refused)}, {outcome.failed_both} failing on both sides")
    assert not outcome.differences, "\n\n".join(outcome.differences)


def test_most_generated_queries_are_compared(outcomes):
    compared = sum(outcome.compared for outcome in outcomes.values())
    refused = sum(sum(outcome.refused.values()) for outcome in outcomes.values())
    print(f"{compared} compared, {refused} refused of {len(GRAPH_SEEDS) * QUERIES_PER_GRAPH}")
    assert compared >= ENOUGH_COMPARED


@pytest.mark.parametrize("left, right, agree", [
    (1, 1.0, False),                           # an int is not a float
    (0, 0.0, True),                            # but a float column's empty sum is 0.0 there
    (True, 1, False),                          # nor a bool an int
    (decimal.Decimal("-6"), -6, True),         # the database's exact sum of ints
    (0.1 + 0.2, 0.3, True),                    # float rounding
    (0.3, 0.31, False),
    ([1, 2], [2, 1], False),                   # lists keep their order
    (float("nan"), float("nan"), True),
])
def test_values_compare_by_kind_and_value(left, right, agree):
    assert (normal(left) == normal(right)) is agree


def test_elements_compare_by_uid_and_non_null_properties():
    from velarto import Variable

    node = Node(Variable("A"), {"age": 3, "gone": None, "tags": ["x"]})
    stored = {"_ID": {"offset": 0, "table": 0}, "_LABEL": "VNode", "velarto_uid": node.uid(),
              "velarto_type": "A", "velarto_shape": [""], "age": 3, "gone": None, "tags": ["x"], "other": None}
    assert normal(node) == normal(stored)
    assert normal(node) != normal({**stored, "age": 4})
    assert normal(node) != normal({**stored, "_SRC": {"offset": 0, "table": 0}})   # an edge, not a node


def test_collect_columns_compare_as_multisets_and_ordered_columns_in_sequence():
    from types import SimpleNamespace

    recipe = SimpleNamespace(bags=("g",), ordered=("k",))
    mine = [{"k": 1, "g": [1, 2]}, {"k": 2, "g": []}]
    assert difference(recipe, mine, [{"k": 1, "g": [2, 1]}, {"k": 2, "g": []}]) is None
    assert difference(recipe, mine, [{"k": 2, "g": []}, {"k": 1, "g": [1, 2]}]) is not None
    assert difference(recipe, mine, [{"k": 1, "g": [1, 2]}]) is not None
