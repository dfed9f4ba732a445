"""Pipelines: `with_` that computes, ordering by the bound values themselves,
and `order_by` followed by `limit` (kept rows only), worked by hand or checked
against the full sort."""
from __future__ import annotations

import random

import pytest

from velarto import Application, Edge, Graph, Node, Term, Variable

PEOPLE = [  # name, age, city
    ("Ann", 35, "X"),
    ("Bea", 28, "Y"),
    ("Cid", 52, "X"),
    ("Dee", None, "Y"),
    ("Eve", 41, "X"),
]


@pytest.fixture
def people():
    graph = Graph()
    for name, age, city in PEOPLE:
        node = Node(Variable(name), {"name": name, "age": age, "city": city, "card": {"k": name.lower()}})
        graph.nodes[node.uid()] = node
    return graph


@pytest.fixture
def jobs():
    """Ann, Bob -> Acme; Cy -> Globex; Di works nowhere."""
    graph = Graph()
    person, company = Variable("Person"), Variable("Company")
    firms = {name: Node(Variable(name), {"name": name}) for name in ("Acme", "Globex")}
    for firm in firms.values():
        graph.nodes[firm.uid()] = firm
    for name, firm in [("Ann", "Acme"), ("Bob", "Acme"), ("Cy", "Globex"), ("Di", None)]:
        worker = Node(Variable(name), {"name": name, "kind": "person"})
        graph.nodes[worker.uid()] = worker
        if firm:
            job = Edge(Term(f"{name}_job", Application(person, company)), worker, firms[firm])
            graph.edges[job.uid()] = job
    return graph


def people_query(graph):
    return graph.query().match(node="p")


# --- with_ computes ---------------------------------------------------------------------------------

def test_with_groups_as_return_does_and_binds_the_groups(jobs):
    grouped = jobs.query().match("(p)-[j]->(c)").with_("c", "count(*) AS n", "collect(p.name) AS who")
    assert grouped.return_("c.name", "n", "who") == [
        {"c.name": "Acme", "n": 2, "who": ["Ann", "Bob"]},
        {"c.name": "Globex", "n": 1, "who": ["Cy"]},
    ]
    # p and j were not named: gone.
    with pytest.raises(NameError):
        jobs.query().match("(p)-[j]->(c)").with_("c", "count(*) AS n").where("p.name = 'Ann'").return_("n")


def test_aggregates_in_with_and_in_return_agree(people):
    items = ("p.city AS c", "count(*) AS n", "avg(p.age) AS mean", "min(p.name) AS first")
    assert people_query(people).with_(*items).return_("c", "n", "mean", "first") == \
        people_query(people).return_(*items)


@pytest.mark.parametrize("tail, expected", [
    # where reads an alias, null is not > 30
    (lambda q: q.where("a > 30").return_("p.name", "a"),
     [{"p.name": "Ann", "a": 35}, {"p.name": "Cid", "a": 52}, {"p.name": "Eve", "a": 41}]),
    # order_by an alias's own value, nulls last ascending; skip and limit
    (lambda q: q.order_by("a", "").skip(1).limit(2).return_("p.name"), [{"p.name": "Ann"}, {"p.name": "Eve"}]),
    # a second with_ reads the first's alias and drops p
    (lambda q: q.with_("a + 1 AS b").return_("b", "p"), [{"b": 36}, {"b": 29}, {"b": 53}, {"b": None}, {"b": 42}]),
    # a dict value: x.key reads its key in expressions, order keys and return_
    (lambda q: q.with_("p.card AS d").order_by("d", "k", False).limit(2).return_("d.k", "d"),
     [{"d.k": "eve", "d": {"k": "eve"}}, {"d.k": "dee", "d": {"k": "dee"}}]),
    (lambda q: q.with_("p.card AS d").where("d.k STARTS WITH 'b'").return_("d"), [{"d": {"k": "bea"}}]),
    # return_distinct compares plain values by equality
    (lambda q: q.with_("p.city AS c").return_distinct("c"), [{"c": "X"}, {"c": "Y"}]),
])
def test_aliases_read_as_variables_later(people, tail, expected):
    assert tail(people_query(people).with_("p", "p.age AS a")) == expected


