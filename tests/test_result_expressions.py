"""Results that compute: expressions and aliases in return_, aggregation with
implicit grouping, parameters, exists() patterns, compose(), and the NameError
of a variable with no list.

The graph: four people (nodes named by their type), two companies, `job` edges
Ann->Acme, Bob->Acme, Cid->Farm and one `knows` edge Ann->Bob. Every expected
value is worked out by hand from it.
"""
from __future__ import annotations

import pytest

from small_graphs import add_edge, add_node, label, labels
from velarto import Application, Edge, Graph, Term, Variable


@pytest.fixture(scope="module")
def g() -> Graph:
    graph = Graph()
    ann = add_node(graph, "Ann", name="Ann", age=30, ind="tech", salary=100)
    bob = add_node(graph, "Bob", name="Bob", age=40, ind="tech", salary=200)
    cid = add_node(graph, "Cid", name="Cid", age=None, ind="farm", salary=50)
    add_node(graph, "Dee", name="Dee", age=50, salary=None)
    acme = add_node(graph, "Acme", name="Acme", kind="co")
    farm = add_node(graph, "Farm", name="Farm", kind="co")
    add_edge(graph, "job", ann, acme, since=2019)
    add_edge(graph, "job", bob, acme, since=2021)
    add_edge(graph, "job", cid, farm)
    add_edge(graph, "knows", ann, bob)
    return graph


def people(graph: Graph):
    return graph.query().match(node="p").where("p.kind IS NULL")


def jobs(graph: Graph):
    return graph.query().match("(p)-[j]->(c)").where("name(j) = 'job'")


# --- expressions -------------------------------------------------------------------------------

@pytest.mark.parametrize("item, values", [
    ("p.age * 2", [60, 80, None, 100]),
    ("p.age + 1 - 7 / 2", [28, 38, None, 48]),
    ("p.age % 7", [2, 5, None, 1]),
    ("-p.age", [-30, -40, None, -50]),
    ("toUpper(p.name)", ["ANN", "BOB", "CID", "DEE"]),
    ("toLower(p.name) + '!'", ["ann!", "bob!", "cid!", "dee!"]),
    ("coalesce(p.age, p.salary, 0)", [30, 40, 50, 50]),
    ("size(p.name) > 2", [True] * 4),
    ("type(p)", ["Ann", "Bob", "Cid", "Dee"]),
    ("p.age > 35 OR p.ind = 'farm'", [False, True, True, True]),
    ("p.ind IS NULL", [False, False, False, True]),
    ("[p.age, 'x']", [[30, "x"], [40, "x"], [None, "x"], [50, "x"]]),
    ("'lit'", ["lit"] * 4),
    ("null", [None] * 4),
])
def test_expression_values_keyed_by_their_text(g, item, values):
    rows = people(g).return_(item)
    assert rows == [{item: v} for v in values]


def test_alias_names_the_key_and_items_keep_their_order(g):
    rows = people(g).limit(1).return_("p.name", "p.age * 2 AS double", "uid(p) as `the uid`")
    assert list(rows[0]) == ["p.name", "double", "the uid"]
    assert rows[0]["double"] == 60 and rows[0]["the uid"] == g.query().match(node="p").return_("p")[0]["p"].uid()


def test_graph_values_of_expressions_are_nodes_and_edges(g):
    rows = jobs(g).return_("coalesce(j, p) AS x", "p")
    assert [label(r["x"]) for r in rows] == ["job"] * 3


def test_names_keep_their_meaning_and_expressions_fill_every_row():
    g = Graph()
    for name in "ABC":
        add_node(g, name, k=ord(name))
    q = g.query().match(node="a").match(node="b", type=Variable("A"))
    rows = q.return_("b", "b.k", "b.k AS bk", "b.k + 1", "zzz", "zzz.k")
    # b has one entry: the name and var.key columns stop there, expressions do not
    assert rows == [
        {"b": rows[0]["b"], "b.k": 65, "bk": 65, "b.k + 1": 66},
        {"bk": None, "b.k + 1": None},
        {"bk": None, "b.k + 1": None},
    ]
    # an unbound name, or its `name.key`, still adds nothing
    assert q.return_("nothing", "nothing.k") == []


