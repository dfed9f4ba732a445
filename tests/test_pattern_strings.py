"""Pattern strings that mean what they say: property maps filter, variable-length
edges match chains (compared with an enumeration written here on random small
graphs), and create and merge write the paths they are given."""
from __future__ import annotations

import copy
import pickle
import random
import signal
import sys

import pytest

from _velarto_pickle import reconstruct

from small_graphs import add_edge, add_node, column, graph_with, label, labels, node_types, triangle_with_loop
from velarto import Edge, EdgePattern, Graph, Node, PathPattern, Term, Variable

A, B, C = (Variable(n) for n in "ABC")


def names(value):
    """A row value as text: a node's type, an edge's name, a list of edge names."""
    if isinstance(value, list):
        return [label(edge) for edge in value]
    return label(value)


def rows_of(graph, pattern, *variables):
    return [tuple(names(row[v]) for v in variables) for row in graph.query().match(pattern).return_(*variables)]


# --- property maps ---------------------------------------------------------------------------

@pytest.fixture
def people():
    g = Graph()
    for name, age in [("Ann", 30), ("Bob", 41), ("Cid", 30)]:
        add_node(g, name, name=name, age=age, tags=["x", name], ok=name != "Bob", gone=None)
    add_edge(g, "k1", *(node for node in g.nodes.values() if node.properties["name"] in ("Ann", "Bob")), since=2019)
    add_edge(g, "k2", *(node for node in g.nodes.values() if node.properties["name"] in ("Bob", "Cid")), since=2021)
    return g


@pytest.mark.parametrize("pattern, expected", [
    ("(p {name: 'Ann'})", ["Ann"]),
    ("(p {name: \"Bob\", age: 41})", ["Bob"]),
    ("(p {age: 30})", ["Ann", "Cid"]),
    ("(p {age: 30.0})", ["Ann", "Cid"]),              # Python == decides
    ("(p {age: -30})", []),
    ("(p {tags: ['x', 'Cid']})", ["Cid"]),
    ("(p {ok: TRUE})", ["Ann", "Cid"]),
    ("(p {ok: false})", ["Bob"]),
    ("(p {gone: null})", ["Ann", "Bob", "Cid"]),        # None == None: the key is there
    ("(p {missing: null})", []),                        # a missing key never matches
    ("(p:Ann {age: 30})", ["Ann"]),
    ("(p:Bob {age: 30})", []),
    ("(p {})", ["Ann", "Bob", "Cid"]),
])
def test_node_maps_filter(people, pattern, expected):
    assert column(people.query().match(pattern).return_("p"), "p") == expected


@pytest.mark.parametrize("pattern, expected", [
    ("(a)-[e {since: 2019}]->(b)", [("Ann", "k1", "Bob")]),
    ("(a)-[e {since: 2020}]->(b)", []),
    ("(a {name: 'Bob'})-[e]-(b)", [("Bob", "k1", "Ann"), ("Bob", "k2", "Cid")]),
    ("(a)<-[e {since: 2021}]-(b {age: 41})", [("Cid", "k2", "Bob")]),
])
def test_edge_and_end_maps_filter(people, pattern, expected):
    assert rows_of(people, pattern, "a", "e", "b") == expected


def test_map_values_are_the_literals_written(people):
    g = Graph()
    g.query().create("(n:N {i: -7, f: 2.5e1, s: 'it\\'s\\n', l: [1, [true, null]], t: true})").execute()
    (node,) = g.nodes.values()
    assert node.properties == {"i": -7, "f": 25.0, "s": "it's\n", "l": [1, [True, None]], "t": True}
    assert type(node.properties["i"]) is int and type(node.properties["f"]) is float


@pytest.mark.parametrize("pattern, message", [
    ("(p {name: })", "Invalid pattern '(p {name: })': Expected a literal value for key 'name' in property map, "
                     "found '}'"),
    ("(p {a: 1,})", "Invalid pattern '(p {a: 1,})': Trailing comma in property map"),
    ("(a)-[r {w: x}]->(b)", "Invalid pattern '-[r {w: x}]->': Expected a literal value for key 'w' in property "
                            "map, found 'x'"),
    ("(p {a: [$b]})", "Invalid pattern '(p {a: [$b]})': Expected a literal value for key 'a' in property map, "
                      "found '$b'"),  # a parameter is a whole value
    ("(p {a: $})", "Invalid pattern '(p {a: $})': Expected a parameter name after '$' in property map"),
])
def test_malformed_maps_fail_in_every_builder(pattern, message):
    q = Graph().query()
    for build in (q.match, q.create, q.merge):
        with pytest.raises(ValueError) as caught:
            build(pattern)
        assert str(caught.value) == message


