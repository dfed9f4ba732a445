"""The expression language of conditions and result items: CASE, map literals,
indexing and slicing, `.key` of any value, list comprehensions, the
quantifiers, the functions of the one table, and the errors of each.

The graph: one node `n` of type N with name 'Ann', age 30 and tags ['x', 'y'];
one node of type A -> B; one edge `knows` from Ann to it with since 2019.
Every expected value is worked out by hand from openCypher's meaning (null in,
null out; three-valued logic; Python's slice bounds). Results are compared by
type and repr, so 3 and 3.0, or nan and None, never pass for each other.
"""
from __future__ import annotations

import pytest

from small_graphs import add_edge, add_node
from velarto import Application, Graph, Node, Variable

NAN, INF = float("nan"), float("inf")


@pytest.fixture(scope="module")
def g() -> Graph:
    graph = Graph()
    ann = add_node(graph, "N", name="Ann", age=30, tags=["x", "y"])
    arrow = Node(Application(Variable("A"), Variable("B")), {"kind": "arrow"})
    graph.nodes[arrow.uid()] = arrow
    add_edge(graph, "knows", ann, arrow, since=2019)
    return graph


def ann(graph: Graph):
    return graph.query().match(node="n").where("n.name = 'Ann'")


def value_of(graph: Graph, expression: str, **params):
    rows = ann(graph).params(**params).return_(f"{expression} AS v")
    assert len(rows) == 1
    return rows[0]["v"]


def assert_same(got, expected):
    assert type(got) is type(expected) and repr(got) == repr(expected)


def check(graph, expression, expected, params=None):
    params = params or {}
    if isinstance(expected, type) and issubclass(expected, Exception):
        with pytest.raises(expected):
            value_of(graph, expression, **params)
    else:
        assert_same(value_of(graph, expression, **params), expected)


# --- CASE --------------------------------------------------------------------------------------

@pytest.mark.parametrize("expression, expected", [
    # searched: the first true WHEN wins, a null WHEN is not true, no ELSE gives null
    ("CASE WHEN 1 = 2 THEN 'a' WHEN 2 = 2 THEN 'b' WHEN 3 = 3 THEN 'c' END", "b"),
    ("CASE WHEN false THEN 1 END", None),
    ("CASE WHEN null THEN 1 ELSE 2 END", 2),
    ("CASE WHEN n.age >= 30 THEN 'adult' ELSE 'young' END", "adult"),
    # only the chosen branch is evaluated
    ("CASE WHEN true THEN 1 ELSE 1 / 0 END", 1),
    ("CASE WHEN false THEN 1 / 0 ELSE 2 END", 2),
    # simple: compared with =, so null never matches and 1 matches 1.0
    ("CASE n.age WHEN 20 THEN 'x' WHEN 30 THEN 'y' ELSE 'z' END", "y"),
    ("CASE null WHEN null THEN 1 END", None),
    ("CASE null WHEN null THEN 1 ELSE 2 END", 2),
    ("CASE 1 WHEN 1.0 THEN 'eq' END", "eq"),
    ("CASE [1, null] WHEN [1, null] THEN 1 ELSE 2 END", 2),
    ("CASE 1 WHEN 'a' THEN 2 ELSE 'no' END", "no"),
    ("CASE 2 WHEN 1 THEN 'a' END", None),
    ("CASE (n.age) WHEN 30 THEN 'y' END", "y"),
    ("CASE n.age + 1 WHEN 31 THEN 'y' END", "y"),
    # nested, and as an operand
    ("CASE WHEN n.age > 18 THEN CASE n.name WHEN 'Ann' THEN 'A' END END", "A"),
    ("CASE WHEN n.age > 18 THEN 10 END + 1", 11),
    # a non-boolean WHEN of the searched form is refused
    ("CASE WHEN 1 THEN 2 END", TypeError),
    ("CASE WHEN 'true' THEN 2 END", TypeError),
])
def test_case(g, expression, expected):
    check(g, expression, expected)