def test_a_later_item_with_the_same_key_replaces_the_earlier_value(g):
    rows = people(g).limit(1).return_("1 AS x", "p.name", "2 AS x")
    assert rows == [{"x": 2, "p.name": "Ann"}]


def test_return_distinct_compares_expression_values(g):
    assert people(g).return_distinct("p.ind") == [{"p.ind": "tech"}, {"p.ind": "farm"}, {"p.ind": None}]
    # graph values from different places compare by uid
    rows = jobs(g).return_distinct("c", "coalesce(c) AS same")
    assert labels([{"c": r["c"]} for r in rows]) == [{"c": "Acme"}, {"c": "Farm"}]


# --- aggregation -------------------------------------------------------------------------------

@pytest.mark.parametrize("item, value", [
    ("count(*)", 4),
    ("count(p.age)", 3),
    ("count(p.ind)", 3),
    ("count(DISTINCT p.ind)", 2),
    ("count(distinct p)", 4),
    ("sum(p.salary)", 350),
    ("sum(DISTINCT p.age / 20)", 3),
    ("avg(p.age)", 40.0),
    ("avg(p.salary)", 350 / 3),
    ("min(p.age)", 30),
    ("max(p.age)", 50),
    ("min(p.name)", "Ann"),
    ("max(p.name)", "Dee"),
    ("collect(p.age)", [30, 40, 50]),
    ("collect(DISTINCT p.ind)", ["tech", "farm"]),
    ("count(*) + 1", 5),
    ("sum(p.salary) / count(p.salary)", 116),
    ("size(collect(p.ind))", 3),
])
def test_aggregates_over_all_rows_skip_nulls(g, item, value):
    assert people(g).return_(item) == [{item: value}]


def test_min_and_max_order_numbers_before_texts():
    g = Graph()
    for name, v in [("A", "b"), ("B", 3), ("C", 1.5), ("D", "a")]:
        add_node(g, name, v=v)
    assert g.query().match(node="n").return_("min(n.v)", "max(n.v)") == [{"min(n.v)": 1.5, "max(n.v)": "b"}]


@pytest.mark.parametrize("values, average", [
    ([1, 2], 1.5),
    ([-1, -2], -1.5),
    ([1, None, 4], 2.5),                 # a null is skipped, not counted
    ([1, 2, 2.5, None], 11 / 6),         # ints and a float
    ([2, 4], 3.0),                       # a whole average of ints is still a float
])
def test_avg_divides_exactly(values, average):
    g = Graph()
    for i, v in enumerate(values):
        add_node(g, f"N{i}", v=v)
    (row,) = g.query().match(node="n").return_("avg(n.v)")
    assert row["avg(n.v)"] == pytest.approx(average)
    assert type(row["avg(n.v)"]) is float


def test_aggregates_of_no_rows_give_one_row_without_grouping_items(g):
    q = g.query().match(node="p", properties={"name": "nobody"})
    assert q.return_("count(*)", "count(p)", "sum(p.age)", "avg(p.age)", "min(p.age)", "max(p.age)",
                     "collect(p)") == [{"count(*)": 0, "count(p)": 0, "sum(p.age)": 0, "avg(p.age)": None,
                                        "min(p.age)": None, "max(p.age)": None, "collect(p)": []}]
    assert q.return_("p.ind", "count(*)") == []
    assert q.return_("p", "count(*)") == []
    # a table with no variables at all has no rows, as always
    assert g.query().return_("count(*)") == []


def test_grouping_by_property_in_order_of_first_appearance(g):
    rows = people(g).return_("p.ind", "count(*) AS n", "avg(p.salary) AS pay", "collect(p.name) AS who")
    assert rows == [
        {"p.ind": "tech", "n": 2, "pay": 150.0, "who": ["Ann", "Bob"]},
        {"p.ind": "farm", "n": 1, "pay": 50.0, "who": ["Cid"]},
        {"p.ind": None, "n": 1, "pay": None, "who": ["Dee"]},
    ]


