"""Steps that change the graph: create (nodes, paths, edges), merge (nodes and
edges), set and delete, repeated runs, and failures in the middle of a run."""
from __future__ import annotations

import random

import pytest

from small_graphs import add_edge, add_node, column, edge_names, graph_with, labels, node_types, triangle_with_loop
from velarto import Application, Edge, Graph, Node, Term, Variable

A, B, C, T = Variable("A"), Variable("B"), Variable("C"), Variable("T")
F_AB = Term("f", Application(A, B))


class Boom(Exception):
    pass


def stored(g: Graph, type_) -> Node:
    return g.nodes[Node(type_).uid()]


# --- create: nodes and paths --------------------------------------------------------------------

def test_create_node_on_an_empty_graph():
    g = Graph()
    q = g.query().create(node="p", type=T, properties={"name": "Alice"})
    rows = q.return_("p")
    assert node_types(g) == ["T"]
    assert stored(g, T).properties == {"name": "Alice"}
    assert labels(rows) == [{"p": "T"}]
    assert rows[0]["p"].properties is stored(g, T).properties


def test_create_stores_the_value_objects_in_a_new_dict():
    g = Graph()
    value = object()
    given = {"v": value}
    g.query().create(node="p", type=Application(A, B), properties=given).execute()
    node = stored(g, Application(A, B))
    assert node.properties is not given and node.properties["v"] is value
    assert str(node) == "Node((A -> B))"


def test_create_without_type_does_nothing():
    g, _ = graph_with("A")
    q = g.query().match(node="p", type=A).create(node="p", properties={"k": 1})
    assert labels(q.return_("p")) == [{"p": "A"}]
    assert node_types(g) == ["A"]


def test_create_replaces_the_stored_node_of_its_type():
    g, nodes = graph_with("A", "B")
    nodes["A"].properties["old"] = 1
    g.query().create(node="n", type=A, properties={"new": 2}).execute()
    assert node_types(g) == ["A", "B"]  # same key, same place in the dict
    assert stored(g, A) is not nodes["A"] and stored(g, A).properties == {"new": 2}


def test_two_creates_of_one_type_keep_the_later():
    g = Graph()
    q = g.query().create(node="a", type=T, properties={"v": 1}).create(node="b", type=T, properties={"v": 2})
    rows = q.return_("a", "b")
    assert node_types(g) == ["T"] and stored(g, T).properties == {"v": 2}
    assert rows[0]["a"].properties == {"v": 1}
    assert rows[0]["b"].properties is stored(g, T).properties


def test_create_binds_by_replacement(abc_graph):
    g = abc_graph
    q = g.query().match(node="n").create(node="n", type=Variable("D"))
    assert labels(q.return_("n")) == [{"n": "D"}]
    assert q.return_count() == 1


@pytest.fixture
def abc_graph():
    g, _ = graph_with("A", "B", "C")
    return g


def test_repeated_runs_store_a_fresh_node():
    g = Graph()
    q = g.query().create(node="n", type=A, properties={"k": 1})
    q.execute()
    first = stored(g, A)
    first.properties["k"] = 99
    rows = q.return_("n")
    assert stored(g, A) is not first and stored(g, A).properties == {"k": 1}
    assert len(rows) == 1 and rows[0]["n"].properties is stored(g, A).properties


# --- create: edges ---------------------------------------------------------------------------------

@pytest.fixture
def ab():
    g, nodes = graph_with("A", "B")
    return g, nodes


def test_create_edge(ab):
    g, nodes = ab
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    rows = q.create(edge="e", start="a", end="b", term=F_AB, properties={"w": 1}).return_("e", "a", "b")
    assert labels(rows) == [{"e": "f", "a": "A", "b": "B"}]
    edge = g.edges[Edge(F_AB, nodes["A"], nodes["B"]).uid()]
    assert repr(edge) == "Edge(f: A -> B)" and edge.properties == {"w": 1}
    assert edge.start.properties is nodes["A"].properties
    assert edge.end.properties is nodes["B"].properties
    assert rows[0]["e"].properties is edge.properties


def test_create_edge_uses_the_first_bound_nodes(ab):
    g, _ = ab
    add_node(g, "C")
    q = g.query().match(node="a").match(node="b", type=C)
    q.create(edge="e", start="b", end="a", term=Term("g", A)).execute()
    assert [repr(e) for e in g.edges.values()] == ["Edge(g: C -> A)"]