def test_case_is_still_a_variable_name_before_an_operator_or_a_dot(g):
    rows = g.query().match(node="case").where("case.name = 'Ann' AND case <> null IS NULL").return_(
        "case.age + 1 AS next", "[case][0].name AS name")
    assert rows == [{"next": 31, "name": "Ann"}]


# --- map literals ------------------------------------------------------------------------------

@pytest.mark.parametrize("expression, expected", [
    ("{a: 1, b: 'x'}", {"a": 1, "b": "x"}),
    ("{`a b`: 1, 'c-d': 2, \"e\": 3}", {"a b": 1, "c-d": 2, "e": 3}),
    ("{k: n.age + 1, l: [n.name], z: null}", {"k": 31, "l": ["Ann"], "z": None}),
    ("{a: {b: {c: true}}}", {"a": {"b": {"c": True}}}),
    ("{}", {}),
])
def test_map_literals(g, expression, expected):
    got = value_of(g, expression)
    assert type(got) is dict and got == expected and list(got) == list(expected)


# --- indexing and slicing ----------------------------------------------------------------------

L = "[10, 20, 30]"


@pytest.mark.parametrize("expression, expected", [
    (f"{L}[0]", 10), (f"{L}[2]", 30), (f"{L}[3]", None),
    (f"{L}[-1]", 30), (f"{L}[-3]", 10), (f"{L}[-4]", None),
    (f"{L}[1 + 1]", 30),
    (f"{L}[9223372036854775808]", None), (f"{L}[-9223372036854775809]", None),
    ("null[0]", None), (f"{L}[null]", None), ("$l[0]", None),
    ("$t[1]", 6),
    ("n.tags[-1]", "y"),
    ("[[1, 2], [3]][0][1]", 2),
    # a key of a map, a property of a node
    ("{a: 1}['a']", 1), ("{a: 1}['b']", None), ("n['name']", "Ann"), ("n['nothing']", None),
    # refused kinds
    (f"{L}[1.0]", TypeError), (f"{L}['a']", TypeError), (f"{L}[true]", TypeError),
    ("{a: 1}[0]", TypeError), ("'abc'[0]", TypeError), ("5[0]", TypeError),
])
def test_indexing(g, expression, expected):
    check(g, expression, expected, {"l": None, "t": (5, 6)})


S = "['a', 'b', 'c', 'd', 'e']"


@pytest.mark.parametrize("bounds, expected", [
    ("1..3", ["b", "c"]), ("..2", ["a", "b"]), ("3..", ["d", "e"]),
    ("-2..", ["d", "e"]), ("..-1", ["a", "b", "c", "d"]), ("1..-1", ["b", "c", "d"]),
    ("3..1", []), ("2..2", []), ("0..10", ["a", "b", "c", "d", "e"]), ("-10..2", ["a", "b"]),
    ("5..", []), ("4..5", ["e"]),
    ("null..2", None), ("1..null", None), ("..null", None),
    ("1.5..2", TypeError), ("..'2'", TypeError),
])
def test_slicing(g, bounds, expected):
    check(g, f"{S}[{bounds}]", expected)


@pytest.mark.parametrize("expression, expected", [
    ("$t[1..]", [6, 7]),         # a tuple slices to a list
    ("null[0..1]", None),
    ("'abc'[0..1]", TypeError),
])
def test_slicing_other_values(g, expression, expected):
    check(g, expression, expected, {"t": (5, 6, 7)})


# --- .key of any value -------------------------------------------------------------------------

@pytest.mark.parametrize("expression, expected", [
    ("properties(n).name", "Ann"),
    ("{a: {b: 1}}.a.b", 1),
    ("{a: {b: 1}}.a.c", None),
    ("[n][0].name", "Ann"),
    ("$m.k", 5),
    ("null.x", None),
    ("{a: null}.a.b", None),
    ("n.tags[0]", "x"),
    ("[1][0].x", TypeError),
    ("'s'.x", TypeError),
])
def test_key_of_any_value(g, expression, expected):
    check(g, expression, expected, {"m": {"k": 5}})


def test_key_of_an_edge_end(g):
    rows = g.query().match("(a)-[r]->(b)").return_("startNode(r).name AS s", "endNode(r).kind AS e", "r.since AS y")
    assert rows == [{"s": "Ann", "e": "arrow", "y": 2019}]