def refusal(literal: str) -> str:
    """Why the interpreter will not convert an integer literal, as it says it."""
    with pytest.raises(ValueError) as caught:
        int(literal)
    return str(caught.value)


LONG = "1" * 5000


@pytest.mark.parametrize("pattern, token, key, literal", [
    (f"(p {{n: {LONG}}})", f"(p {{n: {LONG}}})", "n", LONG),
    (f"(a)-[r {{w: -{LONG}}}]->(b)", f"-[r {{w: -{LONG}}}]->", "w", f"-{LONG}"),
    (f"(a)-[r]->(b {{ok: 1, l: [2, [{LONG}]]}})", f"(b {{ok: 1, l: [2, [{LONG}]]}})", "l", LONG),
], ids=["node map", "edge map", "inside a list"])
def test_integers_beyond_the_interpreters_limit_are_malformed_maps(pattern, token, key, literal):
    message = (f"Invalid pattern '{token}': Literal value for key '{key}' in property map cannot be converted "
               f"({refusal(literal)})")
    q = Graph().query()
    for build in (q.match, q.create, q.merge, PathPattern, lambda text: q.where(f"exists({text})")):
        with pytest.raises(ValueError) as caught:
            build(pattern)
        assert str(caught.value) == message


@pytest.fixture
def digit_limit():
    """Sets the interpreter's limit on integer digits for one test."""
    before = sys.get_int_max_str_digits()
    yield sys.set_int_max_str_digits
    sys.set_int_max_str_digits(before)


@pytest.mark.parametrize("limit, digits", [(4300, 4300), (4300, 4301), (640, 641), (0, 5000)])
def test_the_digit_limit_is_the_interpreters_own(digit_limit, limit, digits):
    digit_limit(limit)
    literal = "7" * digits
    pattern = f"(n:N {{x: {literal}}})"
    g = Graph()
    if limit and digits > limit:
        with pytest.raises(ValueError, match="^Invalid pattern '"):
            g.query().create(pattern)
        return
    g.query().create(pattern).execute()
    (node,) = g.nodes.values()
    assert node.properties == {"x": int(literal)}
    assert column(g.query().match(pattern).return_("n"), "n") == ["N"]


# --- parameters in maps ------------------------------------------------------------------------

@pytest.mark.parametrize("pattern, values, expected", [
    ("(p {name: $who})", {"who": "Ann"}, ["Ann"]),
    ("(p {age: $age, ok: $ok})", {"age": 30, "ok": True}, ["Ann", "Cid"]),
    ("(p {age: $age, ok: $ok})", {"age": 30, "ok": False}, []),
    ("(p:Cid {tags: $t})", {"t": ["x", "Cid"]}, ["Cid"]),
    ("(p {gone: $g})", {"g": None}, ["Ann", "Bob", "Cid"]),  # as null written: the key is there
    ("(p {name: $who})", {"who": "'Ann'"}, []),               # a value is never read as text
    ("(p {name: $who})", {"who": "$who"}, []),
])
def test_map_parameters_filter_by_their_values(people, pattern, values, expected):
    assert column(people.query().match(pattern).params(**values).return_("p"), "p") == expected


def test_map_parameters_are_read_when_the_query_runs(people):
    query = people.query().match("(a {name: $who})-[e {since: $y}]-(b)")  # accepted without values
    with pytest.raises(ValueError) as caught:
        query.return_("b")
    assert str(caught.value) == "Invalid query: parameter $who has no value"
    query.params(who="Bob")
    with pytest.raises(ValueError, match=r"parameter \$y has"):
        query.return_("b")
    def rows(q):
        return [tuple(names(row[v]) for v in "aeb") for row in q.return_("a", "e", "b")]
    assert rows(query.params(y=2019)) == [("Bob", "k1", "Ann")]
    assert rows(query.params(who="Cid", y=2021)) == [("Cid", "k2", "Bob")]


