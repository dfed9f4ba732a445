"""Running a query: node matches, the replace and append rules, positional
pairing of rows, the run triggers, foreign entries in the graph's dicts, and
Python code that misbehaves while a run is comparing property values."""
from __future__ import annotations

import pytest

from small_graphs import add_edge, add_node, column, graph_with, labels, node_types
from velarto import Application, Edge, Graph, Node, Query, Term, Variable

A, B, C = Variable("A"), Variable("B"), Variable("C")


class Boom(Exception):
    pass


@pytest.fixture
def abc():
    g, nodes = graph_with("A", "B", "C")
    return g, nodes


# --- node-form match ---------------------------------------------------------------------------

def test_empty_graph():
    q = Graph().query().match(node="n")
    assert q.return_("n") == []
    assert q.return_count() == 0


def test_no_operations():
    q = Graph().query()
    assert q.return_("n") == [] and q.return_count() == 0 and q.return_() == []


@pytest.mark.parametrize("match, expected", [
    (dict(node="n"), ["A", "B", "C"]),
    (dict(node="n", type=B), ["B"]),
    (dict(node="n", type=Variable("Z")), []),
    (dict(node="n", type_schema="$C$"), ["C"]),
    (dict(node="n", type_schema="$*$"), ["A", "B", "C"]),
    (dict(node="n", properties={"rank": 2}), ["B", "C"]),
    (dict(node="n", type=C, properties={"rank": 2}), ["C"]),
    (dict(node="n", type=A, properties={"rank": 2}), []),
    (dict(pattern="(n)"), ["A", "B", "C"]),
    (dict(pattern="(n:B)"), ["B"]),
    (dict(pattern="( n : $*$ )"), ["A", "B", "C"]),
])
def test_node_match(match, expected):
    g = Graph()
    add_node(g, "A", rank=1)
    add_node(g, "B", rank=2)
    add_node(g, "C", rank=2.0)
    assert column(g.query().match(**match).return_("n"), "n") == expected


def test_lookup_by_type_ignores_keys():
    g = Graph()
    first = Node(A, {"i": 1})
    second = Node(A, {"i": 2})
    g.nodes["not the uid"] = first
    add_node(g, "B")
    g.nodes[first.uid()] = second
    rows = g.query().match(node="n", type=A).return_("n")
    assert [row["n"].properties["i"] for row in rows] == [1, 2]
    assert rows[0]["n"].properties is first.properties


def test_lookup_by_type_with_str_subclass_keys():
    class Key(str):
        pass

    g = Graph()
    node = Node(A, {"i": 1})
    g.nodes[Key("a")] = node
    add_node(g, "B")
    assert [r["n"].properties for r in g.query().match(node="n", type=A).return_("n")] == [{"i": 1}]


def test_bound_nodes_share_the_stored_properties(abc):
    g, nodes = abc
    rows = g.query().match(node="n", type=A).return_("n")
    assert rows[0]["n"] is not nodes["A"]
    assert rows[0]["n"].properties is nodes["A"].properties


def test_match_without_variable_binds_nothing(abc):
    g, _ = abc
    q = g.query().match("(:A)").match("()")
    assert q.return_count() == 0
    assert q.match(node="n").return_count() == 3


def test_second_match_replaces(abc):
    g, _ = abc
    q = g.query().match(node="n", type=A).match(node="n", type=B)
    assert column(q.return_("n"), "n") == ["B"]
    q = g.query().match(node="n", type=A).match(node="n")  # replaces, does not narrow
    assert column(q.return_("n"), "n") == ["A", "B", "C"]
    q = g.query().match(node="n").match(node="n", type=Variable("Z"))  # an empty list replaces too
    assert q.return_("n") == [] and q.return_count() == 0


def test_later_paths_rebind_names_in_another_order(abc):
    # Each path binds its names in its own order; a later path binding the
    # same names backwards, or one name twice (one node at both places), must
    # land each list on its own name.
    g, nodes = abc
    add_edge(g, "f", nodes["A"], nodes["B"])
    add_edge(g, "h", nodes["B"], nodes["C"])
    add_edge(g, "k", nodes["C"], nodes["B"])
    q = g.query().match("(x)-[r]->(y)").match("(y)-[s]->(x)")
    assert labels(q.return_("x", "y", "r", "s")) == [{"x": "B", "y": "A", "r": "f", "s": "f"},
                                                      {"x": "C", "y": "B", "r": "h", "s": "h"},
                                                      {"x": "B", "y": "C", "r": "k", "s": "k"}]
    q = q.match("(y)-[t]->(z)-[u]->(y)")  # the cycles B-h-C-k-B and C-k-B-h-C
    assert labels(q.return_("x", "y", "r", "s", "t", "z", "u")) == [
        {"x": "B", "y": "B", "r": "f", "s": "f", "t": "h", "z": "C", "u": "k"},
        {"x": "C", "y": "C", "r": "h", "s": "h", "t": "k", "z": "B", "u": "h"},
        {"x": "B", "r": "k", "s": "k"}]