def test_create_edge_binds_by_replacement(ab):
    g, nodes = ab
    add_edge(g, "old1", nodes["A"], nodes["B"])
    add_edge(g, "old2", nodes["B"], nodes["A"])
    q = g.query().match("(a:A)-[e]-(b:B)")
    assert column(q.return_("e"), "e") == ["old1", "old2"]
    rows = q.create(edge="e", start="a", end="b", term=F_AB).return_("e")
    assert column(rows, "e") == ["f"]


@pytest.mark.parametrize("setup, kwargs", [
    ("both", dict(start="a", end="b")),                        # no term
    ("a only", dict(start="a", end="b", term=F_AB)),           # end unbound
    ("both", dict(start="a", end="zz", term=F_AB)),
    ("empty b", dict(start="a", end="b", term=F_AB)),          # end bound to an empty list
    ("edges", dict(start="x", end="x", term=F_AB)),            # bound to edges, not nodes
    ("edges", dict(start="a", end="x", term=F_AB)),
])
def test_create_edge_that_does_nothing(ab, setup, kwargs):
    g, nodes = ab
    add_edge(g, "g", nodes["B"], nodes["A"])
    q = g.query().match(node="a", type=A)
    if setup == "both":
        q = q.match(node="b", type=B)
    elif setup == "empty b":
        q = q.match(node="b", type=Variable("Z"))
    elif setup == "edges":
        q = q.match(edge="x")
    q = q.create(edge="e", **kwargs)
    assert column(q.return_("e"), "e") == []
    assert edge_names(g) == ["g"]


# --- merge: nodes ------------------------------------------------------------------------------------

def test_merge_that_finds_appends(ab):
    g, nodes = ab
    q = g.query().match(node="n", type=A).merge(node="n", type=A)
    rows = q.return_("n")
    assert labels(rows) == [{"n": "A"}, {"n": "A"}]
    assert all(r["n"].properties is nodes["A"].properties for r in rows)
    assert stored(g, A) is nodes["A"]


def test_merge_that_creates_replaces(ab):
    g, nodes = ab
    nodes["A"].properties["k"] = 1
    q = g.query().match(node="n").merge(node="n", type=A, properties={"k": 2})
    rows = q.return_("n")
    assert labels(rows) == [{"n": "A"}]
    assert stored(g, A) is not nodes["A"] and stored(g, A).properties == {"k": 2}
    assert rows[0]["n"].properties is stored(g, A).properties


def test_merge_honours_type_schema(ab):
    g, nodes = ab
    q = g.query().merge(node="n", type=A, type_schema="$B$")
    assert q.return_count() == 1
    assert stored(g, A) is not nodes["A"]  # not found: created anew


@pytest.mark.parametrize("kwargs, found", [
    (dict(type_schema="$*$"), "A"),
    (dict(type_schema="$B$"), "B"),
    (dict(properties={"k": 2}), "B"),
    (dict(properties={"k": 2.0}), "B"),
    (dict(), "A"),
])
def test_merge_without_type_takes_the_first_accepted(kwargs, found):
    g = Graph()
    add_node(g, "A", k=1)
    add_node(g, "B", k=2)
    add_node(g, "C", k=2)
    rows = g.query().merge(node="n", **kwargs).return_("n")
    assert labels(rows) == [{"n": found}]


def test_merge_stops_at_the_first_accepted():
    compared = []

    class Counting:
        def __init__(self, name):
            self.name = name

        def __eq__(self, other):
            compared.append(self.name)
            return True

    g = Graph()
    for name in "ABC":
        add_node(g, name, k=Counting(name))
    g.query().merge(node="n", properties={"k": 1}).execute()
    assert compared == ["A"]
    compared.clear()
    g.query().match(node="n", properties={"k": 1}).execute()
    assert compared == ["A", "B", "C"]


def test_merge_without_type_finding_nothing_changes_nothing(ab):
    g, nodes = ab
    q = g.query().merge(node="n", properties={"k": "none"}).merge(node="m", type_schema="$Z$")
    assert q.return_count() == 0
    assert node_types(g) == ["A", "B"] and stored(g, A) is nodes["A"]


