"""exists(...) in where conditions, row after row.

Against an enumeration written here, on random graphs: a plain model of
trails (no edge twice in one path) in which a variable the row binds fixes
its place, a node by type, an edge by term, an edge list edge by edge in the
path's order. Then, worked by hand: edge lists fixed inside exists(), edges a
row's search took that the next row must be free to take, and a graph changed
by Python code between two rows' searches (or during one). Last, one edge with
one end fixed, answered from marks: by hand, and against the search.
"""
from __future__ import annotations

import random

import pytest

from small_graphs import add_edge, add_node, graph_with, random_graph
from velarto import Edge, Graph, Node, Variable

ARROWS = {"->": "-[{}]->", "<-": "<-[{}]-", "-": "-[{}]-"}
RANGES = {"": (1, 1), "*0..3": (0, 3), "*1..2": (1, 2), "*2": (2, 2)}


def name_of(value):
    if isinstance(value, Node):
        return str(value.type)
    if isinstance(value, Edge):
        return value.term.name
    return [edge.term.name for edge in value]  # an edge list


def named_rows(rows):
    return [{key: name_of(value) for key, value in row.items()} for row in rows]


# --- the model ------------------------------------------------------------------------------------

def trail_exists(graph, places, segments):
    """Whether a trail runs through the graph with node place i a node named
    places[i] (any node when None) and segment j, (arrow, least, most, fixed),
    taking least..most hops in the arrow's direction, exactly the edges named
    in `fixed` (in order) when that is not None. No edge twice in one trail."""
    edges = [(e.term.name, str(e.start.type), str(e.end.type)) for e in graph.edges.values()]

    def ways(start, end, arrow):
        return {"->": [(start, end)], "<-": [(end, start)], "-": [(start, end), (end, start)]}[arrow]

    def fits(place, node):
        return places[place] is None or places[place] == node

    def walk(segment, hops, at, used):
        arrow, least, most, fixed = segments[segment]
        if least <= hops and (fixed is None or hops == len(fixed)) and fits(segment + 1, at):
            if segment + 1 == len(segments) or walk(segment + 1, 0, at, used):
                return True
        if hops == most or (fixed is not None and hops >= len(fixed)):
            return False
        for name, start, end in edges:
            if name in used or (fixed is not None and fixed[hops] != name):
                continue
            for frm, to in ways(start, end, arrow):
                if frm == at and walk(segment, hops + 1, to, used | {name}):
                    return True
        return False

    return any(fits(0, node) and walk(0, 0, node, frozenset())
               for node in (str(n.type) for n in graph.nodes.values()))


# --- random graphs and patterns -------------------------------------------------------------------

# Outer matches, the kind of each variable they bind.
OUTERS = {
    "(a)-[r*0..2]-(b)": {"a": "node", "r": "list", "b": "node"},
    "(a)-[r]->(b)": {"a": "node", "r": "edge", "b": "node"},
    "(a)<-[r*1..2]-(b)-[s]-(c)": {"a": "node", "r": "list", "b": "node", "s": "edge", "c": "node"},
}
ANCHORS = ["start", "end", "both", "middle", "none"]