def test_grouping_by_graph_values_uses_uids(g):
    # every job row holds a new Node object for the company: grouped by uid
    rows = jobs(g).return_("c", "count(*) AS staff", "collect(p.name) AS who")
    assert [(label(r["c"]), r["staff"], r["who"]) for r in rows] == [("Acme", 2, ["Ann", "Bob"]),
                                                                     ("Farm", 1, ["Cid"])]
    # an expression item that is a graph value groups the same way
    rows = jobs(g).return_("coalesce(c) AS c", "count(*)")
    assert [(label(r["c"]), r["count(*)"]) for r in rows] == [("Acme", 2), ("Farm", 1)]
    # collect and count DISTINCT of graph values
    row = jobs(g).return_("collect(c) AS cs", "count(DISTINCT c) AS n")[0]
    assert [label(c) for c in row["cs"]] == ["Acme", "Acme", "Farm"] and row["n"] == 2


def test_grouping_by_several_items_and_rows_without_an_entry():
    g = Graph()
    for name, k in [("A", 1), ("B", 2), ("C", 1), ("D", 2), ("E", 1)]:
        add_node(g, name, k=k, even=k % 2 == 0)
    q = g.query().match(node="n").match(node="m", type=Variable("B"))
    # m has an entry on the first row only: the other rows group without it
    rows = q.return_("m", "n.k", "count(*) AS c")
    assert [(label(r["m"]) if "m" in r else None, r["n.k"], r["c"]) for r in rows] == [
        ("B", 1, 1), (None, 2, 2), (None, 1, 2)]
    assert q.return_("n.k", "n.even", "count(*)") == [
        {"n.k": 1, "n.even": False, "count(*)": 3}, {"n.k": 2, "n.even": True, "count(*)": 2}]


def test_non_aggregated_parts_of_an_aggregating_item_read_the_first_row(g):
    rows = people(g).return_("p.ind", "size(p.name) + count(*) AS x")
    assert [r["x"] for r in rows] == [5, 4, 4]


def test_return_distinct_with_aggregates(g):
    rows = people(g).return_distinct("p.ind IS NULL AS none", "count(*) AS n")
    assert rows == [{"none": False, "n": 3}, {"none": True, "n": 1}]


@pytest.mark.parametrize("condition, message", [
    ("count(*) > 1", "Invalid query: aggregate count() cannot be used in a condition at column 1 in 'count(*) > 1'"),
    ("p.age > avg(p.age)", "Invalid query: aggregate avg() cannot be used in a condition at column 9"),
])
def test_aggregates_are_refused_in_where(g, condition, message):
    with pytest.raises(ValueError) as caught:
        g.query().where(condition)
    assert str(caught.value).startswith(message)


@pytest.mark.parametrize("item, message", [
    ("sum(p.name + 1)", "sum() expects numbers, got str at column 1 in 'sum(p.name + 1)'"),
    ("avg(p)", "avg() expects numbers, got Node at column 1 in 'avg(p)'"),
])
def test_aggregates_refuse_what_they_cannot_add(g, item, message):
    with pytest.raises(TypeError) as caught:
        people(g).return_(item)
    assert str(caught.value) == message


# --- parameters --------------------------------------------------------------------------------

def test_parameters_in_conditions_and_results(g):
    q = people(g).where("p.age >= $low").params(low=40)
    assert q.return_("p.name", "p.age - $low AS over") == [{"p.name": "Bob", "over": 0},
                                                          {"p.name": "Dee", "over": 10}]


def test_later_params_add_and_override_and_earlier_copies_do_not_see_them(g):
    q = people(g).where("p.name IN $names AND p.age > $age").params(names=["Ann"], age=0)
    early = q.limit(10)  # a copy taken before the next params call
    late = q.params(names=["Bob", "Cid", "Dee"], unused=1)
    assert late is not q
    assert early.return_("p.name") == [{"p.name": "Ann"}]
    # params changed its receiver as well as returning the copy; `age` is kept
    for query in (q, late):
        assert query.return_("p.name") == [{"p.name": "Bob"}, {"p.name": "Dee"}]