def test_merge_without_node_takes_the_path_form(ab):
    g, nodes = ab
    q = g.query().merge("(x)", node=None, type=C)   # no node: the path form reuses x, unbound here
    with pytest.raises(NameError, match="^Variable 'x' not found$"):
        q.execute()
    assert node_types(g) == ["A", "B"]


def test_merge_runs_repeatedly():
    g = Graph()
    q = g.query().merge(node="n", type=A, properties={"k": 1})
    assert q.return_count() == 1          # created: replaced with one entry
    created = stored(g, A)
    assert q.return_count() == 2          # found: appended
    assert q.return_count() == 3
    assert stored(g, A) is created
    g.nodes.clear()
    assert q.return_count() == 1          # created again: replaced


# --- merge: edges -------------------------------------------------------------------------------------

@pytest.fixture
def ab_edge():
    g, nodes = graph_with("A", "B", "C")
    f = add_edge(g, "f", nodes["A"], nodes["B"], w=1)
    add_edge(g, "h", nodes["B"], nodes["C"])
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    return g, nodes, f, q


@pytest.mark.parametrize("kwargs, bound, edges", [
    (dict(), ["f"], ["f", "h"]),
    (dict(term=F_AB), ["f"], ["f", "h"]),
    (dict(term_type_schema="$A -> B$"), ["f"], ["f", "h"]),
    (dict(properties={"w": 1}), ["f"], ["f", "h"]),
    (dict(properties={"w": 1.0}, term=F_AB, term_type_schema="$*$"), ["f"], ["f", "h"]),
    (dict(term_type_schema="$B -> A$"), [], ["f", "h"]),
    (dict(properties={"w": 2}), [], ["f", "h"]),
    (dict(term=Term("f", A)), ["f"], ["f", "h", "f"]),        # other term of the same name: created
    (dict(term=Term("g", Application(A, B))), ["g"], ["f", "h", "g"]),
    (dict(term=Term("g", A), properties={"w": 5}), ["g"], ["f", "h", "g"]),
])
def test_merge_edge_between_a_and_b(ab_edge, kwargs, bound, edges):
    g, nodes, f, q = ab_edge
    rows = q.merge(edge="r", start="a", end="b", **kwargs).return_("r")
    assert column(rows, "r") == bound
    assert edge_names(g) == edges


def test_merge_edge_that_creates(ab_edge):
    g, nodes, f, q = ab_edge
    t = Term("g", C)
    rows = q.merge(edge="r", start="a", end="b", term=t, properties={"w": 3}).return_("r", "a")
    created = g.edges[Edge(t, nodes["A"], nodes["B"]).uid()]
    assert repr(created) == "Edge(g: A -> B)" and created.properties == {"w": 3}
    assert labels(rows) == [{"r": "g", "a": "A"}]
    assert rows[0]["r"].properties is created.properties


def test_merge_edge_with_swapped_ends_is_not_found(ab_edge):
    g, nodes, f, q = ab_edge
    assert q.merge(edge="r", start="b", end="a").return_("r") == []
    assert edge_names(g) == ["f", "h"]
    rows = q.merge(edge="r", start="b", end="a", term=Term("g", A)).return_("r")
    assert column(rows, "r") == ["g"]
    assert [repr(e) for e in g.edges.values()] == ["Edge(f: A -> B)", "Edge(h: B -> C)", "Edge(g: B -> A)"]


def test_merge_edge_appends_when_found(ab_edge):
    g, nodes, f, q = ab_edge
    q = q.match(edge="r").merge(edge="r", start="a", end="b")
    assert column(q.return_("r"), "r") == ["f", "h", "f"]


def test_merge_edge_runs_repeatedly(ab):
    g, nodes = ab
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    q = q.merge(edge="r", start="a", end="b", term=F_AB)
    assert column(q.return_("r"), "r") == ["f"]          # created: replaced
    assert column(q.return_("r"), "r") == ["f", "f"]     # found: appended
    assert len(g.edges) == 1


@pytest.mark.parametrize("names", [("a", "zz"), ("zz", "b"), ("x", "b"), ("a", "x"), ("empty", "b")])
def test_merge_edge_needs_nodes_first_in_both_lists(ab_edge, names):
    g, nodes, f, q = ab_edge
    q = q.match(edge="x").match(node="empty", type=Variable("Z"))
    rows = q.merge(edge="r", start=names[0], end=names[1], term=Term("new", A)).return_("r")
    assert rows == [] and edge_names(g) == ["f", "h"]