# --- list comprehensions -----------------------------------------------------------------------

@pytest.mark.parametrize("expression, expected", [
    ("[x IN [1, 2, 3, 4]]", [1, 2, 3, 4]),
    ("[x IN [1, 2, 3, 4] WHERE x % 2 = 0]", [2, 4]),
    ("[x IN [1, 2, 3, 4] | x * 10]", [10, 20, 30, 40]),
    ("[x IN [1, 2, 3, 4] WHERE x > 2 | x * x]", [9, 16]),
    ("[x IN [] | x]", []),
    # a null predicate drops the item; a null projection is kept
    ("[x IN [1, null, 3] WHERE x > 1]", [3]),
    ("[x IN [1, null] | x]", [1, None]),
    # nested; the inner source sees the outer variable; an inner x shadows the outer
    ("[x IN [1, 2] | [y IN [10, 20] | x + y]]", [[11, 21], [12, 22]]),
    ("[x IN [1, 2] | [x IN [x * 10] | x + 1]]", [[11], [21]]),
    ("[x IN [1, 2] WHERE any(y IN [2, 3] WHERE y = x)]", [2]),
    # shadowing a bound variable: outside the brackets n is the node again
    ("[n IN [1, 2] | n + 1]", [2, 3]),
    ("size([n IN [1, 2] | n]) + n.age", 32),
    ("[x IN [1] | x] + [x IN [2] | x]", [1, 2]),
    ("[`my x` IN [1, 2] | `my x` * 2]", [2, 4]),
    ("[x IN [n] | x.name]", ["Ann"]),
    ("[x IN $t WHERE x > 1]", [2]),
    # null list: null; not a list: refused; a non-boolean predicate: refused
    ("[x IN null | x]", None),
    ("[x IN $none WHERE x > 1]", None),
    ("[x IN 5 | x]", TypeError),
    ("[x IN 'ab' | x]", TypeError),
    ("[x IN [1] WHERE x]", TypeError),
])
def test_list_comprehensions(g, expression, expected):
    check(g, expression, expected, {"t": (1, 2), "none": None})


# --- quantifiers -------------------------------------------------------------------------------

@pytest.mark.parametrize("expression, expected", [
    ("all(x IN [1, 2, 3] WHERE x > 0)", True),
    ("all(x IN [1, 2, 3] WHERE x > 1)", False),
    ("all(x IN [] WHERE false)", True),
    ("all(x IN [1, null] WHERE x > 0)", None),
    ("all(x IN [null, 0] WHERE x > 0)", False),
    ("any(x IN [1, null] WHERE x > 1)", None),
    ("any(x IN [null, 2] WHERE x > 1)", True),
    ("any(x IN [] WHERE true)", False),
    ("any(x IN [1, 2] WHERE x > 5)", False),
    ("none(x IN [1, 2] WHERE x > 5)", True),
    ("none(x IN [1, 6] WHERE x > 5)", False),
    ("none(x IN [1, null] WHERE x > 5)", None),
    ("none(x IN [null, 6] WHERE x > 5)", False),
    ("none(x IN [] WHERE true)", True),
    ("single(x IN [1, 2, 3] WHERE x = 2)", True),
    ("single(x IN [2, 2] WHERE x = 2)", False),
    ("single(x IN [2, null] WHERE x = 2)", None),
    ("single(x IN [null, 2] WHERE x = 2)", None),
    ("single(x IN [2, null, 2] WHERE x = 2)", False),
    ("single(x IN [1, null] WHERE x = 2)", None),
    ("single(x IN [1, 3] WHERE x = 2)", False),
    ("single(x IN [] WHERE true)", False),
    ("any(x IN null WHERE true)", None),
    ("ANY(x IN n.tags WHERE x = 'y')", True),
    ("all(x IN [[1], [2, 3]] WHERE any(y IN x WHERE y > 1))", False),
    ("all(x IN 1 WHERE true)", TypeError),
    ("any(x IN [1] WHERE 1)", TypeError),
])
def test_quantifiers(g, expression, expected):
    check(g, expression, expected)