def random_inner(rng, kinds, anchor, graph):
    """A pattern for exists(): its text, and how to make the model's places
    and segments from an outer row."""
    node_vars = [v for v, k in kinds.items() if k == "node"]
    count = rng.randint(2 if anchor == "middle" else 1, 3)
    segments, texts = [], []
    for _ in range(count):
        arrow, written = rng.choice(list(ARROWS)), rng.choice(list(RANGES))
        wanted = "edge" if written == "" else "list"
        bindable = [v for v, k in kinds.items() if k == wanted]
        var = rng.choice(bindable) if bindable and rng.random() < 0.6 else None
        segments.append((arrow, *RANGES[written], var))
        texts.append(ARROWS[arrow].format((var or "") + written))
    if anchor == "middle":
        fixed_places = [rng.randint(1, count - 1)]
    else:
        fixed_places = {"start": [0], "end": [count], "both": [0, count], "none": []}[anchor]
    places = []  # per node place: ("var", name), ("type", name) or None
    for i in range(count + 1):
        if i in fixed_places:
            places.append(("var", rng.choice(node_vars)))
        elif rng.random() < 0.2:
            places.append(("type", str(rng.choice(list(graph.nodes.values())).type)))
        else:
            places.append(None)

    def node_text(place):
        if place is None:
            return "()"
        return f"({place[1]})" if place[0] == "var" else f"(:{place[1]})"

    text = node_text(places[0]) + "".join(t + node_text(p) for t, p in zip(texts, places[1:]))

    def model(row):
        model_places = [None if p is None else row[p[1]] if p[0] == "var" else p[1] for p in places]
        model_segments = []
        for arrow, least, most, var in segments:
            bound = None if var is None else row[var]
            fixed = None if bound is None else [bound] if isinstance(bound, str) else bound
            model_segments.append((arrow, least, most, fixed))
        return trail_exists(graph, model_places, model_segments)

    return text, model


@pytest.mark.parametrize("anchor", ANCHORS)
@pytest.mark.parametrize("outer", list(OUTERS))
def test_exists_keeps_the_rows_the_trail_model_keeps(outer, anchor):
    kinds = OUTERS[outer]
    rng = random.Random(f"{outer} {anchor}")
    for case in range(60):
        graph = random_graph(rng, nodes=(2, 6), edges=(1, 8))
        rows = named_rows(graph.query().match(outer).return_(*kinds))
        for _ in range(3):
            inner, model = random_inner(rng, kinds, anchor, graph)
            expected = [row for row in rows if model(row)]
            # a builder call adds to its receiver: a fresh query each time
            kept = named_rows(graph.query().match(outer).where(f"exists({inner})").return_(*kinds))
            assert kept == expected, (case, inner, list(graph.edges.values()))


# --- edge lists fixed inside exists() -------------------------------------------------------------

@pytest.fixture(scope="module")
def line() -> Graph:
    """A -f-> B -g-> C -h-> D."""
    graph, nodes = graph_with("A", "B", "C", "D")
    add_edge(graph, "f", nodes["A"], nodes["B"])
    add_edge(graph, "g", nodes["B"], nodes["C"])
    add_edge(graph, "h", nodes["C"], nodes["D"])
    return graph


# (a)-[r*1..2]->(b) binds r to [f], [f, g], [g], [g, h], [h]: a list in the
# path's order, so written from b back to a only one-edge lists read the same.
@pytest.mark.parametrize("condition, kept", [
    ("exists((a)-[r*1..2]->(b))", "f fg g gh h"),
    ("exists((a)-[r*1..2]-(b))", "f fg g gh h"),
    ("exists(()-[r*1..2]->(b))", "f fg g gh h"),      # found from b, the list walked backwards
    ("exists((b)<-[r*1..2]-(a))", "f g h"),
    ("exists((b)-[r*1..2]-(a))", "f g h"),
    ("exists((a)-[r*2]->(b))", "fg gh"),
    ("exists((a)-[r*0..1]->(b))", "f g h"),            # two edges do not fit in one hop
    ("exists(()-[r*1..2]->(:D))", "gh h"),
    ("exists(()-[]->()-[r*1..2]->()-[]->())", "g"),    # fixed in the middle only
    ("exists((a)-[r]->(b))", ""),                      # a list is never one edge
])
def test_edge_lists_fixed_inside_exists(line, condition, kept):
    rows = line.query().match("(a)-[r*1..2]->(b)").where(condition).return_("r")
    assert " ".join("".join(name_of(row["r"])) for row in rows) == kept


# --- edges taken by one row's search, free for the next -------------------------------------------