def test_merge_edge_compares_end_points_by_uid():
    g = Graph()
    a1, b1 = Node(A, {"copy": 1}), Node(B, {"copy": 1})
    add_edge(g, "f", a1, b1)
    add_node(g, "A")
    add_node(g, "B")
    q = g.query().match(node="a", type=A).match(node="b", type=B).merge(edge="r", start="a", end="b")
    rows = q.return_("r")
    assert column(rows, "r") == ["f"] and rows[0]["r"].start.properties is a1.properties


# --- set ----------------------------------------------------------------------------------------------

def test_set_reads_the_callers_dict_at_run_time(ab):
    g, nodes = ab
    nodes["A"].properties.update(keep=1, name="old")
    d = {"name": "new"}
    q = g.query().match(node="n", type=A).set("n", d)
    d["extra"] = [1]
    q.execute()
    assert nodes["A"].properties == {"keep": 1, "name": "new", "extra": [1]}
    assert nodes["A"].properties["extra"] is d["extra"]
    assert stored(g, A).properties is nodes["A"].properties


def test_set_writes_again_on_every_run(ab):
    g, nodes = ab
    q = g.query().match(node="n").set("n", {"k": 1})
    q.execute()
    nodes["A"].properties["k"] = 5
    q.execute()
    assert [n.properties for n in g.nodes.values()] == [{"k": 1}, {"k": 1}]


def test_set_of_an_unbound_variable_does_nothing(ab):
    g, nodes = ab
    g.query().set("n", {"k": 1}).match(node="m", type=A).set("zz", {"k": 1}).execute()
    assert all(n.properties == {} for n in g.nodes.values())


def test_set_on_edges_and_their_end_nodes(ab):
    g, nodes = ab
    f = add_edge(g, "f", nodes["A"], nodes["B"])
    q = g.query().match("(a)-[e]->(b)").set("e", {"w": 2}).set("a", {"seen": True})
    rows = q.return_("e")
    assert f.properties == {"w": 2} and g.edges[f.uid()].properties is f.properties
    assert rows[0]["e"].properties is f.properties
    assert nodes["A"].properties == {"seen": True}


def test_set_after_a_create_reaches_the_stored_node():
    g = Graph()
    g.query().create(node="n", type=A).set("n", {"k": 1}).execute()
    assert stored(g, A).properties == {"k": 1}


def test_set_with_an_empty_dict(ab):
    g, nodes = ab
    nodes["A"].properties["k"] = 1
    g.query().match(node="n").set("n", {}).execute()
    assert nodes["A"].properties == {"k": 1}


# --- delete -----------------------------------------------------------------------------------------------

@pytest.fixture
def triangle():
    return triangle_with_loop("i")


def test_delete_keeps_the_bindings(triangle):
    g, _ = triangle
    q = g.query().match(node="n", type=A).delete("n")
    assert labels(q.return_("n")) == [{"n": "A"}]
    assert node_types(g) == ["B", "C"]
    assert edge_names(g) == ["f", "g", "h", "i"]   # no detach: the edges stay


@pytest.mark.parametrize("match, names, detach, nodes_left, edges_left", [
    ("(n:A)", ("n",), False, ["B", "C"], ["f", "g", "h", "i"]),
    ("(n:A)", ("n",), True, ["B", "C"], ["g", "i"]),
    ("(n:B)", ("n",), True, ["A", "C"], ["h"]),
    ("(a:A)-[e]->(b)", ("e",), False, ["A", "B", "C"], ["g", "h", "i"]),
    ("(a:A)-[e]->(b)", ("e",), True, ["A", "B", "C"], ["g", "h", "i"]),
    ("(a:A)-[e]->(b)", ("e", "a"), False, ["B", "C"], ["g", "h", "i"]),
    ("(a:A)-[e]->(b)", ("b", "e"), True, ["A", "C"], ["h"]),
    ("(a)-[e]->(b)", ("zz",), True, ["A", "B", "C"], ["f", "g", "h", "i"]),
    ("(n:A)", ("n", "n"), False, ["B", "C"], ["f", "g", "h", "i"]),
    ("(n)", ("n",), True, [], []),
])
def test_delete(triangle, match, names, detach, nodes_left, edges_left):
    g, _ = triangle
    g.query().match(match).delete(*names, detach=detach).execute()
    assert node_types(g) == nodes_left
    assert edge_names(g) == edges_left


