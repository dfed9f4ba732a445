"""Values in conditions and result expressions: numbers, joining with `+`,
three-valued equality inside lists, the TypeErrors of refused kinds with their
columns, values of other Python types, and exact sums.

Every expected value is worked out by hand (the integer quotients truncated
toward zero, the remainders with the dividend's sign); the one exception is
the randomised sum check, whose oracle is `math.fsum` itself. Results are
compared by type and repr, so 3 and 3.0, or nan and None, never pass for each
other.
"""
from __future__ import annotations

import math
import random
from datetime import date, timedelta
from decimal import Decimal

import pytest

from small_graphs import add_edge, add_node, graph_with
from velarto import Graph

INF, NAN = float("inf"), float("nan")


def one_node(**properties) -> Graph:
    g = Graph()
    add_node(g, "N", **properties)
    return g


def value_of(expression: str, graph: Graph | None = None, **params):
    g = graph or one_node()
    rows = g.query().match(node="n").params(**params).return_(f"{expression} AS x")
    assert len(rows) == 1
    return rows[0]["x"]


def assert_same(got, expected):
    assert type(got) is type(expected) and repr(got) == repr(expected)


# --- numbers -----------------------------------------------------------------------------------

NUMBERS = [
    # + - * of ints stay ints; with a float, a float
    ("1 + 2", 3), ("1 + 2.0", 3.0), ("5 - 7", -2), ("2 * 3", 6), ("2 * 1.5", 3.0), ("0.5 - 1", -0.5),
    # / of ints truncates toward zero
    ("7 / 2", 3), ("-7 / 2", -3), ("7 / -2", -3), ("-7 / -2", 3), ("6 / 3", 2), ("1 / 3", 0),
    ("7.0 / 2", 3.5), ("7 / 2.0", 3.5),
    # % takes the dividend's sign, for ints and floats
    ("7 % 3", 1), ("-7 % 3", -1), ("7 % -3", 1), ("-7 % -3", -1), ("6 % -3", 0),
    ("-7.5 % 2", -1.5), ("7.5 % -2", 1.5),
    # beyond 64 bits: still truncated, still exact
    ("-100000000000000000000 / 3", -33333333333333333333), ("-100000000000000000000 % 3", -1),
    ("100000000000000000000 % -3", 1), ("100000000000000000000 / -7", -14285714285714285714),
    ("-9223372036854775808 / -1", 9223372036854775808), ("-9223372036854775808 % -1", 0),
    # ^ is a float power, above * and below unary minus, left to right
    ("2 ^ 3", 8.0), ("2 ^ -1", 0.5), ("-2 ^ 2", 4.0), ("2 ^ 3 ^ 2", 64.0), ("2 * 3 ^ 2", 18.0),
    ("3 ^ 2 * 2", 18.0), ("4 ^ 0.5", 2.0), ("0 ^ -1", INF), ("-8 ^ 0.5", NAN),
    # a float divided by zero
    ("1 / 0.0", INF), ("-1 / 0.0", -INF), ("1.0 / 0", INF), ("0 / 0.0", NAN), ("1 % 0.0", NAN),
    ("-(2.5)", -2.5), ("-(-3)", 3),
]


@pytest.mark.parametrize("expression, expected", NUMBERS)
def test_numbers(expression, expected):
    assert_same(value_of(expression), expected)


@pytest.mark.parametrize("expression, position", [("7 / 0", 3), ("7 % 0", 3), ("1 + -7 / (2 - 2)", 8),
                                                  ("100000000000000000000 % 0", 23)])
def test_an_int_divided_by_zero_raises(expression, position):
    what = "integer division" if "/" in expression else "integer modulo"
    with pytest.raises(ZeroDivisionError) as caught:
        value_of(expression)
    assert str(caught.value) == f"{what} by zero at column {position} in '{expression} AS x'"


# --- joining with + ----------------------------------------------------------------------------