def test_empty_list_does_not_hide_other_rows(abc):
    g, _ = abc
    q = g.query().match(node="a").match(node="z", type=Variable("Z"))
    assert labels(q.return_("a", "z")) == [{"a": "A"}, {"a": "B"}, {"a": "C"}]
    assert q.return_count() == 3


# --- rows ------------------------------------------------------------------------------------------

@pytest.mark.parametrize("names, expected", [
    (("a", "b"), [{"a": "A", "b": "A"}, {"a": "B"}, {"a": "C"}]),
    (("b", "a"), [{"b": "A", "a": "A"}, {"a": "B"}, {"a": "C"}]),
    (("b",), [{"b": "A"}]),
    (("a",), [{"a": "A"}, {"a": "B"}, {"a": "C"}]),
    (("zzz",), []),
    (("zzz", "b"), [{"b": "A"}]),
    (("a", "a"), [{"a": "A"}, {"a": "B"}, {"a": "C"}]),
    ((), []),
])
def test_rows_pair_lists_by_position(abc, names, expected):
    g, _ = abc
    q = g.query().match(node="a").match(node="b", type=A)
    rows = q.return_(*names)
    assert labels(rows) == expected
    assert [list(row) for row in rows] == [list(row) for row in expected]
    assert q.return_count() == 3


def test_two_separate_matches_are_not_combined():
    g, _ = graph_with("A1", "B1", "A2")
    q = g.query().match(node="a", type_schema="$A1$").match(node="a2", type_schema="$A2$")
    q = q.match(node="a").match(node="b", type_schema="$B1$")
    assert labels(q.return_("a", "b")) == [{"a": "A1", "b": "B1"}, {"a": "B1"}, {"a": "A2"}]


def test_rows_are_new_objects_every_time(abc):
    g, nodes = abc
    q = g.query().match(node="n", type=A).match(node="m", type=A)
    first, second = q.return_("n", "m"), q.return_("n")
    objects = [first[0]["n"], first[0]["m"], second[0]["n"]]
    assert len({id(o) for o in objects}) == 3
    assert all(o.properties is nodes["A"].properties for o in objects)


def test_return_distinct_takes_the_arguments_of_return(abc):
    g, _ = abc
    q = g.query().match(node="n", type=A)
    assert labels(q.return_distinct("n")) == [{"n": "A"}]
    assert q.return_distinct() == [] and q.return_distinct("zz") == []


# --- run triggers ------------------------------------------------------------------------------

def test_execute_returns_a_copy_with_the_same_bindings(abc):
    g, _ = abc
    q = g.query().merge(node="n", type=A)
    e = q.execute()
    assert type(e) is Query and e is not q
    # both start the next run from one bound entry; the merge appends one more
    assert e.return_count() == 2
    assert q.return_count() == 2
    assert e.return_count() == 3


def test_execute_keeps_receivers_bindings(abc):
    g, _ = abc
    q = g.query().merge(node="n", type=A)
    q.execute()
    q.execute()
    assert labels(q.return_("n")) == [{"n": "A"}] * 3


def test_every_trigger_runs_the_whole_queue(abc):
    g, _ = abc
    q = g.query().merge(node="n", type=A)
    assert q.return_count() == 1
    assert len(q.return_("n")) == 2
    q.return_distinct("n")
    assert q.return_count() == 4
    q.execute()
    assert q.return_count() == 6


def test_return_twice_creates_twice():
    g = Graph()
    q = g.query().create(node="n", type=A)
    first = q.return_("n")[0]["n"]
    stored_first = next(iter(g.nodes.values()))
    second = q.return_("n")[0]["n"]
    stored_second = next(iter(g.nodes.values()))
    assert stored_first is not stored_second and len(g.nodes) == 1
    assert first.properties is not second.properties
    assert second.properties is stored_second.properties