def test_delete_twice_and_again_on_later_runs(triangle):
    g, _ = triangle
    q = g.query().match(node="n", type=A).delete("n").delete("n", detach=True)
    q.execute()
    assert node_types(g) == ["B", "C"] and edge_names(g) == ["g", "i"]
    q.execute()
    assert node_types(g) == ["B", "C"]
    q2 = g.query().match(node="n").delete()
    assert q2.return_count() == 2 and node_types(g) == ["B", "C"]


def test_delete_removes_by_uid_whatever_is_stored(triangle):
    g, nodes = triangle
    q = g.query().match(node="n", type=A)
    q.execute()
    g.nodes[nodes["A"].uid()] = Node(A, {"replacement": 1})
    q.match(node="zz").delete("n").execute()
    assert node_types(g) == ["B", "C"]


def test_detach_with_a_self_loop_and_the_other_end(triangle):
    g, nodes = triangle
    g.query().match(node="n", type=B).delete("n", detach=True).execute()
    assert edge_names(g) == ["h"]
    assert node_types(g) == ["A", "C"]


def random_graph(rng: random.Random) -> Graph:
    """A graph for the detach model: a dozen nodes at most, some of an
    application type; edges with self-loops and parallel edges (small graphs
    make both common), ends that are the stored node, a fresh node of an equal
    type (the same uid, another object) or a node the dict does not hold."""
    g = Graph()
    types = [Variable(f"T{i}") if rng.random() < 0.7 else Application(Variable(f"T{i}"), Variable("X"))
             for i in range(rng.randint(1, 12))]
    nodes = [Node(t, {"del": rng.random() < 0.35, "grp": rng.randrange(3)}) for t in types]
    for node in nodes:
        g.nodes[node.uid()] = node
    ghosts = [Node(Variable(f"G{i}")) for i in range(2)]

    def end():
        roll = rng.random()
        if roll < 0.1:
            return rng.choice(ghosts)
        node = rng.choice(nodes)
        if roll < 0.25:  # an equal type built anew
            t = node.type
            return Node(Variable(t.name) if isinstance(t, Variable) else Application(Variable(t.left.name), Variable("X")))
        return node

    for k in range(rng.randint(0, 40)):
        start = end()
        finish = start if rng.random() < 0.15 else end()
        edge = Edge(Term(f"e{k}", Variable("E")), start, finish, {"cut": rng.random() < 0.1})
        g.edges[edge.uid()] = edge
    return g


def delete_in_python(nodes: dict, edges: dict, bound: dict, names, detach: bool) -> None:
    """The delete step written in Python: removals by uid, then (detach) one
    pass over the edges against the set of deleted node uids."""
    deleted = []
    for name in names:
        for value in bound.get(name, ()):
            if isinstance(value, Node):
                nodes.pop(value.uid(), None)
                deleted.append(value.uid())
            else:
                edges.pop(value.uid(), None)
    if detach and deleted:
        dead = set(deleted)
        for key in [key for key, e in edges.items() if e.start.uid() in dead or e.end.uid() in dead]:
            del edges[key]


@pytest.mark.parametrize("seed", range(200))
def test_delete_against_a_python_model(seed):
    rng = random.Random(seed)
    g = random_graph(rng)
    nodes, edges = dict(g.nodes), dict(g.edges)
    bound = {"n": [v for v in g.nodes.values() if v.properties["del"]],
             "m": [v for v in g.nodes.values() if v.properties["grp"] == 2],
             "e": [v for v in g.edges.values() if v.properties["cut"]]}
    names = rng.choice([("n",), ("m", "n"), ("n", "n"), ("n", "e"), ("e", "m"), ("e",), ("zz", "n"), ()])
    detach = rng.random() < 0.8
    q = g.query().match(node="n", properties={"del": True}).match(node="m", properties={"grp": 2})
    q.match(edge="e", properties={"cut": True}).delete(*names, detach=detach).execute()
    delete_in_python(nodes, edges, bound, names, detach)
    assert list(g.nodes) == list(nodes) and all(g.nodes[k] is v for k, v in nodes.items())
    assert list(g.edges) == list(edges) and all(g.edges[k] is v for k, v in edges.items())