JOINS = [
    ("'a' + 'b'", "ab"), ("'a' + 1", "a1"), ("1 + 'a'", "1a"), ("'a' + -2", "a-2"),
    ("'a' + 1.0", "a1.0"), ("'a' + 2.5", "a2.5"), ("'a' + 1e20", "a1e+20"), ("'' + 1 / 0.0", "inf"),
    ("'a' + 100000000000000000000", "a100000000000000000000"),
    ("[1] + [2, 3]", [1, 2, 3]), ("[] + []", []), ("[1] + 2", [1, 2]), ("0 + [1]", [0, 1]),
    ("[1] + 'a'", [1, "a"]), ("'a' + [1]", ["a", 1]), ("[1] + [[2]]", [1, [2]]), ("[[1]] + [2]", [[1], 2]),
    ("[1] + true", [1, True]), ("[1] + null", None), ("null + 'a'", None), ("'a' + 1 + 2", "a12"),
    ("1 + 2 + 'a'", "3a"),
]


@pytest.mark.parametrize("expression, expected", JOINS)
def test_plus_joins(expression, expected):
    assert_same(value_of(expression), expected)


def test_a_list_joined_to_node_values_and_edge_lists():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"])
    rows = g.query().match("(a)-[r*1..1]->(b)").return_("r + [a] AS x", "a + r AS y", "size(r + r) AS z")
    assert len(rows) == 1
    (edge,) = g.edges.values()
    uids = lambda values: [v.uid() for v in values]  # noqa: E731
    assert uids(rows[0]["x"]) == uids([edge, n["A"]]) and uids(rows[0]["y"]) == uids([n["A"], edge])
    assert rows[0]["z"] == 2


# --- equality and ordering ---------------------------------------------------------------------

COMPARISONS = [
    ("[1, 2] = [null, 2]", None), ("[1] = [null, 2]", False), ("[1, null] = [2, null]", False),
    ("[1, 2] = [1, 2.0]", True), ("[[1, null]] = [[1, null]]", None), ("[1, 2] <> [null, 2]", None),
    ("[] = []", True), ("[1] = [true]", False),
    ("2 IN [1, null]", None), ("2 IN [2, null]", True), ("[null] IN [[null]]", None),
    ("[1] IN [[1], [null]]", True), ("[2] IN [[1], [null, 2]]", False), ("null IN []", False),
    ("1 = 1.0", True), ("1 = '1'", False), ("1 <> '1'", True), ("true = 1", False), ("0 = false", False),
    ("9007199254740993 = 9007199254740992.0", False), ("9007199254740993 > 9007199254740992.0", True),
    ("1 < '1'", None), ("true < 2", None), ("false < true", True), ("'a' < 'b'", True),
    ("[1, 2] < [1, 3]", True), ("[1, 2] < [1]", False), ("[1] < [1, 0]", True), ("[2] < [1, 5]", False),
    ("[1, 'a'] < [1, 2]", None), ("[null, 1] < [2, 1]", None), ("[1, null] < [2, 1]", True),
    ("1 < 2 < '3'", None),
]


@pytest.mark.parametrize("expression, expected", COMPARISONS)
def test_comparisons(expression, expected):
    assert_same(value_of(expression), expected)


def test_maps_in_properties_compare_key_by_key():
    g = one_node(a={"k": 1, "m": None}, b={"k": 1.0, "m": None}, c={"k": 1}, d={"k": 2, "m": None})
    assert_same(value_of("n.a = n.b", g), None)  # the null under "m" leaves it open
    assert_same(value_of("n.a = n.c", g), False)  # the keys differ
    assert_same(value_of("n.a = n.d", g), False)  # a value differs
    assert_same(value_of("n.c = $c", g, c={"k": 1.0}), True)
    assert_same(value_of("n.a < n.b", g), None)