def test_map_parameters_in_exists(people):
    query = people.query().match(node="p").where("exists((p)-[{since: $y}]->())")
    assert column(query.params(y=2021).return_("p"), "p") == ["Bob"]
    assert column(query.params(y=1999).return_("p"), "p") == []
    with pytest.raises(ValueError, match=r"parameter \$y has no value"):
        people.query().match(node="p").where("exists((p)-[{since: $y}]->())").return_("p")


def test_create_and_merge_write_parameter_values():
    g = Graph()
    with pytest.raises(ValueError, match=r"parameter \$n has no value"):
        g.query().create("(d:Dog {name: $n})").execute()
    assert len(g.nodes) == 0
    g.query().create("(d:Dog {name: $n, tags: $t})-[r:Pet {w: $n}]->(c:Cat)").params(n="Rex", t=["a"]).execute()
    dog = next(node for node in g.nodes.values() if str(node.type) == "Dog")
    assert dog.properties == {"name": "Rex", "tags": ["a"]}
    assert [edge.properties for edge in g.edges.values()] == [{"w": "Rex"}]
    merged = g.query().merge("(d:Dog {name: $n})").params(n="Rex")
    assert [row["d"].properties for row in merged.return_("d")] == [{"name": "Rex", "tags": ["a"]}]  # found
    g.query().merge("(d:Dog {name: $n})").params(n="Max").execute()  # missing: made (one node per type)
    assert [node.properties for node in g.nodes.values() if str(node.type) == "Dog"] == [{"name": "Max"}]


def test_a_path_pattern_holds_parameters_it_cannot_pickle():
    path = PathPattern("(n {name: $who})-[r {w: $w}]->(m)")
    assert len(path.nodes) == 2
    with pytest.raises(TypeError):
        pickle.dumps(path)


# --- variable-length edges: an independent enumeration -----------------------------------------

def enumerate_chains(nodes, edges, nodes_ok, segments):
    """Every chain the note describes, in its order.

    nodes: node names in node-dict order; edges: (name, start, end) in edge-dict order;
    nodes_ok[i](node): the i-th node pattern's test; segments: (direction, low, high or None,
    edge test) per edge pattern. Yields (node per position, per segment its edge names)."""
    def hops_from(node, direction):
        for i, (_, start, end) in enumerate(edges):
            if direction in ("forward", "any") and start == node:
                yield i, end
            elif direction in ("backward", "any") and end == node:
                yield i, start

    out = []

    def walk(segment, node, taken, used, places, done, extend=True):
        direction, low, high, edge_ok = segments[segment]
        if len(taken) >= low and nodes_ok[segment + 1](node):
            reached = places + [node]
            finished = done + [list(taken)]
            if segment + 1 == len(segments):
                out.append((reached, finished))
            else:
                walk(segment + 1, node, [], used, reached, finished)
        if extend and (high is None or len(taken) < high):
            for i, other in hops_from(node, direction):
                if i not in used and edge_ok(edges[i]):
                    walk(segment, other, taken + [edges[i][0]], used | {i}, places, done)

    direction, low, high, edge_ok = segments[0]
    if low == 0:
        for node in nodes:
            if nodes_ok[0](node):
                walk(0, node, [], frozenset(), [node], [], extend=False)
    if high is None or high >= 1:
        for i, (name, start, end) in enumerate(edges):
            ways = {"forward": [(start, end)], "backward": [(end, start)],
                    "any": [(start, end)] + ([(end, start)] if start != end else [])}[direction]
            for source, target in ways:
                if edge_ok(edges[i]) and nodes_ok[0](source):
                    walk(0, target, [name], frozenset({i}), [source], [])
    return out


RANGES = [("*", 1, None), ("*2", 2, 2), ("*1..3", 1, 3), ("*..2", 1, 2), ("*2..", 2, None), ("*0..2", 0, 2),
          ("*0..", 0, None), ("*..", 1, None), ("*0", 0, 0), ("", 1, 1), ("*2..1", 2, 1), ("*..0", 1, 0)]
ARROWS = {"forward": ("-[", "]->"), "backward": ("<-[", "]-"), "any": ("-[", "]-")}