def test_parameter_values_are_never_parsed(g):
    q = people(g).where("p.name = $name").params(name="x' OR true OR '")
    assert q.return_("p") == []
    node = g.query().match(node="p").return_("p")[1]["p"]
    assert labels(people(g).where("p = $n").params(n=node).return_("p")) == [{"p": "Bob"}]
    assert people(g).params(v=None).return_("$v IS NULL AS x")[0] == {"x": True}


def test_a_parameter_with_no_value_is_an_error_when_the_query_runs(g):
    q = people(g).where("p.age > $min")  # building is fine
    with pytest.raises(ValueError, match=r"^Invalid query: parameter \$min has no value$"):
        q.return_("p")
    with pytest.raises(ValueError, match=r"^Invalid query: parameter \$x has no value$"):
        people(g).params(y=1).return_("$x")


def test_params_arguments(g):
    with pytest.raises(TypeError):
        g.query().params(1)
    with pytest.raises(ValueError, match="expected a parameter name after '\\$'"):
        g.query().where("$ = 1")


# --- exists() ----------------------------------------------------------------------------------

@pytest.mark.parametrize("condition, names", [
    ("exists((p)-[]->(:Acme))", "Ann Bob"),
    ("NOT exists((p)-[]->())", "Dee"),
    ("exists(()-[]->(p))", "Bob"),
    ("exists((p)<-[]-())", "Bob"),
    ("exists((p)-[]-())", "Ann Bob Cid"),
    ("exists((p)-[]->()-[]->())", "Ann"),
    ("exists((x)-[]->(p)-[]->(y))", "Bob"),
    ("exists((x)-[]->(:Farm))", "Ann Bob Cid Dee"),
    ("exists((x)-[]->(:Nowhere))", ""),
    ("exists((p)(:Acme))", "Ann Bob Cid Dee"),
    ("exists((p))", "Ann Bob Cid Dee"),
])
def test_exists_fixes_the_rows_variables_and_leaves_others_free(g, condition, names):
    rows = people(g).where(condition).return_("p.name")
    assert " ".join(r["p.name"] for r in rows) == names


def test_exists_with_bound_edges_and_both_ends(g):
    def count(condition):
        return g.query().match("(a)-[r]->(b)").where(condition).return_count()
    assert count("exists((a)-[r]->(b))") == 4
    assert count("exists((b)-[r]->(a))") == 0
    assert count("exists((b)<-[r]-(a))") == 4
    assert count("exists(()-[r]->(:Acme))") == 2
    assert count("exists((a)-[r]->(:Acme))") == 2
    assert count("exists(()-[]->()-[r]->())") == 1  # only Bob->Acme has a hop before it
    assert count("exists(()-[r]-())") == 4
    # an edge bound where the pattern wants a node never matches
    assert count("exists((r)-[]->())") == 0


def test_exists_of_unbound_variables_raises_nothing(g):
    assert people(g).where("exists((zzz)-[]->(p))").return_("p.name") == [{"p.name": "Bob"}]


def test_exists_in_a_result_expression(g):
    rows = people(g).return_("p.name", "exists((p)-[]->()) AS working")
    assert [r["working"] for r in rows] == [True, True, True, False]


def test_exists_with_a_malformed_pattern_fails_when_where_is_called(g):
    with pytest.raises(ValueError, match="^Invalid pattern"):
        g.query().where("exists((p)-->())")
    with pytest.raises(ValueError, match="unterminated exists\\( pattern"):
        g.query().where("exists((p)-[]->()")


def test_exists_sees_edges_added_between_runs():
    g = Graph()
    a, b = add_node(g, "A"), add_node(g, "B")
    q = g.query().match(node="n").where("exists((n)-[]->())")
    assert q.return_count() == 0
    add_edge(g, "f", a, b)
    assert labels(q.return_("n")) == [{"n": "A"}]