def test_query_made_before_nodes_are_added():
    g = Graph()
    q = g.query().match(node="n")
    assert q.return_count() == 0
    add_node(g, "A")
    add_node(g, "B")
    assert column(q.return_("n"), "n") == ["A", "B"]
    del g.nodes[Node(A).uid()]
    assert column(q.return_("n"), "n") == ["B"]


# --- foreign entries in the graph's dicts -----------------------------------------------------------

def fill(g, nodes=(), edges=()):
    for key, value in nodes:
        g.nodes[key] = value
    for key, value in edges:
        g.edges[key] = value


@pytest.mark.parametrize("foreign", [
    dict(nodes=[(5, Node(C))]),                    # a non-str key anywhere
    dict(nodes=[(b"x", Node(C))]),
    dict(nodes=[("x", "not a node")]),
    dict(nodes=[("x", Edge(Term("f", A), Node(A), Node(B)))]),
], ids=["int key", "bytes key", "str value", "edge value"])
def test_lookup_by_type_refuses_foreign_entries(foreign):
    g, _ = graph_with("A", "B")
    fill(g, **foreign)
    for q in (g.query().match(node="n", type=A), g.query().merge(node="n", type=A)):
        with pytest.raises(TypeError):
            q.execute()
    assert len(g.nodes) == 3


def test_scan_without_type_ignores_keys():
    g, _ = graph_with("A")
    g.nodes[5] = Node(B)
    assert column(g.query().match(node="n").return_("n"), "n") == ["A", "B"]


@pytest.mark.parametrize("value", ["x", 5, None, Variable("A"), Edge(Term("f", A), Node(A), Node(B))])
def test_node_scans_refuse_non_nodes(value):
    g, _ = graph_with("A")
    g.nodes["foreign"] = value
    for q in (g.query().match(node="n"), g.query().match("(n)"), g.query().match("(a)(b)"),
              g.query().match(node=None, pattern="()"), g.query().merge(node="n", properties={"x": 1})):
        with pytest.raises(TypeError):
            q.execute()


@pytest.mark.parametrize("value", ["x", 5, None, Node(A)])
def test_edge_scans_refuse_non_edges(value):
    g, nodes = graph_with("A", "B")
    add_edge(g, "f", nodes["A"], nodes["B"])
    g.edges["foreign"] = value
    for q in (g.query().match("(a)-[e]->(b)"), g.query().match(edge="e"),
              g.query().match("(a)-[e]-(b)-[r]-(c)"),
              g.query().match(node="a", type=B).match(node="b", type=A).merge(edge="e", start="a", end="b")):
        with pytest.raises(TypeError):
            q.execute()


def test_foreign_entry_ends_the_run_after_earlier_steps():
    g, _ = graph_with("A")
    g.nodes[7] = Node(B)
    q = g.query().create(node="c", type=C).merge(node="m", type=A).create(node="d", type=Variable("D"))
    with pytest.raises(TypeError):
        q.execute()
    assert node_types(g) == ["A", "B", "C"]


# --- hostile Python code inside a run -----------------------------------------------------------------

class OnEq:
    """A property value whose `==` runs `action` (once, unless `always`) and then answers `answer`."""

    def __init__(self, action, answer=True, always=False):
        self.action, self.answer, self.always, self.calls = action, answer, always, 0

    def __eq__(self, other):
        self.calls += 1
        if self.calls == 1 or self.always:
            self.action()
        return self.answer

    __hash__ = object.__hash__


@pytest.mark.parametrize("mutate", [
    lambda g: add_node(g, "New"),
    lambda g: g.nodes.pop(Node(C).uid()),
    lambda g: g.nodes.clear(),
    lambda g: g.nodes.update({Node(B).uid(): Node(B)}),  # same size, other value
], ids=["insert", "remove other", "clear", "replace"])
def test_eq_that_changes_the_scanned_node_dict(mutate):
    g, _ = graph_with("A", "B", "C")
    add_node(g, "D", k=OnEq(lambda: mutate(g)))
    q = g.query().match(node="n", properties={"k": 1})
    with pytest.raises(RuntimeError):
        q.execute()