def random_graph(rng):
    """Up to 5 nodes and 7 edges: self-loops, parallel edges and cycles come up often."""
    count = rng.randint(1, 5)
    g, made = graph_with(*[f"N{i}" for i in range(count)])
    edges = []
    for i in range(rng.randint(0, 7)):
        start, end = rng.choice(list(made)), rng.choice(list(made))
        w = rng.randint(0, 1)
        add_edge(g, f"e{i}", made[start], made[end], w=w)
        edges.append((f"e{i}", start, end, w))
    return g, list(made), edges


def random_path(rng, node_names):
    """A pattern string of one or two edge patterns, and what each part tests."""
    parts, nodes_ok, segments = [], [], []
    for position in range(rng.choice([2, 2, 3])):
        typed = rng.random() < 0.25
        name = rng.choice(node_names)
        parts.append(f"(n{position}:{name})" if typed else f"(n{position})")
        nodes_ok.append((lambda node, name=name: node == name) if typed else (lambda node: True))
        if position == 0:
            continue
        text, low, high = rng.choice(RANGES)
        direction = rng.choice(list(ARROWS))
        filtered = rng.random() < 0.25
        left, right = ARROWS[direction]
        edge_text = f"{left}r{position}{text}{' {w: 1}' if filtered else ''}{right}"
        parts.insert(len(parts) - 1, edge_text)
        segments.append((direction, low, high, (lambda e: e[3] == 1) if filtered else (lambda e: True)))
    return "".join(parts), nodes_ok, segments


def test_variable_length_matches_an_independent_enumeration():
    rng = random.Random(20261207)
    checked = 0
    for _ in range(400):
        g, node_names, edges = random_graph(rng)
        pattern, nodes_ok, segments = random_path(rng, node_names)
        plain = [(name, start, end) for name, start, end, _ in edges]
        w_of = {name: w for name, _, _, w in edges}
        segments = [(d, lo, hi, (lambda ok: lambda e: ok((*e, w_of[e[0]])))(ok)) for d, lo, hi, ok in segments]
        expected = enumerate_chains(node_names, plain, nodes_ok, segments)
        variables = [f"n{i}" for i in range(len(nodes_ok))] + [f"r{i + 1}" for i in range(len(segments))]
        rows = g.query().match(pattern).return_(*variables)
        got = [([names(row[f"n{i}"]) for i in range(len(nodes_ok))],
                [names(row[f"r{i + 1}"]) for i in range(len(segments))]) for row in rows]
        # a fixed edge binds an edge, a ranged one a list of edges
        ranged = [f"r{i + 1}*" in pattern for i in range(len(segments))]
        want = [(places, [lst if r else lst[0] for lst, r in zip(lists, ranged)]) for places, lists in expected]
        assert got == want, pattern
        checked += len(got)
    assert checked > 1000  # the random graphs do produce chains


# --- variable-length edges: what is bound -----------------------------------------------------

@pytest.fixture
def triangle():
    """A -f-> B -g-> C -h-> A, and a self-loop s on B."""
    return triangle_with_loop("s")[0]


def test_the_variable_holds_a_list_of_edges_in_path_order(triangle):
    rows = triangle.query().match("(a:A)-[r*3]->(b)").return_("a", "r", "b")
    assert [names(row["r"]) for row in rows] == [["f", "g", "h"], ["f", "s", "g"]]
    chain = rows[0]["r"]
    assert all(type(edge) is Edge for edge in chain)
    assert [edge.end.uid() for edge in chain[:-1]] == [edge.start.uid() for edge in chain[1:]]


def test_zero_length_chains_bind_one_node_twice_and_an_empty_list(triangle):
    rows = triangle.query().match("(a)-[r*0]-(b:B)").return_("a", "r", "b")
    assert [(names(row["a"]), row["r"], names(row["b"])) for row in rows] == [("B", [], "B")]


def test_no_edge_twice_across_fixed_and_ranged_hops(triangle):
    # f then any chain back to A: f may not be used again by the ranged part
    rows = rows_of(triangle, "(a:A)-[x]->(b)-[r*]->(c:A)", "x", "r")
    assert rows == [("f", ["g", "h"]), ("f", ["s", "g", "h"])]


@pytest.mark.parametrize("condition, expected", [
    ("size(r) = 2", [["f", "g"], ["f", "s"]]),
    ("type(r) IS NULL", [["f"], ["f", "g"], ["f", "s"]]),
])
def test_conditions_on_edge_lists(triangle, condition, expected):
    rows = triangle.query().match("(a:A)-[r*1..2]->(b)").where(condition).return_("r")
    assert [names(row["r"]) for row in rows] == expected