@pytest.mark.parametrize("condition, count", [
    ("any(t IN n.tags WHERE t = 'y')", 1),
    ("any(t IN n.tags WHERE t = 'z')", 0),
    ("none(t IN n.tags WHERE t = 'z') AND n.name = 'Ann'", 1),
    ("all(t IN n.tags WHERE t > 'a')", 1),   # the other node has no tags: null, not kept
    ("size([t IN n.tags WHERE t < 'y']) = 1", 1),
])
def test_quantifiers_in_conditions(g, condition, count):
    assert g.query().match(node="n").where(condition).return_count() == count


# --- functions ---------------------------------------------------------------------------------

LISTS = [
    ("range(1, 5)", [1, 2, 3, 4, 5]),
    ("range(0, 10, 3)", [0, 3, 6, 9]),
    ("range(0, 9, 3)", [0, 3, 6, 9]),
    ("range(3, 3)", [3]),
    ("range(-2, 2, 2)", [-2, 0, 2]),
    ("range(5, 1, -2)", [5, 3, 1]),
    ("range(5, 0, -2)", [5, 3, 1]),
    ("range(5, 1)", []),
    ("range(1, 5, -1)", []),
    ("range(null, 5)", None), ("range(1, 5, null)", None),
    ("range(1, 5, 0)", ValueError),
    ("range(1.0, 5)", TypeError),
    ("head([1, 2, 3])", 1), ("head([])", None), ("head([null, 2])", None), ("head(null)", None),
    ("last([1, 2, 3])", 3), ("last([])", None),
    ("tail([1, 2, 3])", [2, 3]), ("tail([1])", []), ("tail([])", []), ("tail($t)", [6]),
    ("reverse([1, 2, 3])", [3, 2, 1]), ("reverse([])", []), ("reverse('abc')", "cba"), ("reverse('')", ""),
    ("reverse($t)", [6, 5]),
    ("size([1, 2, 3])", 3), ("size([])", 0), ("size('héllo')", 5), ("size('😀')", 1), ("size('')", 0),
    ("size(null)", None),
    ("head('abc')", TypeError), ("reverse(1)", TypeError), ("size(1)", TypeError),
]

NUMBERS = [
    ("abs(-3)", 3), ("abs(3)", 3), ("abs(-2.5)", 2.5), ("abs(-9223372036854775808)", 9223372036854775808),
    ("abs(null)", None), ("abs('1')", TypeError),
    ("sign(-5)", -1), ("sign(0)", 0), ("sign(7)", 1), ("sign(-0.5)", -1), ("sign(0.0)", 0), ("sign(2.5)", 1),
    ("sign(-100000000000000000000)", -1),
    ("ceil(1.2)", 2.0), ("ceil(-1.2)", -1.0), ("ceil(3)", 3.0),
    ("floor(1.8)", 1.0), ("floor(-1.2)", -2.0), ("floor(3)", 3.0),
    ("round(2.5)", 3.0), ("round(-2.5)", -3.0), ("round(2.4)", 2.0), ("round(-2.6)", -3.0), ("round(0.5)", 1.0),
    ("round(7)", 7.0),
    ("sqrt(16)", 4.0), ("sqrt(2.25)", 1.5), ("sqrt(0)", 0.0), ("sqrt(-1)", NAN),
    ("ceil(null)", None), ("sqrt('4')", TypeError),
]