def test_detach_walk_meeting_a_foreign_value(triangle):
    # The walk fails before it removes anything: the node is gone, its edges stay.
    g, nodes = triangle
    g.edges["foreign"] = "not an edge"
    with pytest.raises(TypeError):
        g.query().match(node="n", type=A).delete("n", detach=True).execute()
    assert node_types(g) == ["B", "C"]
    del g.edges["foreign"]
    assert edge_names(g) == ["f", "g", "h", "i"]


# --- failures in the middle of a run --------------------------------------------------------------------

def test_setitem_raising_in_a_set_step(ab):
    g, nodes = ab
    error = Boom("no")

    class Guarded(dict):
        def __setitem__(self, key, value):
            if key == "bad":
                raise error
            super().__setitem__(key, value)

    nodes["A"].properties = Guarded()
    q = g.query().match(node="n").set("n", {"x": 1, "bad": 2, "y": 3}).create(node="c", type=C)
    with pytest.raises(Boom) as caught:
        q.execute()
    assert caught.value is error
    assert dict(nodes["A"].properties) == {"x": 1}      # written before the failure
    assert nodes["B"].properties == {}                  # the next target is not reached
    assert node_types(g) == ["A", "B"]                  # the later create does not run


def test_unhashable_key_in_a_set_step(ab):
    g, nodes = ab
    error = TypeError("unhashable now")

    class Fickle:
        hashed = 0

        def __hash__(self):
            Fickle.hashed += 1
            if Fickle.hashed > 1:
                raise error
            return 1

    d = {"first": 1}
    d[Fickle()] = 2
    d["last"] = 3
    q = g.query().create(node="c", type=C).match(node="n", type=A).set("n", d)
    with pytest.raises(TypeError) as caught:
        q.execute()
    assert caught.value is error
    assert nodes["A"].properties == {"first": 1}
    assert "C" in node_types(g)


def test_foreign_value_met_by_a_merge_after_writes(ab):
    g, nodes = ab
    g.nodes["foreign"] = "not a node"
    q = g.query().create(node="c", type=C).set("c", {"k": 1})
    q = q.merge(node="m", properties={"k": 1}).create(node="d", type=Variable("D"))
    with pytest.raises(TypeError):
        q.execute()
    assert stored(g, C).properties == {"k": 1}
    del g.nodes["foreign"]
    assert node_types(g) == ["A", "B", "C"]


def test_failing_comparison_during_a_merge(ab):
    g, nodes = ab
    error = Boom("merge")

    class Raising:
        def __eq__(self, other):
            raise error

    nodes["B"].properties["k"] = Raising()
    q = g.query().create(node="c", type=C).merge(node="m", type=B, properties={"k": 1})
    with pytest.raises(Boom) as caught:
        q.execute()
    assert caught.value is error
    assert stored(g, B) is nodes["B"] and "C" in node_types(g)


def test_failing_comparison_during_an_edge_merge(ab):
    g, nodes = ab
    error = Boom("edge merge")

    class Raising:
        def __eq__(self, other):
            raise error

    add_edge(g, "f", nodes["A"], nodes["B"], w=Raising())
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    q = q.merge(edge="r", start="a", end="b", properties={"w": 1}).create(node="c", type=C)
    with pytest.raises(Boom) as caught:
        q.execute()
    assert caught.value is error
    assert edge_names(g) == ["f"] and "C" not in node_types(g)
    # a required term that differs is checked first: the properties are never compared
    q = g.query().match(node="a", type=A).match(node="b", type=B)
    q.merge(edge="r", start="a", end="b", properties={"w": 1}, term=Term("g", A)).execute()
    assert edge_names(g) == ["f", "g"]


def test_store_into_a_node_dict_that_refuses(ab):
    g, nodes = ab
    # a foreign key makes the lookup by type fail before the create stores anything
    g.nodes[1] = nodes["A"]
    with pytest.raises(TypeError):
        g.query().merge(node="n", type=C).execute()
    assert "C" not in node_types(g)
    del g.nodes[1]
    g.query().create(node="n", type=C).execute()   # create does not look up by type
    assert "C" in node_types(g)