@pytest.mark.parametrize("pattern", [
    "(a)-[r*2..1]->(c)",
    "(a)-[r*..0]-(c)",
    "(a)-[r*0..]->(b)-[s*3..2]->(c)",
    "(a)<-[r:B*5..4 {w: 1}]-(c)",
])
def test_a_minimum_above_the_maximum_matches_nothing(triangle, pattern):
    query = triangle.query().match(pattern)
    assert query.return_("a", "r", "c") == [] and query.return_count() == 0
    assert triangle.query().match(node="a").where(f"exists({pattern})").return_("a") == []


def test_distinct_lists_compare_edge_by_edge(triangle):
    rows = triangle.query().match("(a)-[r*0..1]->(b)").return_distinct("r")
    assert [names(row["r"]) for row in rows] == [[], ["f"], ["g"], ["h"], ["s"]]


def test_set_and_delete_act_on_every_edge_of_a_list(triangle):
    triangle.query().match("(a:A)-[r*2]->(b:C)").set("r", {"seen": True}).execute()
    assert {e.term.name for e in triangle.edges.values() if e.properties.get("seen")} == {"f", "g"}
    triangle.query().match("(a:A)-[r*2]->(b:C)").delete("r").execute()
    assert sorted(e.term.name for e in triangle.edges.values()) == ["h", "s"]


def test_an_unbounded_range_is_interruptible():
    g = Graph()
    nodes = [add_node(g, f"K{i}") for i in range(9)]
    for i, a in enumerate(nodes):      # a complete graph: far too many trails to finish
        for j, b in enumerate(nodes):
            if i != j:
                add_edge(g, f"e{i}_{j}", a, b)
    def interrupt(*_):
        raise KeyboardInterrupt
    previous = signal.signal(signal.SIGVTALRM, interrupt)
    signal.setitimer(signal.ITIMER_VIRTUAL, 0.3)   # after 0.3 s of CPU time
    try:
        with pytest.raises(KeyboardInterrupt):
            g.query().match("(a)-[r*]->(b)").return_count()
    finally:
        signal.setitimer(signal.ITIMER_VIRTUAL, 0)
        signal.signal(signal.SIGVTALRM, previous)
    assert g.query().match("(a:K0)-[r*1]->(b)").return_count() == 8   # the graph is intact


# --- writes from pattern strings --------------------------------------------------------------

def test_create_writes_concrete_nodes_and_edges():
    g = Graph()
    rows = g.query().create("(a:A {k: 1})-[f:A -> B]->(b:B)<-[g:T]-(c:C)").return_("a", "f", "b", "g", "c")
    assert labels(rows) == [{"a": "A", "f": "f", "b": "B", "g": "g", "c": "C"}]
    assert node_types(g) == ["A", "B", "C"]
    f, g_edge = (rows[0][name] for name in ("f", "g"))
    assert (label(f.start), label(f.end), str(f.term.type)) == ("A", "B", "(A -> B)")
    assert (label(g_edge.start), label(g_edge.end), str(g_edge.term.type)) == ("C", "B", "T")  # `<-` swaps
    assert rows[0]["a"].properties == {"k": 1} and f.properties == {}


def test_create_reuses_bound_variables():
    g, n = graph_with("A", "B")
    q = g.query().match("(x:A)").match("(y:B)").create("(x)-[f:T {w: 2}]->(y)-[h:U]->(z:C)")
    assert labels(q.return_("x", "f", "y", "h", "z")) == [{"x": "A", "f": "f", "y": "B", "h": "h", "z": "C"}]
    assert node_types(g) == ["A", "B", "C"] and len(g.edges) == 2
    (f,) = (e for e in g.edges.values() if e.term.name == "f")
    assert f.start.properties is n["A"].properties and f.properties == {"w": 2}


def test_a_variable_made_earlier_in_the_same_pattern_is_reused():
    g = Graph()
    g.query().create("(a:A)-[loop:A -> A]->(a)").execute()
    (edge,) = g.edges.values()
    assert label(edge.start) == label(edge.end) == "A"


def test_reused_variable_with_an_empty_list_skips_its_edges():
    g, _ = graph_with("A")
    g.query().match("(x:Nothing)").create("(a:B)-[f:T]->(x)").execute()
    assert node_types(g) == ["A", "B"] and len(g.edges) == 0