CONVERSIONS = [
    ("toString(42)", "42"), ("toString(-7)", "-7"), ("toString(1.0)", "1.0"), ("toString(2.5)", "2.5"),
    ("toString(true)", "true"), ("toString(false)", "false"), ("toString('x')", "x"), ("toString(null)", None),
    ("toString([1])", TypeError),
    ("toInteger('42')", 42), ("toInteger(' 42 ')", 42), ("toInteger('+5')", 5),
    ("toInteger('3.9')", 3), ("toInteger('-3.9')", -3), ("toInteger('1e3')", 1000), ("toInteger('.5')", 0),
    ("toInteger('12345678901234567890')", 12345678901234567890),
    ("toInteger('abc')", None), ("toInteger('')", None), ("toInteger('4 2')", None), ("toInteger('-')", None),
    ("toInteger('1e')", None),
    ("toInteger(true)", 1), ("toInteger(false)", 0), ("toInteger(2.9)", 2), ("toInteger(-2.9)", -2),
    ("toInteger(7)", 7), ("toInteger($nan)", None), ("toInteger($inf)", None), ("toInteger(null)", None),
    ("toInteger([1])", TypeError),
    ("toFloat('2.5')", 2.5), ("toFloat(' 3 ')", 3.0), ("toFloat(3)", 3.0), ("toFloat(1.5)", 1.5),
    ("toFloat('x')", None), ("toFloat('1e400')", INF), ("toFloat('-1e400')", -INF), ("toFloat(null)", None),
    ("toFloat(true)", TypeError),
    ("toBoolean('TRUE')", True), ("toBoolean('false')", False), ("toBoolean('yes')", None),
    ("toBoolean('')", None), ("toBoolean(true)", True), ("toBoolean(null)", None), ("toBoolean(1.5)", TypeError),
    # a NUL inside or a lone surrogate makes no number and no truth value (nor an error)
    ("toInteger($nul)", None), ("toFloat($nul)", None), ("toBoolean($nul)", None),
    ("toInteger($lone)", None), ("toFloat($lone)", None), ("toBoolean($lone)", None),
]

TEXTS = [
    ("trim('  a b  ')", "a b"), ("lTrim('  a ')", "a "), ("rTrim('  a ')", "  a"), ("trim(null)", None),
    ("substring('hello', 1, 3)", "ell"), ("substring('hello', 1)", "ello"), ("substring('hello', 0, 0)", ""),
    ("substring('hello', 4)", "o"), ("substring('hello', 5)", ""), ("substring('hello', 9)", ""),
    ("substring('hello', 3, 10)", "lo"), ("substring('héllo', 1, 2)", "él"), ("substring('a😀b', 1, 1)", "😀"),
    ("substring(null, 1)", None), ("substring('x', null)", None), ("substring('x', 0, null)", None),
    ("substring('hello', -1)", ValueError), ("substring('hello', 1, -1)", ValueError),
    ("substring('hello', 1.0)", TypeError),
    ("left('hello', 2)", "he"), ("left('hello', 0)", ""), ("left('hello', 10)", "hello"), ("left('hi', -1)", ValueError),
    ("right('hello', 2)", "lo"), ("right('hello', 0)", ""), ("right('hello', 5)", "hello"),
    ("right('hello', 10)", "hello"), ("right('hi', -1)", ValueError), ("right(null, 1)", None),
    ("replace('banana', 'an', 'o')", "booa"), ("replace('aaa', 'a', '')", ""), ("replace('abc', '', '-')", "-a-b-c-"),
    ("replace('abc', null, 'x')", None),
    ("split('a,b,,c', ',')", ["a", "b", "", "c"]), ("split('a--b', '--')", ["a", "b"]), ("split('abc', '')", ["a", "b", "c"]),
    ("split('', ',')", [""]), ("split('a', null)", None), ("split(1, ',')", TypeError),
    ("toLower('ÀbC')", "àbc"), ("toUpper('abC')", "ABC"), ("toUpper(null)", None),
    ("coalesce(null, 1, 2)", 1), ("coalesce(null, null)", None), ("coalesce(null, false)", False),
    ("coalesce(1, 1 / 0)", 1), ("coalesce(n.nothing, n.name)", "Ann"),
]


@pytest.mark.parametrize("expression, expected", LISTS + NUMBERS + CONVERSIONS + TEXTS)
def test_functions(g, expression, expected):
    check(g, expression, expected, {"t": (5, 6), "nan": NAN, "inf": INF, "nul": "12\x00ab", "lone": "1\ud800"})


def test_reverse_and_tail_leave_their_argument_alone(g):
    given = [1, 2, 3]
    assert value_of(g, "[reverse($l), tail($l)]", l=given) == [[3, 2, 1], [2, 3]]
    assert given == [1, 2, 3]