def test_carried_variables_keep_their_rows_and_shorter_lists_stay_short():
    atlas = Graph()
    for name, kind in [("Ann", "person"), ("Bea", "person"), ("Cid", "person"), ("Paris", "city"), ("Rome", "city")]:
        place = Node(Variable(name), {"name": name, "kind": kind})
        atlas.nodes[place.uid()] = place
    q = atlas.query().match(node="p", properties={"kind": "person"}).match(node="c", properties={"kind": "city"})
    assert q.with_("c", "p.name AS n").return_("c.name", "n") == [
        {"c.name": "Paris", "n": "Ann"}, {"c.name": "Rome", "n": "Bea"}, {"n": "Cid"}]
    # Grouped by c: the rows past c's list form a group of their own, which lacks c.
    q = atlas.query().match(node="p", properties={"kind": "person"}).match(node="c", properties={"kind": "city"})
    assert q.with_("c", "count(*) AS k").return_("c.name", "k") == [
        {"c.name": "Paris", "k": 1}, {"c.name": "Rome", "k": 1}, {"k": 1}]


@pytest.mark.parametrize("query, expected", [
    (lambda g: g.query().with_("1 AS x").return_("x"), []),  # no variables: nothing to project
    (lambda g: people_query(g).where("p.age > 99").with_("count(*) AS n").return_("n"), [{"n": 0}]),
    (lambda g: people_query(g).where("p.age > 99").with_("p", "p.age AS a").return_count(), 0),
    (lambda g: people_query(g).with_("p", "p AS q").where("q = p").return_count(), 5),  # a node stays a node
])
def test_edges_of_the_table(people, query, expected):
    assert query(people) == expected


# --- values are no places ---------------------------------------------------------------------------

@pytest.mark.parametrize("write", [
    lambda q: q.set("a", {"x": 1}),
    lambda q: q.delete("p", "a"),            # refused before p is deleted
    lambda q: q.create(edge="e", start="p", end="a", term=Term("t", Application(Variable("A"), Variable("B")))),
    lambda q: q.merge("(a)-[e:A -> B]->(p)"),
])
def test_writes_through_a_variable_of_values_are_refused_before_writing(people, write):
    nodes, edges = dict(people.nodes), dict(people.edges)
    cards = [dict(n.properties) for n in people.nodes.values()]
    with pytest.raises(TypeError, match="^Variable 'a' holds values, not nodes or edges$"):
        write(people_query(people).with_("p", "p.card AS a")).execute()
    assert (people.nodes, people.edges) == (nodes, edges)
    assert [dict(n.properties) for n in people.nodes.values()] == cards


def test_exists_with_a_value_fixed_matches_no_node(jobs):
    q = jobs.query().match("(p)-[j]->(c)").with_("p", "c.name AS x")
    assert q.where("exists((p)-[]->())").return_count() == 3
    q = jobs.query().match("(p)-[j]->(c)").with_("p", "c.name AS x")
    assert q.where("exists((x)-[]->()) OR exists((p)-[]->(x))").return_count() == 0


# --- order_by a value itself ------------------------------------------------------------------------

MIXED = [3, "b", 1.5, None, True, "a", [1], 2, (0,), "a"]
# numbers (bools among them), texts, other types by type name (list < tuple), null
ASCENDING = [True, 1.5, 2, 3, "a", "a", "b", [1], (0,), None]


@pytest.mark.parametrize("ascending", [True, False])
def test_order_by_the_values_themselves(ascending):
    graph = Graph()
    for i, value in enumerate(MIXED):
        node = Node(Variable(f"V{i}"), {"v": value, "i": i})
        graph.nodes[node.uid()] = node
    rows = (graph.query().match(node="n").with_("n.v AS v", "n.i AS i")
            .order_by("v", "", ascending).return_("v", "i"))
    values = [row["v"] for row in rows]
    if ascending:
        assert values == ASCENDING
    else:  # kinds reverse too: nulls first; within a kind the greater first
        assert values == [None, (0,), [1], "b", "a", "a", 3, 2, 1.5, True]
    # ties keep their order: the two 'a' rows come in row order either way
    assert [row["i"] for row in rows if row["v"] == "a"] == [5, 9]


def test_order_by_a_node_itself_is_by_uid(people):
    rows = people_query(people).order_by("p", "", False).return_("p")
    assert [row["p"].uid() for row in rows] == sorted((n.uid() for n in people.nodes.values()), reverse=True)


def test_a_key_of_a_value_that_is_no_dict_reads_null(people):
    rows = people_query(people).with_("p", "p.name AS n").order_by("n", "k").order_by("p", "age").return_("n")
    assert [row["n"] for row in rows] == ["Bea", "Ann", "Eve", "Cid", "Dee"]