# A -x-> T and B -y-> A. Row A's search ends as soon as it takes x; row B's
# search must take x again, after y.
@pytest.mark.parametrize("condition", [
    "exists((n)-[*0..3]->()-[]->(:T))",
    "exists((:T)<-[]-()<-[*0..3]-(n))",
    "exists((n)-[*0..3]-()-[]-(:T))",
    "exists((n)-[*0..3]->()-[]->(:T)<-[*0..1]-())",
])
def test_a_rows_search_leaves_no_edge_taken(condition):
    graph, nodes = graph_with("A", "B", "T")
    add_edge(graph, "x", nodes["A"], nodes["T"])
    add_edge(graph, "y", nodes["B"], nodes["A"])
    rows = graph.query().match(node="n").where(condition).return_("n")
    assert [name_of(row["n"]) for row in rows] == ["A", "B"]


# --- the graph changed by Python code between rows, or during a search ----------------------------

class OnEq:
    """A property value whose `==` runs `action` once, then answers True."""

    def __init__(self, action):
        self.action, self.calls = action, 0

    def __eq__(self, other):
        self.calls += 1
        if self.calls == 1:
            self.action()
        return True

    __hash__ = object.__hash__


def add_g(graph, nodes):
    add_edge(graph, "g", nodes["B"], nodes["C"])


def drop_g(graph, nodes):
    graph.edges.pop(next(uid for uid, e in graph.edges.items() if e.term.name == "g"))


def turn_all(graph, nodes):
    # same keys, new objects running the other way: the old ones are freed
    for uid, e in list(graph.edges.items()):
        graph.edges[uid] = Edge(e.term, e.end, e.start)


# Nodes A, B, C; row B's `n.k = 1` runs the change after row A's search and
# before its own. Each answer is the one for the graph as it is then.
@pytest.mark.parametrize("edges, change, condition, kept", [
    ("f", add_g, "exists((n)-[]->())", "A B"),
    ("f g", drop_g, "exists((n)-[]->())", "A"),
    ("f g", turn_all, "exists((n)-[]->())", "A B C"),
    ("f g", turn_all, "exists(()-[]->(n))", "B"),
    ("f", add_g, "exists(()-[]->(:C))", "B C"),        # nothing fixed: one answer while unchanged
    ("f", add_g, "exists((n)-[*1..2]->(:C))", "B"),
    ("f", lambda g, _: add_node(g, "D"), "exists((:D))", "B C"),
    ("f", add_g, "exists((n)-[]->(:C))", "B"),         # one edge, one end fixed: marked again
    ("f g", drop_g, "exists((:B)-[]->(n))", ""),
])
def test_a_graph_changed_between_two_rows_searches(edges, change, condition, kept):
    graph, nodes = graph_with("A", "B", "C")
    ends = {"f": ("A", "B"), "g": ("B", "C")}
    for name in edges.split():
        add_edge(graph, name, *(nodes[n] for n in ends[name]))
    nodes["A"].properties["k"] = 1
    nodes["B"].properties["k"] = OnEq(lambda: change(graph, nodes))
    nodes["C"].properties["k"] = 1
    q = graph.query().match(node="n").where(f"n.k = 1 AND {condition}")
    assert [name_of(row["n"]) for row in q.return_("n")] == kept.split()
    assert nodes["B"].properties["k"].calls == 1


def test_a_change_during_a_search_still_ends_it():
    graph, nodes = graph_with("A", "B", "C")
    f = add_edge(graph, "f", nodes["A"], nodes["B"])
    f.properties["w"] = OnEq(lambda: add_g(graph, nodes))
    with pytest.raises(RuntimeError, match="dictionary changed during iteration"):
        graph.query().match(node="n").where("exists((n)-[{w: 1}]->())").execute()


# --- one edge, one end fixed: answered from marks made in one pass --------------------------------

@pytest.fixture(scope="module")
def tagged() -> Graph:
    """A -f:likes-> B -g:knows-> C -h:likes-> A, A -k-> C, a self-loop
    S -s:likes-> S, and D alone."""
    graph, nodes = graph_with("A", "B", "C", "S", "D")
    likes, knows = Variable("likes"), Variable("knows")
    add_edge(graph, "f", nodes["A"], nodes["B"], likes)
    add_edge(graph, "g", nodes["B"], nodes["C"], knows)
    add_edge(graph, "h", nodes["C"], nodes["A"], likes)
    add_edge(graph, "k", nodes["A"], nodes["C"])
    add_edge(graph, "s", nodes["S"], nodes["S"], likes)
    return graph