def test_graph_functions(g):
    edge = next(iter(g.edges.values()))
    row = g.query().match("(a)-[r]->(b)").return_(
        "labels(a) AS la", "labels(b) AS lb", "startNode(r) AS s", "endNode(r) AS e",
        "keys(r) AS kr", "keys(a) AS ka", "keys({b: 1, a: 2}) AS km", "properties(r) AS pr",
        "properties({k: [1]}) AS pm", "keys(null) AS kn", "labels(null) AS ln")[0]
    assert row["la"] == ["N"] and row["lb"] == ["(A -> B)"]
    assert row["s"].uid() == edge.start.uid() and row["e"].uid() == edge.end.uid()
    assert row["s"].uid() != row["e"].uid()
    assert sorted(row["ka"]) == ["age", "name", "tags"] and row["kr"] == ["since"] and sorted(row["km"]) == ["a", "b"]
    assert row["pr"] == {"since": 2019} and row["pm"] == {"k": [1]}
    assert row["kn"] is None and row["ln"] is None


def test_properties_is_a_copy(g):
    node = next(n for n in g.nodes.values() if n.properties.get("name") == "Ann")
    props = value_of(g, "properties(n)")
    assert props == {"name": "Ann", "age": 30, "tags": ["x", "y"]}
    props["name"] = "Changed"
    del props["age"]
    assert node.properties["name"] == "Ann" and node.properties["age"] == 30
    assert value_of(g, "n.name") == "Ann"


@pytest.mark.parametrize("expression, message", [
    ("labels(r)", "labels() expects a node, got Edge"),
    ("startNode(a)", "startNode() expects an edge, got Node"),
    ("endNode(1)", "endNode() expects an edge, got int"),
    ("keys(1)", "keys() expects a node, an edge or a map, got int"),
])
def test_graph_functions_refuse_other_kinds(g, expression, message):
    with pytest.raises(TypeError, match=f"^{message.replace('(', '[(]').replace(')', '[)]')} at column 1 "):
        g.query().match("(a)-[r]->(b)").return_(f"{expression} AS v")


# --- errors ------------------------------------------------------------------------------------

@pytest.mark.parametrize("text, message", [
    ("frob(n) = 1", "unknown function 'frob' at column 1"),
    ("n.age = 1 AND range(1) = []", "range() takes 2 or 3 arguments but was given 1 at column 15"),
    ("head([1], 2) = 1", "head() takes exactly one argument but was given 2 at column 1"),
    ("coalesce() = 1", "coalesce() takes at least one argument but was given none at column 1"),
    ("substring('a', 1, 2, 3) = 'a'", "substring() takes 2 or 3 arguments but was given 4 at column 1"),
    ("all(x IN [1]) = true", "expected 'WHERE' but found ')' at column 13"),
    ("[x IN [1] | x | x] = []", "expected ']' but found '|' at column 15"),
    ("CASE WHEN true THEN 1 ELSE 2 WHEN false THEN 3 END = 1", "expected 'END' but found 'WHEN' at column 30"),
    ("CASE 1 END = 1", "expected 'WHEN' but found 'END' at column 8"),
    # a pattern fixes the row's variables; the comprehension's own is not one of them
    ("any(x IN [n] WHERE exists((x)-[]->()))", "exists() cannot read the comprehension variable 'x' at column 20"),
])
def test_texts_refused_when_the_step_is_added(g, text, message):
    q = g.query().match(node="n")
    with pytest.raises(ValueError) as caught:
        q.where(text)
    assert str(caught.value) == f"Invalid query: {message} in '{text}'"
    with pytest.raises(ValueError) as caught:
        q.return_(f"{text} AS v")
    assert str(caught.value).startswith(f"Invalid query: {message} in '")


@pytest.mark.parametrize("item", [
    "[x IN [1] | count(x)]",
    "[x IN [1] WHERE sum(x) > 0]",
    "any(x IN [1] WHERE count(*) > 0)",
])
def test_an_aggregate_inside_a_comprehension_is_refused(g, item):
    with pytest.raises(ValueError, match="cannot stand inside a list comprehension or a quantifier"):
        g.query().match(node="n").return_(f"{item} AS v")