def test_reused_variable_never_bound_is_a_name_error_before_any_write():
    g = Graph()
    q = g.query().create("(a:A)-[f:T]->(typo)")
    with pytest.raises(NameError, match="^Variable 'typo' not found$"):
        q.execute()
    assert len(g.nodes) == 0 and len(g.edges) == 0


@pytest.mark.parametrize("pattern, what", [
    ("()", "a node without a type: '()'"),
    ("(x {k: 1})", "a node without a type: '(x {k: 1})'"),
    ("(x:*)", "a node whose type is not names joined by '->': '(x:*)'"),
    ("(x:A -> *)", "a node whose type is not names joined by '->': '(x:A -> *)'"),
    ("(x:$(c:A)$)", "a node whose type is not names joined by '->': '(x:$(c:A)$)'"),
    ("(a:A)-[f:T]-(b:B)", "an edge without a direction: '-[f:T]-'"),
    ("(a:A)-[:T]->(b:B)", "an edge without a variable to name its term: '-[:T]->'"),
    ("(a:A)-[f]->(b:B)", "an edge whose type is not names joined by '->': '-[f]->'"),
    ("(a:A)-[f:T*2]->(b:B)", "a variable-length edge: '-[f:T*2]->'"),
])
@pytest.mark.parametrize("verb", ["create", "merge"])
def test_parts_that_can_be_neither_written_nor_reused_are_refused(verb, pattern, what):
    q = Graph().query()
    with pytest.raises(ValueError) as caught:
        getattr(q, verb)(pattern)
    assert str(caught.value) == f"Invalid query: cannot {verb} {what}"
    assert q.return_count() == 0          # nothing was queued


def test_merge_finds_what_is_there_and_creates_what_is_missing():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["A"], n["B"], term_type=Variable("T"))
    q = g.query().merge("(a:A)-[f:T]->(b:B)-[h:U]->(c:C)")
    rows = q.return_("a", "f", "b", "h", "c")
    assert labels(rows) == [{"a": "A", "f": "f", "b": "B", "h": "h", "c": "C"}]
    assert node_types(g) == ["A", "B", "C"] and sorted(e.term.name for e in g.edges.values()) == ["f", "h"]
    assert rows[0]["a"].properties is n["A"].properties          # found, not replaced
    q.execute()                                                  # a second run finds everything
    assert len(g.nodes) == 3 and len(g.edges) == 2


T = Variable("T")
F = Term("f", T)


# A path merge onto variables that earlier steps bound writes what the node
# and edge forms write: a found node or edge goes behind the earlier entries,
# a created one becomes the only entry.
@pytest.mark.parametrize("bind, path, forms", [
    (lambda q: q.match(node="x"), "(x:A)", lambda q: q.merge(node="x", type=A)),
    (lambda q: q.match(node="x"), "(x:C)", lambda q: q.merge(node="x", type=C)),
    (lambda q: q.match(node="x"), "(x:B {k: 1})", lambda q: q.merge(node="x", type=B, properties={"k": 1})),
    (lambda q: q.match(node="x"), "(x:B {k: 2})", lambda q: q.merge(node="x", type=B, properties={"k": 2})),
    (lambda q: q.match(node="a").match(node="b", type=B), "(a:A)-[f:T]->(b:B)",
     lambda q: q.merge(node="a", type=A).merge(node="b", type=B).merge(edge="f", start="a", end="b", term=F)),
    (lambda q: q.match(node="a").match(edge="f"), "(a:A)-[f:T]->(b:C)",
     lambda q: q.merge(node="a", type=A).merge(node="b", type=C).merge(edge="f", start="a", end="b", term=F)),
    (lambda q: q.match(node="a", type=A).match(node="b", type=B).match(edge="f"), "(a)-[f:T]->(b)",
     lambda q: q.merge(edge="f", start="a", end="b", term=F)),
    (lambda q: q.match(node="a", type=B).match(node="b", type=A).match(edge="f"), "(a)-[f:T]->(b)",
     lambda q: q.merge(edge="f", start="a", end="b", term=F)),
], ids=["found node", "created node", "found by its map", "created by its map", "found path",
        "path with a created end", "found edge between bound nodes", "created edge between bound nodes"])