def test_lists_nested_too_deeply_raise_recursion_error():
    deep = []
    for _ in range(100_000):
        deep = [deep]
    with pytest.raises(RecursionError):
        value_of("$a = $a + []", a=deep)


def test_membership_in_an_edge_list():
    g, n = graph_with("A", "B", "C")
    f = add_edge(g, "f", n["A"], n["B"])
    h = add_edge(g, "g", n["B"], n["C"])
    rows = g.query().match("(a)-[r*2]->(c)").params(f=f, h=h).return_(
        "$f IN r AS x", "a IN r AS y", "r = [$f, $h] AS z", "r = [$h, $f] AS w", "r = [$f] AS v")
    assert rows == [{"x": True, "y": False, "z": True, "w": False, "v": False}]


# --- kinds that operators and functions refuse -------------------------------------------------

REFUSED = [
    ("NOT 0", "NOT expects booleans or null, got int", 1),
    ("NOT NOT 'a'", "NOT expects booleans or null, got str", 5),
    ("123 AND true", "AND expects booleans or null, got int", 5),
    ("true AND true AND 'x'", "AND expects booleans or null, got str", 15),
    ("false OR 1.5", "OR expects booleans or null, got float", 7),
    ("true XOR [true]", "XOR expects booleans or null, got list", 6),
    ("1 IN 123", "IN expects a list, got int", 3),
    ("'a' IN 'abc'", "IN expects a list, got str", 5),
    ("'a' - 1", "operator '-' cannot take str and int", 5),
    ("true + 1", "operator '+' cannot take bool and int", 6),
    ("'a' + true", "operator '+' cannot take str and bool", 5),
    ("1 + 2 - 'x' = 3", "operator '-' cannot take int and str", 7),
    ("2 * 3 % true = 3", "operator '%' cannot take int and bool", 7),
    ("2 ^ 'x' = 1", "operator '^' cannot take int and str", 3),
    ("-'a' = 1", "operator '-' cannot take str", 1),
    ("1 = -true", "operator '-' cannot take bool", 5),
    ("toUpper(1) = 'x'", "toUpper() expects a string, got int", 1),
    ("1 + size(toLower(true)) = 1", "toLower() expects a string, got bool", 10),
    ("size(1) = 1", "size() expects a string or a list, got int", 1),
    ("type(1) = 'x'", "type() expects a node or an edge, got int", 1),
]


@pytest.mark.parametrize("text, what, position", REFUSED)
def test_refused_kinds_raise_type_error_at_their_column_in_where(text, what, position):
    with pytest.raises(TypeError) as caught:
        one_node().query().match(node="n").where(text).return_count()
    assert str(caught.value) == f"{what} at column {position} in '{text}'"


@pytest.mark.parametrize("text, what, position", REFUSED[::3])
def test_refused_kinds_raise_type_error_at_their_column_in_results(text, what, position):
    with pytest.raises(TypeError) as caught:
        value_of(text)
    assert str(caught.value) == f"{what} at column {position} in '{text} AS x'"


def test_a_long_text_is_quoted_around_the_column():
    text = "n.v = 1 OR " * 20 + "1 - 'x' = 1"
    position = len(text) - 8
    with pytest.raises(TypeError) as caught:
        one_node().query().match(node="n").where(text).return_count()
    assert str(caught.value) == f"operator '-' cannot take int and str at column {position} in '...{text[-80:]}'"


# --- values of other Python types keep Python's operators --------------------------------------

OTHER_TYPES = [
    ("$d + 1", Decimal("2.5")), ("$d / 2", Decimal("0.75")), ("$d % 1", Decimal("0.5")), ("-$d", Decimal("-1.5")),
    ("$d * $d", Decimal("2.25")), ("$d ^ 2", Decimal("2.25")), ("$d = 1.5", True), ("$d < 2", True),
    ("[1] + $d", [1, Decimal("1.5")]),
    ("$day - $week", date(2024, 2, 23)), ("$day < $day + $week", True), ("$day < 1", None),
    ("$t = $t", True), ("$t < [1]", None), ("$t + $t", (1, None, 1, None)), ("2 IN $t", None), ("1 IN $t", True),
    ("null IN $t", None),
]