def test_exists_in_a_comprehension_reads_the_rows_variables(g):
    # `n` is the row's node, fixed in the pattern: Ann has an edge out, the arrow none
    q = g.query().match(node="n")
    assert q.return_("[x IN [1, 2] WHERE NOT exists((n)-[]->())] AS v") == [{"v": []}, {"v": [1, 2]}]
    assert q.return_("any(x IN [1] WHERE exists((n)-[]->())) AS v") == [{"v": True}, {"v": False}]


def test_an_aggregate_as_the_source_of_a_comprehension(g):
    rows = g.query().match(node="n").return_("[x IN collect(n.age) WHERE x IS NOT NULL | x + 1] AS v")
    assert rows == [{"v": [31]}]


@pytest.mark.parametrize("item, message", [
    ("left(1, 2)", "left() expects a string as argument 1, got int at column 1"),
    ("1 + left('a', 'b')", "left() expects an integer as argument 2, got str at column 5"),
    ("toUpper(5)", "toUpper() expects a string, got int at column 1"),
    ("range(1, 2.0)", "range() expects an integer as argument 2, got float at column 1"),
    ("range(1, 2, 'a')", "range() expects an integer as argument 3, got str at column 1"),
    ("  abs(true)", "abs() expects a number, got bool at column 3"),
    ("toBoolean(0)", "toBoolean() expects a string or a boolean, got int at column 1"),
])
def test_refused_kinds_name_the_function_argument_and_column(g, item, message):
    with pytest.raises(TypeError) as caught:
        ann(g).return_(f"{item} AS v")
    assert str(caught.value) == f"{message} in '{item} AS v'"


@pytest.mark.parametrize("item", [
    "range(1, 10000000000000)",
    "[x IN range(1, 10000000000000) | x]",
    "range(0, -10000000000000, -1)",
])
def test_a_list_too_large_is_a_memory_error_and_the_query_stays_usable(g, item):
    q = ann(g)
    with pytest.raises(MemoryError, match=r"^range\(\) would make a list too large for memory at column"):
        q.return_(f"{item} AS v")
    assert q.return_("size(range(1, 10)) AS v") == [{"v": 10}]
    assert g.query().match(node="n").return_count() == 2


def test_the_edges_of_a_variable_length_edge_are_a_list(g):
    edge = next(iter(g.edges.values()))
    row = g.query().match("(a)-[r*1..1]->(b)").return_(
        "r[0] AS first", "r[1] AS beyond", "r[-1..] AS tail", "[e IN r | e.since] AS since",
        "head(r) AS head", "any(e IN r WHERE e.since > 2000) AS any", "reverse(r) AS reversed")[0]
    assert row["first"].uid() == edge.uid() and row["head"].uid() == edge.uid()
    assert row["beyond"] is None and row["since"] == [2019] and row["any"] is True
    assert [e.uid() for e in row["tail"]] == [edge.uid()] and [e.uid() for e in row["reversed"]] == [edge.uid()]


@pytest.mark.parametrize("condition, names", [
    ("n.name IN [x IN ['Ann', 'Bob', 'Eve'] WHERE x < 'C' | x]", ["Ann", "Bob"]),
    ("n.name = [x IN ['Bob'] | x][0]", ["Bob"]),
    ("n.name = CASE n.k WHEN 2 THEN 'Cid' ELSE 'Ann' END", ["Ann", "Cid"]),
    ("n.k IN range(0, 1)", ["Ann", "Bob"]),
    ("n.name IN {a: ['Ann']}.a", ["Ann"]),
    ("n.name STARTS WITH left('Cx', 1)", ["Cid"]),
    ("n.k IN range(1, 2)[1..]", ["Cid"]),
])
def test_conditions_on_node_properties_read_the_new_forms(condition, names):
    # The property tests a search may start from: their values are computed, not written.
    graph = Graph()
    for k, name in enumerate(["Ann", "Bob", "Cid"]):
        add_node(graph, name, name=name, k=k)
    rows = graph.query().match(node="n").where(condition).return_("n.name AS v")
    assert sorted(row["v"] for row in rows) == names