@pytest.mark.parametrize("ahead", [1, 9, 17, 45])
@pytest.mark.parametrize("action", ["reassign", "pop"])
def test_eq_that_changes_a_node_the_scan_has_read_ahead(action, ahead):
    # The scan reads a few entries ahead of the node it tests. A node ahead,
    # held by nothing but the dict, is given new properties or removed by the
    # `==` of an earlier node: the first must show, the second must stop the
    # scan before the freed node is read.
    g = Graph()
    first = add_node(g, "First")
    uids = [add_node(g, f"N{i}", k=2).uid() for i in range(50)]
    target = uids[ahead - 1]

    def change():
        if action == "pop":
            g.nodes.pop(target)
        else:
            g.nodes[target].properties = {"k": 1}

    first.properties["k"] = OnEq(change, answer=False)
    q = g.query().match(node="n", properties={"k": 1})
    if action == "pop":
        with pytest.raises(RuntimeError, match="dictionary changed during iteration"):
            q.execute()
        assert target not in g.nodes
    else:
        assert column(q.return_("n"), "n") == [f"N{ahead - 1}"]


def test_eq_that_changes_the_node_dict_during_a_lookup_by_type():
    g, _ = graph_with("A", "B")
    value = OnEq(lambda: g.nodes.clear())
    stored = Node(Variable("D"), {"k": value})
    g.nodes[stored.uid()] = stored
    rows = g.query().match(node="n", type=Variable("D"), properties={"k": 1}).return_("n")
    assert column(rows, "n") == ["D"]     # candidates are taken before any comparison
    assert len(g.nodes) == 0


def test_eq_that_deletes_the_node_being_tested():
    g, _ = graph_with("A")
    victim = Node(Variable("D"))
    victim.properties["k"] = OnEq(lambda: g.nodes.pop(victim.uid()))
    g.nodes[victim.uid()] = victim
    with pytest.raises(RuntimeError):
        g.query().match(node="n", properties={"k": 1}).execute()
    assert node_types(g) == ["A"]
    g.nodes[victim.uid()] = victim
    victim.properties["k"].calls = 0
    rows = g.query().match(node="n", type=Variable("D"), properties={"k": 1}).return_("n")
    assert column(rows, "n") == ["D"]
    assert rows[0]["n"].properties is victim.properties


def test_eq_that_drops_the_properties_dict_being_read():
    g = Graph()
    node = Node(A)
    add_node(g, "B", k=1)

    def drop():
        node.properties = {}
        g.nodes.pop(node.uid())

    node.properties["k"] = OnEq(drop, answer=True)
    node.properties["j"] = 2
    g.nodes[node.uid()] = node
    rows = g.query().match(node="n", type=A, properties={"k": 1, "j": 2}).return_("n")
    assert column(rows, "n") == ["A"]


def test_eq_that_changes_the_scanned_edge_dict():
    g, nodes = graph_with("A", "B")
    f = add_edge(g, "f", nodes["A"], nodes["B"])
    f.properties["w"] = OnEq(lambda: add_edge(g, "g", nodes["B"], nodes["A"]))
    with pytest.raises(RuntimeError):
        g.query().match(edge="e", start="a", properties={"w": 1}).execute()
    f.properties["w"].calls = 0
    q = g.query().match(node="x", type=A).match(edge="e", start="a", end="b", properties={"w": 1})
    with pytest.raises(RuntimeError):
        q.execute()
    f.properties["w"] = OnEq(lambda: nodes["A"].properties.clear())  # other dicts may change
    rows = g.query().match(edge="e", start="a", properties={"w": 1}).return_("e", "a")
    assert labels(rows) == [{"e": "f", "a": "A"}]


@pytest.mark.parametrize("form", ["match", "chain", "merge"])
def test_eq_that_replaces_edges_under_the_same_keys(form):
    # Same size, same keys, new Edge objects: the old ones are freed unless the
    # scan holds them, and only a version check (not the size) sees the change.
    g, nodes = graph_with("A", "B")
    f = add_edge(g, "f", nodes["A"], nodes["B"])
    h = add_edge(g, "h", nodes["A"], nodes["B"])

    def replace_all():
        for uid, edge in list(g.edges.items()):
            g.edges[uid] = Edge(edge.term, edge.start, edge.end, {"w": 2})

    f.properties["w"] = OnEq(replace_all)
    h.properties["w"] = 1
    if form == "match":
        q = g.query().match(edge="e", properties={"w": 1})
    elif form == "chain":
        q = g.query().match(node="x", type=A).match(edge="e", start="a", end="b", properties={"w": 1})
    else:
        q = g.query().match(node="a", type=A).match(node="b", type=B)
        q = q.merge(edge="e", start="a", end="b", properties={"w": 1})
    with pytest.raises(RuntimeError, match="dictionary changed during iteration"):
        q.execute()
    assert [e.properties["w"] for e in g.edges.values()] == [2, 2]