def test_a_path_merge_onto_bound_variables_writes_what_the_node_and_edge_forms_write(bind, path, forms):
    def graph():
        g, n = graph_with("A", "B")
        n["B"].properties["k"] = 1
        add_edge(g, "f", n["A"], n["B"], term_type=T)
        return g

    def outcome(write):
        g = graph()
        rows = write(bind(g.query())).return_("x", "a", "b", "f")
        return labels(rows), node_types(g), [(e.term.name, label(e.start), label(e.end)) for e in g.edges.values()]

    assert outcome(lambda q: q.merge(path)) == outcome(forms)


def test_merge_honours_maps_and_direction():
    g, n = graph_with("A", "B")
    add_edge(g, "f", n["B"], n["A"], term_type=Variable("T"), w=1)

    def only_edge():
        (edge,) = g.edges.values()       # an edge's uid is its term's: one f:T at a time
        return edge, (label(edge.start), label(edge.end), edge.properties["w"])

    before, _ = only_edge()
    g.query().merge("(a:A)<-[f:T {w: 1}]-(b:B)").execute()        # found: B -> A with w 1
    assert only_edge()[0] is before
    g.query().merge("(a:A)-[f:T {w: 1}]->(b:B)").execute()        # A -> B is not B -> A: made
    assert only_edge()[1] == ("A", "B", 1)
    g.query().merge("(a:A)-[f:T {w: 2}]->(b:B)").execute()        # the map tells them apart: made
    made, ends = only_edge()
    assert ends == ("A", "B", 2)
    g.query().merge("(a:A)-[f:T {w: 2}]->(b:B)").execute()
    assert only_edge()[0] is made


# --- pickling keeps ranges -----------------------------------------------------------------------

def test_ranged_edges_survive_pickling_and_copying():
    path = PathPattern("(a {k: 1})-[r:T*1..3 {w: 2}]->(b)-[s*]-(c)-[t]->(d)")
    once = pickle.dumps(path)
    for again in (pickle.loads(once), copy.deepcopy(path)):
        assert pickle.dumps(again) == once
        ranges = [edge.__reduce__()[1] for edge in again.edges]
        assert [(kind, bounds) for kind, _, bounds in ranges[:2]] == [("ranged", (1, 3)), ("ranged", (1, None))]
        assert ranges[2][0] == "t"          # a fixed edge reduces to its constructor's arguments


# Every way of writing a range, with the hops (least, most) it allows, worked out by hand.
RANGE_FORMS = [("*", (1, None)), ("*2", (2, 2)), ("*1..3", (1, 3)), ("*2..2", (2, 2)), ("*..3", (1, 3)),
               ("*2..", (2, None)), ("*..", (1, None)), ("*0", (0, 0)), ("*0..0", (0, 0)), ("*0..2", (0, 2))]


@pytest.mark.parametrize("decorate", [lambda r: r, lambda r: "r" + r, lambda r: f"r:T{r} {{w: 2}}"],
                         ids=["bare", "variable", "variable, schema and map"])
@pytest.mark.parametrize("written, hops", RANGE_FORMS, ids=[form for form, _ in RANGE_FORMS])
@pytest.mark.parametrize("again", [lambda p: pickle.loads(pickle.dumps(p)), copy.copy, copy.deepcopy],
                         ids=["pickle", "copy", "deepcopy"])
def test_every_range_form_survives_pickling_and_copying(again, written, hops, decorate):
    path = PathPattern(f"(a)-[{decorate(written)}]->(b)")
    (edge,) = path.edges
    kind, plain, bounds = edge.__reduce__()[1]
    assert (kind, bounds) == ("ranged", hops)
    for original, copied in ((edge, again(edge)), (path, again(path))):
        assert pickle.dumps(copied) == pickle.dumps(original)
        assert repr(copied) == repr(original)
    (copied_edge,) = again(path).edges
    assert copied_edge.__reduce__()[1][2] == hops
    assert repr(copied_edge.__reduce__()[1][1]) == repr(plain)


@pytest.mark.parametrize("bounds", [(3, 1), (-1, None), (1,), (1.0, None), (2 ** 32, None), [1, 2]])
def test_malformed_range_data_is_refused(bounds):
    with pytest.raises(ValueError, match="malformed ranged edge"):
        reconstruct("ranged", EdgePattern("r"), bounds)