@pytest.mark.parametrize("expression, expected", OTHER_TYPES)
def test_other_python_types_keep_their_operators(expression, expected):
    got = value_of(expression, d=Decimal("1.5"), day=date(2024, 3, 1), week=timedelta(days=7), t=(1, None))
    assert_same(got, expected)


# --- sums --------------------------------------------------------------------------------------

def aggregate(item: str, values: list):
    g = Graph()
    for i, v in enumerate(values):
        add_node(g, f"N{i}", v=v)
    return g.query().match(node="n").return_(f"{item} AS x")[0]["x"]


@pytest.mark.parametrize("item, values, expected", [
    ("sum(n.v)", [0.1] * 10, 1.0),  # added one by one: 0.9999999999999999
    ("sum(n.v)", [1e100, 1.0, -1e100], 1.0),  # added one by one: 0.0
    ("sum(n.v)", [1.0, 1e100, 1.0, -1e100], 2.0),
    ("sum(n.v)", [10**20, 1, -10**20], 1),  # ints stay exact
    ("sum(n.v)", [2**63 - 1, 1, 1], 2**63 + 1),
    ("sum(n.v)", [1, None, 2], 3),
    ("sum(n.v)", [2**53 + 1, 2**53 + 1, 0.0], 2.0**54),  # each int as a float first, as fsum does
    ("sum(n.v)", [1, 2.5], 3.5),
    ("sum(n.v)", [2.5, 1], 3.5),
    ("sum(n.v)", [INF, 1.0], INF),
    ("sum(n.v)", [NAN, 1], NAN),
    # as adding in floats gives, where an exact sum would fail
    ("sum(n.v)", [INF, -INF], NAN),
    ("sum(n.v)", [1e308, 1e308, -1e308], INF),
    ("sum(n.v)", [-1e308, -1e308], -INF),
    ("sum(n.v)", [1, Decimal("0.5")], Decimal("1.5")),
    ("sum(n.v)", [], 0),
    ("avg(n.v)", [1, 2], 1.5),
    ("avg(n.v)", [1, 2, 4], 7 / 3),
    ("avg(n.v)", [-1, -2], -1.5),
    ("avg(n.v)", [0.1] * 10, 0.1),
    ("avg(n.v)", [10**20, 1, -10**20], 1 / 3),
])
def test_sums_are_exact(item, values, expected):
    assert_same(aggregate(item, values), expected)


def test_sums_agree_with_fsum_in_any_order():
    rng = random.Random(1234)
    for _ in range(40):
        values = [rng.choice([rng.uniform(-1, 1) * 10.0 ** rng.randint(-30, 30), rng.randint(-2**70, 2**70),
                              rng.randint(-9, 9)]) for _ in range(rng.randint(1, 25))] + [0.5]
        rng.shuffle(values)
        assert_same(aggregate("sum(n.v)", values), math.fsum(values))


@pytest.mark.parametrize("item, values, error, message", [
    ("sum(n.v)", [1, "a"], TypeError, "sum() expects numbers, got str at column 1 in 'sum(n.v) AS x'"),
    ("avg(n.v)", [True], TypeError, "avg() expects numbers, got bool at column 1 in 'avg(n.v) AS x'"),
    ("1 + sum(n.v)", [[1]], TypeError, "sum() expects numbers, got list at column 5 in '1 + sum(n.v) AS x'"),
    ("sum(n.v)", [1.0, 10**400], OverflowError, "int too large to convert to float"),
    ("sum(n.v)", [10**400, 1.0], OverflowError, "int too large to convert to float"),
])
def test_sum_errors(item, values, error, message):
    with pytest.raises(error) as caught:
        aggregate(item, values)
    assert str(caught.value) == message