# --- top-N ------------------------------------------------------------------------------------------

def ranked_graph(seed):
    rng = random.Random(seed)
    graph = Graph()
    for i in range(300):
        props = {"i": i, "a": rng.choice([1, 2, 3, 2.5, None, "x", True]), "b": rng.randint(0, 4)}
        if rng.random() < 0.1:
            del props["a"]
        node = Node(Variable(f"R{i}"), props)
        graph.nodes[node.uid()] = node
    return graph


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("skip, limit", [(0, 1), (0, 7), (5, 10), (290, 20), (0, 0), (0, 400)])
def test_top_n_is_the_full_sorts_prefix(seed, skip, limit):
    graph = ranked_graph(seed)

    def ordered(q):
        return q.order_by("n", "a", False).order_by("n", "b")

    full = ordered(graph.query().match(node="n")).return_("n.i")
    top = ordered(graph.query().match(node="n")).skip(skip).limit(limit).return_("n.i")
    assert top == full[skip:skip + limit]
    # the same through an alias ordered by itself
    via = (graph.query().match(node="n").with_("n", "n.b AS b").order_by("b", "", False)
           .skip(skip).limit(limit).return_("n.i"))
    assert via == graph.query().match(node="n").order_by("n", "b", False).return_("n.i")[skip:skip + limit]


def test_a_refused_ordering_is_a_tie_in_top_n_as_in_the_sort():
    graph = Graph()
    values = [1j, 2, 3j, 1, 2j]  # complex numbers refuse `<`: ties among themselves
    for i, value in enumerate(values):
        node = Node(Variable(f"C{i}"), {"v": value, "i": i})
        graph.nodes[node.uid()] = node
    full = graph.query().match(node="n").order_by("n", "v").return_("n.i")
    for limit in range(len(values) + 1):
        assert graph.query().match(node="n").order_by("n", "v").limit(limit).return_("n.i") == full[:limit]


NUMBERS = [2**53 + 1, 2.0**53, 2**53, -1, -1.5, 0.5, 0, 10**30, 1e30, float("inf"), -float("inf"), True, -2**63,
           -9.3e18, 2**63 - 1, 9.3e18, 0.0]


@pytest.mark.parametrize("limit", [3, len(NUMBERS)])
@pytest.mark.parametrize("ascending", [True, False])
def test_ints_and_floats_order_exactly_as_python_orders_them(ascending, limit):
    graph = Graph()
    for i, value in enumerate(NUMBERS):
        node = Node(Variable(f"N{i}"), {"v": value})
        graph.nodes[node.uid()] = node
    rows = graph.query().match(node="n").order_by("n", "v", ascending).limit(limit).return_("n.v")
    expected = sorted(NUMBERS, reverse=not ascending)  # stable both ways, as the order_by is
    assert [repr(row["n.v"]) for row in rows] == [repr(v) for v in expected[:limit]]


class ReassigningKey:
    """A sort key whose first comparison gives node 0 new properties that would sort it last."""
    victim = None

    def __init__(self, value):
        self.value = value

    def __lt__(self, other):
        if ReassigningKey.victim is not None:
            victim, ReassigningKey.victim = ReassigningKey.victim, None
            victim.properties = {"i": 0, "v": ReassigningKey(10_000)}
        return self.value < other.value


@pytest.mark.parametrize("tail", [
    lambda q: q.order_by("n", "v").limit(3).return_("n.i"),                                  # nodes held, then picked
    lambda q: q.with_("n", "n.v AS v").order_by("v", "").limit(3).return_("n.i"),           # through an alias
    lambda q: q.order_by("n", "v").return_("n.i")[:3],                                      # the full sort
], ids=["top-n", "top-n through with_", "full sort"])
def test_a_sort_reads_what_the_match_saw_when_properties_are_reassigned_meanwhile(tail):
    graph = Graph()
    nodes = [Node(Variable(f"K{i}"), {"i": i, "v": ReassigningKey(i)}) for i in range(50)]
    for node in reversed(nodes):
        graph.nodes[node.uid()] = node
    ReassigningKey.victim = nodes[0]
    assert tail(graph.query().match(node="n")) == [{"n.i": 0}, {"n.i": 1}, {"n.i": 2}]
    assert ReassigningKey.victim is None and nodes[0].properties["v"].value == 10_000