# --- unbound variables -------------------------------------------------------------------------

@pytest.mark.parametrize("build", [
    lambda q: q.where("q.age > 3").return_("p"),
    lambda q: q.where("q IS NULL").return_("p"),
    lambda q: q.order_by("q", "age").return_("p"),
    lambda q: q.return_("q.age + 1"),
    lambda q: q.return_("count(q)"),
    lambda q: q.return_("p.age AS a", "q.age AS b"),
    lambda q: q.limit(0).where("q = 1").return_("p"),
])
def test_a_variable_with_no_list_is_a_name_error(g, build):
    with pytest.raises(NameError, match="^Variable 'q' not found$"):
        build(g.query().match(node="p"))


def test_a_shorter_list_still_reads_null(g):
    def q():
        return g.query().match(node="p").match(node="q", type=Variable("Ann"))
    assert q().where("q IS NULL").return_count() == 5
    assert q().order_by("q", "age").return_count() == 6
    assert [r["x"] for r in q().return_("q.name AS x")] == ["Ann"] + [None] * 5


# --- compose, size and type of lists -----------------------------------------------------------

A, B, C, D = (Variable(x) for x in "ABCD")


def edge(name, left, right):
    return Edge(Term(name, Application(left, right)), add_node(Graph(), "X"), add_node(Graph(), "Y"))


@pytest.mark.parametrize("edges, composed", [
    ([edge("f", A, B), edge("g", B, C), edge("h", C, D)], "(A -> D)"),
    ([edge("f", A, B)], "(A -> B)"),
    ([edge("f", Application(A, B), C), edge("g", C, Application(A, B))], "((A -> B) -> (A -> B))"),
    ([edge("f", A, B), edge("g", C, D)], None),
    ([edge("g", B, C), edge("f", A, B)], None),
    ([Edge(Term("x", A), add_node(Graph(), "X"), add_node(Graph(), "Y"))], None),
    ([], None),
    ((edge("f", A, B), edge("g", B, C)), "(A -> C)"),
])
def test_compose_of_a_list_of_edges(edges, composed):
    g = Graph()
    add_node(g, "N")
    row = g.query().match(node="n").params(r=edges).return_("compose($r) AS c", "size($r) AS s", "type($r) AS t")
    assert row == [{"c": composed, "s": len(edges), "t": None}]


@pytest.mark.parametrize("value, message", [
    ([1], "compose() expects a list of edges, got an item of type int at column 1 in 'compose($r)'"),
    ("ab", "compose() expects a list of edges, got str at column 1 in 'compose($r)'"),
])
def test_compose_refuses_other_values(value, message):
    g = Graph()
    add_node(g, "N")
    with pytest.raises(TypeError) as caught:
        g.query().match(node="n").params(r=value).return_("compose($r)")
    assert str(caught.value) == message


def test_compose_of_a_bound_edge_list_agrees_with_the_python_list():
    # The lists a variable-length match binds, read in place, and the same
    # edges handed back as a Python list.
    g = Graph()
    n = [add_node(g, f"N{i}") for i in range(4)]
    for name, (left, right), (i, j) in [("f", (A, B), (0, 1)), ("g", (B, C), (1, 2)), ("h", (C, A), (2, 0)),
                                        ("k", (D, D), (2, 3))]:
        add_edge(g, name, n[i], n[j], term_type=Application(left, right))
    rows = g.query().match("(a:N0)-[r*0..4]->(b)").return_("r", "compose(r) AS c", "size(r) AS s")
    assert sorted(len(row["r"]) for row in rows) == [0, 1, 2, 3, 3]
    for row in rows:
        alone = g.query().match(node="n", type=Variable("N0")).params(r=row["r"])
        assert alone.return_("compose($r) AS c", "size($r) AS s") == [{"c": row["c"], "s": row["s"]}]
    assert [row["c"] for row in rows if [e.term.name for e in row["r"]] == ["f", "g", "h"]] == ["(A -> A)"]