@pytest.mark.parametrize("condition, kept", [
    ("exists((n)-[:likes]->())", "A C S"),
    ("exists((n)<-[:likes]-())", "A B S"),
    ("exists((n)-[:likes]-())", "A B C S"),
    ("exists(()-[:likes]->(n))", "A B S"),            # the end fixed
    ("exists(()<-[:likes]-(n))", "A C S"),
    ("exists((n)-[:knows]->(:C))", "B"),
    ("exists((n)-[:knows]->(:A))", ""),
    ("exists((n)<-[:likes]-(:C))", "A"),
    ("exists((n)-[:likes]-(:S))", "S"),               # the self-loop, either way round
    ("exists((n)-[:likes]->(n))", "S"),               # one variable at both ends
    ("exists((n:B)-[]->())", "B"),                    # the fixed end's own type
    ("exists((n)-[]-(:C))", "A B"),
    ("exists((n)-[]-())", "A B C S"),
    ("NOT exists((n)-[:likes]->())", "B D"),
])
def test_one_edge_with_one_end_fixed(tagged, condition, kept):
    rows = tagged.query().match(node="n").where(condition).return_("n")
    assert " ".join(name_of(row["n"]) for row in rows) == kept


class Raising:
    def __eq__(self, other):
        raise ValueError("compared")

    __hash__ = object.__hash__


# Without property maps no property is compared; with one the search compares
# it (the marks are not used), and its error ends the run.
@pytest.mark.parametrize("condition, kept", [
    ("exists((n)-[:likes]->())", "A C S"),
    ("exists(()-[:likes]->(n))", "A B S"),
    ("exists((n)-[:likes]->({w: 1}))", None),
    ("exists((n)-[:likes {w: 1}]->())", None),
])
def test_one_edge_compares_properties_only_when_asked(condition, kept):
    graph, nodes = graph_with("A", "B", "C", "S", "D")
    likes = Variable("likes")
    for name in "ABCSD":
        nodes[name].properties["w"] = Raising()
    for name, start, end in [("f", "A", "B"), ("h", "C", "A"), ("s", "S", "S")]:
        add_edge(graph, name, nodes[start], nodes[end], likes, w=Raising())
    q = graph.query().match(node="n").where(condition)
    if kept is None:
        with pytest.raises(ValueError, match="compared"):
            q.execute()
    else:
        assert " ".join(name_of(row["n"]) for row in q.return_("n")) == kept


# The same patterns with a property map every node has on the free end take
# the general search: the two must keep the same rows.
@pytest.mark.parametrize("seed", range(40))
def test_one_edge_marks_agree_with_the_search(seed):
    rng = random.Random(seed)
    graph = Graph()
    names = [f"N{i}" for i in range(rng.randint(1, 6))]
    nodes = {name: add_node(graph, name, on=1) for name in names}
    kinds = [Variable("x"), Variable("y"), None]
    for k in range(rng.randint(0, 10)):
        add_edge(graph, f"e{k}", nodes[rng.choice(names)], nodes[rng.choice(names)], rng.choice(kinds))
    for arrow in ARROWS.values():
        for schema in ["", ":x", ":y"]:
            for other in ["", ":N1"]:
                edge = arrow.format(schema)
                for fast, slow in [(f"(n){edge}({other})", f"(n){edge}({other} {{on: 1}})"),
                                   (f"({other}){edge}(n)", f"({other} {{on: 1}}){edge}(n)")]:
                    q = graph.query().match(node="n")
                    got = [name_of(r["n"]) for r in q.where(f"exists({fast})").return_("n")]
                    want = [name_of(r["n"]) for r in q.where(f"exists({slow})").return_("n")]
                    assert got == want, (fast, [(e.term.name, str(e.term.type), str(e.start.type), str(e.end.type))
                                                for e in graph.edges.values()])