def test_edge_property_eq_that_deletes_the_edge_being_tested():
    g, nodes = graph_with("A", "B")
    f = add_edge(g, "f", nodes["A"], nodes["B"])
    f.properties["w"] = OnEq(lambda: g.edges.pop(f.uid()))
    with pytest.raises(RuntimeError):
        g.query().match(edge="e", properties={"w": 1}).execute()
    assert len(g.edges) == 0


def test_eq_that_calls_the_same_query_again():
    g, _ = graph_with("A")
    seen = []
    holder = {}

    def reenter():
        for call in (lambda: holder["q"].return_count(), lambda: holder["q"].execute(),
                     lambda: holder["q"].limit(1), lambda: holder["q"].return_("n")):
            try:
                call()
            except RuntimeError as error:
                seen.append(str(error))
        seen.append(holder["copy"].return_count())  # a different Query object is free

    add_node(g, "B", k=OnEq(reenter))
    holder["q"] = g.query().match(node="n", properties={"k": 1})
    holder["copy"] = g.query().match(node="n", type=A)
    assert column(holder["q"].return_("n"), "n") == ["B"]
    assert len(seen) == 5 and seen[-1] == 1
    assert all("already" in text for text in seen[:4])


def test_eq_reentry_error_propagates_when_not_caught():
    g, _ = graph_with("A")
    holder = {}
    add_node(g, "B", k=OnEq(lambda: holder["q"].execute()))
    holder["q"] = g.query().match(node="n", properties={"k": 1})
    with pytest.raises(RuntimeError):
        holder["q"].return_count()
    assert holder["q"].return_count() == 1  # free again after the failed run


def test_exception_reaches_the_caller_unchanged_and_earlier_work_stays():
    error = Boom("once")
    g, _ = graph_with("A")

    def fail():
        raise error

    add_node(g, "B", k=OnEq(fail, always=False))
    q = g.query().merge(node="m", type=A).create(node="c", type=C)
    q = q.match(node="n", properties={"k": 1}).create(node="d", type=Variable("D"))
    with pytest.raises(Boom) as caught:
        q.return_count()
    assert caught.value is error
    assert node_types(g) == ["A", "B", "C"]          # the create before the failure stays
    assert q.return_count() == 2                      # m: one entry from the failed run, one now
    assert node_types(g) == ["A", "B", "C", "D"]


def test_bool_raising_reaches_the_caller():
    error = Boom("bool")

    class Truthless:
        def __bool__(self):
            raise error

    g, _ = graph_with("A")
    add_node(g, "B", k=OnEq(lambda: None, answer=Truthless(), always=True))
    q = g.query().create(node="c", type=C).match("(n)-[e]->(m)").match(node="n", properties={"k": 0})
    with pytest.raises(Boom) as caught:
        q.execute()
    assert caught.value is error
    assert "C" in node_types(g)


def test_hostile_set_target_that_changes_the_set_dict():
    g, nodes = graph_with("A")
    d = {"x": 1, "y": 2}

    class Meddling(dict):
        def __setitem__(self, key, value):
            d.clear()
            d["z"] = 3
            super().__setitem__(key, value)

    nodes["A"].properties = Meddling()
    g.query().match(node="n", type=A).set("n", d).execute()
    assert dict(nodes["A"].properties) == {"x": 1, "y": 2}
    assert d == {"z": 3}


def test_finaliser_running_inside_a_step():
    log, holder = [], {}

    class Dying:
        def __del__(self):
            for name in ("q", "other"):
                try:
                    log.append((name, holder[name].return_count()))
                except RuntimeError:
                    log.append((name, "busy"))
            g.nodes.clear()
            g.edges.clear()

    g, nodes = graph_with("A", "B")
    nodes["A"].properties["d"] = Dying()            # dies when the create replaces node A
    add_edge(g, "f", nodes["B"], nodes["B"], w=Dying())  # dies when the first finaliser clears the edges
    del nodes
    holder["q"] = g.query().match(node="b", type=B).create(node="a", type=A)
    holder["q"] = holder["q"].delete("b", detach=True).match(node="z")
    holder["other"] = g.query().match(node="n")
    assert labels(holder["q"].return_("a", "b", "z")) == [{"a": "A", "b": "B"}]
    assert log == [("q", "busy"), ("other", 2), ("q", "busy"), ("other", 0)]
    assert len(g.nodes) == 0 and len(g.edges) == 0
