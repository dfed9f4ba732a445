"""A match that starts from its selective node answers as the scan does.

A node place is selective when an exact type label, a property map or a
`where` right after the match (an equality or IN test of one of its
variables against literals or parameters) narrows it; the search may then
start from the nodes that fit instead of walking every edge, and look those
nodes up in an index of values kept between runs. None of that may show:
the rows, their order, the node values in them (the copy an edge holds,
whose properties dict need not be the one in graph.nodes), counts, limits,
distinct rows and the exceptions raised must be what the scan gives.

The oracle is the same question asked so that nothing is selective: the
plain path filtered here with Python's `==` (as a property map compares),
the map's values wrapped so that they cannot be hashed, or a `skip(0)`
between the match and its where. First on random small graphs; then a kept
index checked after each kind of change between runs; then values whose
hash or equality misbehaves, and parameters.
"""
from __future__ import annotations

import random

import pytest

from selective_paths import (Path, Same, answer, answers, contents, map_answer, modelled, names_in,
                             property_graph, set_name)
from small_graphs import add_edge, graph_with
from velarto import Edge, Graph, Node, TypeSchema, Variable


# --- the three kinds of selective place -----------------------------------------------------------

MAPS = [  # (written, the values it requires, params)
    ("{name: 'x'}", {"name": "x"}, {}),
    ("{name: 'y'}", {"name": "y"}, {}),
    ("{name: null}", {"name": None}, {}),        # a stored None, never a missing key
    ("{n: 1}", {"n": 1}, {}),                    # Python's ==: 1, 1.0 and True
    ("{n: 1.0}", {"n": 1.0}, {}),
    ("{n: true}", {"n": True}, {}),
    ("{n: false}", {"n": False}, {}),
    ("{n: 2}", {"n": 2}, {}),
    ("{name: 'x', n: 1}", {"name": "x", "n": 1}, {}),
    ("{n: 2, name: null}", {"n": 2, "name": None}, {}),
    ("{name: $who}", {"name": "y"}, {"who": "y"}),
    ("{n: $num}", {"n": True}, {"num": True}),
    ("{name: $who}", {"name": None}, {"who": None}),
]


def random_label(rng, graph):
    """(label text, schema text): mostly one exact type, sometimes one absent
    from the graph or a schema with a wildcard."""
    types = [str(node.type) for node in graph.nodes.values()] or ["N0"]
    exact = rng.choice(types + ["N9"])
    bare = exact[1:-1] if exact.startswith("(") else exact
    return rng.choice([(bare, f"${bare}$")] * 4 + [(f"${bare}$", f"${bare}$"), ("$*$", "$*$"),
                                                   ("$* -> *$", "$* -> *$")])


def check_case(graph, path, rng, kind):
    """Asks one question with a selective place and its plain form; returns
    (what was asked, answers, what the plain form answers)."""
    place = rng.randrange(len(path.places))
    asked = list(path.places)
    # a path that names nothing binds nothing (no rows to compare)
    if asked[place] is None and (kind == "where" or rng.random() < 0.5 or not path.names(asked)):
        asked[place] = "s"
    names = path.names(asked)
    limit = rng.randint(0, 3)
    if kind == "where":
        return check_where(graph, path, rng, place, asked, names, limit)
    # the plain form binds the place's node to a variable of its own, unless a
    # join ties it to other places (then its copies may differ: no Python model)
    model_places = list(asked)
    model_var = asked[place] or "s"
    if path.one_edge_repeat() and place == 0:
        model_var = "s"
    model_places[place] = model_var
    plain_text = path.text(model_places)
    plain_rows = graph.query().match(plain_text).return_(*sorted(set(names) | {model_var}))
    if kind == "label":
        written, schema = random_label(rng, graph)
        text = path.text(asked, {place: ":" + written})
        found = answers(lambda: graph.query().match(text), names, limit)
        schema = TypeSchema(schema)
        expected = modelled(plain_rows, lambda row: schema.matches(row[model_var].type), names, limit)
        return text, found, expected
    written, required, params = rng.choice(MAPS)
    text = path.text(asked, {place: " " + written})
    found = answers(lambda: graph.query().match(text).params(**params), names, limit)
    wrapped = "{" + ", ".join(f"{key}: $w{i}" for i, key in enumerate(required)) + "}"
    wrapped_params = {f"w{i}": Same(value) for i, value in enumerate(required.values())}
    wrapped_text = path.text(asked, {place: " " + wrapped})
    expected = answers(lambda: graph.query().match(wrapped_text).params(**wrapped_params), names, limit)
    assert found == expected, ("against unhashable values", text, wrapped_text)
    if not path.shared_elsewhere(place) or model_var == "s":
        def keep(row):
            properties = row[model_var].properties
            return all(key in properties and properties[key] == value for key, value in required.items())
        expected = modelled(plain_rows, keep, names, limit)
    return text, found, expected


CONDITIONS = [  # {v}: the selective place's variable, {w}: another node variable (or {v})
    ("{v}.name = 'x'", {}),
    ("'y' = {v}.name", {}),
    ("{v}.n = 1", {}),                  # 1 and 1.0, never true
    ("{v}.n = true", {}),               # true alone
    ("{v}.n = 2.0", {}),
    ("{v}.name = null", {}),            # null: no row, not the nodes holding None
    ("{v}.name = $who", {"who": "x"}),
    ("{v}.n = $num", {"num": True}),
    ("$num = {v}.n", {"num": 1.0}),
    ("{v}.name IN ['x', 'y']", {}),
    ("{v}.n IN [1, null]", {}),
    ("{v}.n IN [true]", {}),
    ("{v}.name IN $names", {"names": ["y"]}),
    ("{v}.name IN $names", {"names": []}),
    ("uid({v}) = '{u}'", {}),
    ("'{u}' = uid({v})", {}),
    ("type({v}) = '{t}'", {}),
    ("{v}.name = 'x' AND {w}.n = 1", {}),
    ("{v}.n = 1 AND {v}.name IS NOT NULL", {}),
    ("{v}.name = 'x' AND {v}.name = 'y'", {}),
    ("{v}.n = 1 AND exists(({v})-[]->({w}))", {}),
    ("{v}.name = 'x' OR {w}.n = 2", {}),
    ("NOT {v}.name = 'x'", {}),
    ("{v}.name <> 'y'", {}),
    ("{v}.name = {w}.name", {}),        # no literal: nothing to look up
]


def check_where(graph, path, rng, place, asked, names, limit):
    # a match before this one: the where filters whole rows, and may test
    # z, which this path does not bind
    before = rng.random() < 0.15
    var = asked[place]
    others = [p for p in asked if p and p != var] + (["z"] if before else [])
    condition, params = rng.choice(CONDITIONS)
    nodes = list(graph.nodes.values())
    uid = rng.choice(nodes).uid() if nodes and rng.random() < 0.8 else Node(Variable("N9")).uid()
    condition = condition.format(v=var, w=rng.choice(others or [var]), u=uid,
                                 t=str(rng.choice(nodes).type) if nodes else "N0")
    if before and rng.random() < 0.3:
        condition = condition.replace(f"{asked[place]}.", "z.").replace(f"({asked[place]})", "(z)")
    text = path.text(asked)

    def start():
        query = graph.query()
        return query.match(node="z") if before else query

    found = answers(lambda: start().match(text).where(condition).params(**params), names, limit)
    expected = answers(lambda: start().match(text).skip(0).where(condition).params(**params), names, limit)
    return f"{'(z) then ' if before else ''}{text} WHERE {condition}", found, expected


@pytest.mark.parametrize("kind", ["label", "map", "where"])
def test_a_selective_place_answers_as_the_scan(kind):
    rng = random.Random(f"selective {kind}")
    for case in range(400):
        graph = property_graph(rng)
        asked, found, expected = check_case(graph, Path(rng), rng, kind)
        assert found == expected, (case, asked, list(graph.edges.values()))


@pytest.mark.parametrize("written, required", [(w, r) for w, r, p in MAPS if not p])
def test_the_node_form_answers_as_a_filter_of_the_node_dict(written, required):
    rng = random.Random(f"node form {written}")
    for case in range(40):
        graph = property_graph(rng)
        expected = [n for n in graph.nodes.values()
                    if all(k in n.properties and n.properties[k] == v for k, v in required.items())]
        for query in (graph.query().match(node="a", properties=required), graph.query().match(f"(a {written})")):
            assert contents(query.return_("a")) == contents([{"a": n} for n in expected]), (case, written)
        typed = next(iter(graph.nodes.values())).type
        assert contents(graph.query().match(node="a", type=typed).return_("a")) == \
            contents([{"a": graph.nodes[Node(typed).uid()]}]), case


# --- kept indexes: one query run, the graph changed, the query run again --------------------------

def kept_graph():
    """A -f-> B, A -p-> B (parallel), B -g-> C, B -l-> B (a self-loop), C -h-> A,
    D -k-> C, S -m-> B where S shares A's dict; L in no edge."""
    graph, n = graph_with("A", "B", "C", "D", "L")
    for name, values in [("A", {"name": "x", "n": 1}), ("B", {"name": "y", "n": 1.0}),
                         ("C", {"name": "x", "n": True}), ("L", {"name": "x"})]:
        n[name].properties.update(values)
    n["S"] = Node(Variable("S"), n["A"].properties)
    graph.nodes[n["S"].uid()] = n["S"]
    e = {name: add_edge(graph, name, n[start], n[end]) for name, start, end in [
        ("f", "A", "B"), ("p", "A", "B"), ("g", "B", "C"), ("l", "B", "B"), ("h", "C", "A"),
        ("k", "D", "C"), ("m", "S", "B")]}
    return graph, n, e


HASH_X = hash("x")  # an int equal in hash to the text 'x', never equal to it

CHANGES = [  # (id, the literal asked for, its value, before the first run, between the runs)
    ("written into a dict the edges share", "'x'", "x", None, lambda g, n, e: set_name(n["B"], "x")),
    ("written into a dict two nodes share", "'x'", "x", None, lambda g, n, e: set_name(n["S"], "y")),
    ("key deleted", "'x'", "x", None, lambda g, n, e: n["A"].properties.pop("name")),
    ("key added", "'x'", "x", None, lambda g, n, e: set_name(n["D"], "x")),
    ("value changed on a node in no edge", "'x'", "x", None, lambda g, n, e: set_name(n["L"], "y")),
    ("properties reassigned: the edges keep the old dict", "'x'", "x", None,
     lambda g, n, e: (setattr(n["B"], "properties", {"name": "x"}), setattr(n["A"], "properties", {}))),
    ("node replaced in graph.nodes", "'x'", "x", None,
     lambda g, n, e: g.nodes.__setitem__(n["C"].uid(), Node(n["C"].type, {"name": "y"}))),
    ("node removed from graph.nodes", "'x'", "x", None, lambda g, n, e: g.nodes.pop(n["A"].uid())),
    ("node added", "'x'", "x", None,
     lambda g, n, e: g.nodes.__setitem__(Node(Variable("M")).uid(), Node(Variable("M"), {"name": "x"}))),
    ("graph.nodes cleared", "'x'", "x", None, lambda g, n, e: g.nodes.clear()),
    ("edge added", "'x'", "x", None, lambda g, n, e: add_edge(g, "q", n["L"], n["B"])),
    ("edge removed", "'x'", "x", None, lambda g, n, e: g.edges.pop(e["f"].uid())),
    ("edge replaced under its uid, its start a copy with another dict", "'x'", "x", None,
     lambda g, n, e: g.edges.__setitem__(e["f"].uid(), Edge(e["f"].term, Node(n["A"].type, {"name": "y"}), n["B"]))),
    ("graph.edges cleared", "'x'", "x", None, lambda g, n, e: g.edges.clear()),
    ("list value appended to", "['x', 'y']", ["x", "y"], lambda g, n, e: set_name(n["B"], ["x"]),
     lambda g, n, e: n["B"].properties["name"].append("y")),
    ("1 becomes 1.0", "1", 1, lambda g, n, e: set_name(n["B"], 1), lambda g, n, e: set_name(n["B"], 1.0)),
    ("1 becomes true", "1", 1, lambda g, n, e: set_name(n["B"], 1), lambda g, n, e: set_name(n["B"], True)),
    ("true becomes 1", "true", True, lambda g, n, e: set_name(n["B"], True), lambda g, n, e: set_name(n["B"], 1)),
    ("text becomes the int of its hash", "'x'", "x", None, lambda g, n, e: set_name(n["A"], HASH_X)),
    ("int becomes the text of its hash", str(HASH_X), HASH_X, lambda g, n, e: set_name(n["A"], HASH_X),
     lambda g, n, e: set_name(n["A"], "x")),
    ("a set step writes the value", "'x'", "x", None,
     lambda g, n, e: g.query().match(node="v", type=Variable("D")).set("v", {"name": "x"}).execute()),
    ("a delete step takes a node and its edges", "'x'", "x", None,
     lambda g, n, e: g.query().match(node="v", type=Variable("C")).delete("v", detach=True).execute()),
]

# Map questions: (id, text with {lit}, the plain path, the variable the map narrows).
MAP_QUESTIONS = [
    ("map at the start", "(a {{name: {lit}}})-[r]->(b)", "(a)-[r]->(b)", "a"),
    ("map at the end, backwards", "(a)<-[r]-(b {{name: {lit}}})", "(a)<-[r]-(b)", "b"),
    ("map in the middle", "(a)-[r]-(b {{name: {lit}}})-[s]->(c)", "(a)-[r]-(b)-[s]->(c)", "b"),
    ("map before a range from zero", "(a {{name: {lit}}})-[r*0..1]->(b)", "(a)-[r*0..1]->(b)", "a"),
    ("map on a lone node", "(a {{name: {lit}}})", "(a)", "a"),
]
# Where questions: (id, path, condition with {lit}); $v is the value.
WHERE_QUESTIONS = [
    ("where on the start", "(a)-[r]->(b)", "a.name = {lit}"),
    ("where in the middle", "(a)-[r*1..2]-(b)-[s]->(c)", "b.name IN [{lit}]"),
    ("where with a parameter", "(a)<-[r]-(b)", "$v = b.name AND a.n IS NOT NULL"),
    ("where on a lone node", "(a)", "a.name = $v"),
]


def questions(graph, lit, value):
    """Each question: (id, its variables, make the query, the scan's answer now)."""
    for qid, text, plain, var in MAP_QUESTIONS:
        yield (qid, names_in(plain), lambda t=text.format(lit=lit): graph.query().match(t),
               lambda p=plain, v=var: map_answer(graph, p, v, value))
    for qid, text, condition in WHERE_QUESTIONS:
        condition = condition.format(lit=lit)
        yield (qid, names_in(text), lambda t=text, c=condition: graph.query().match(t).where(c).params(v=value),
               lambda t=text, c=condition: answer(graph.query().match(t).skip(0).where(c).params(v=value),
                                                  names_in(t)))


# changes that no question here sees (1 and 1.0 are equal both ways): a kept answer must not either
UNCHANGED = {"1 becomes 1.0"}


@pytest.mark.parametrize("case", CHANGES, ids=[c[0] for c in CHANGES])
def test_a_kept_index_follows_every_change(case):
    qid_case, lit, value, prepare, change = case
    graph, n, e = kept_graph()
    if prepare:
        prepare(graph, n, e)
    kept = [(qid, names, make(), scan) for qid, names, make, scan in questions(graph, lit, value)]
    before = {qid: scan() for qid, _, _, scan in kept}
    for qid, names, query, _ in kept:
        assert answer(query, names) == before[qid], ("before", qid)
    change(graph, n, e)
    changed = False
    for qid, names, query, scan in kept:
        now = scan()
        changed |= now != before[qid]
        assert answer(query, names) == now, ("the query run before", qid)
    for qid, names, make, scan in questions(graph, lit, value):
        assert answer(make(), names) == scan(), ("a new query", qid)
    assert changed != (qid_case in UNCHANGED), "whether some answer changes"


def test_a_dict_made_where_a_freed_one_was_is_read_anew():
    # The lone node's dict is freed at each reassignment (nothing else holds
    # it), so the next one is often made at the same address.
    graph, n, e = kept_graph()
    lone = n["L"]
    kept = [(text, graph.query().match(text)) for text in ("(a {name: 'x'})", "(a {name: 'x'})-[r*0..1]->(b)")]
    for step in range(40):
        lone.properties = {"name": "x" if step % 3 else "y"}
        if step % 5 == 0:
            graph.nodes[lone.uid()] = lone = Node(lone.type, {"name": "y" if step % 2 else "x"})
        for text, query in kept:
            expected = map_answer(graph, text.replace(" {name: 'x'}", ""), "a", "x")
            assert answer(query, names_in(text)) == expected, (step, text)
            assert answer(graph.query().match(text), names_in(text)) == expected, (step, text)
        where = graph.query().match("(a)").where("a.name = 'x'")
        assert answer(where, ["a"]) == answer(graph.query().match("(a)").skip(0).where("a.name = 'x'"), ["a"]), step


# --- values that misbehave ------------------------------------------------------------------------

class EqError(Exception):
    pass


class HashError(Exception):
    pass


class BoolError(Exception):
    pass


class EqRaises:
    __hash__ = object.__hash__

    def __eq__(self, other):
        raise EqError


class HashRaises:
    def __hash__(self):
        raise HashError

    def __eq__(self, other):
        return isinstance(other, str) and other == "x"


class HashLies:
    """Equal to 'x', its hash anything but the text's."""

    def __hash__(self):
        return hash("x") + 1

    def __eq__(self, other):
        return isinstance(other, str) and other == "x"


class NeverEqual(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        return False


class AlwaysEqual(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        return True


class Falsy:
    def __bool__(self):
        raise BoolError


class EqAnswersFalsy:
    __hash__ = object.__hash__

    def __eq__(self, other):
        return Falsy()


BAD_VALUES = [
    ("__eq__ raises", EqRaises),
    ("__hash__ raises", HashRaises),
    ("__hash__ lies", HashLies),
    ("str whose == is never true", lambda: NeverEqual("x")),
    ("str whose == is always true", lambda: AlwaysEqual("y")),
    ("== answers what bool() refuses", EqAnswersFalsy),
    ("list", lambda: ["x"]),
    ("dict", lambda: {"name": "x"}),
    ("nan", lambda: float("nan")),  # the same object on both sides: equal by identity, not by ==
]


def bad_graph():
    """E -q-> D -k-> A -f-> B -g-> C and L in no edge: two-hop chains start
    at E, D and A only, so B is the first node of none."""
    graph, n = graph_with("A", "B", "C", "D", "E", "L")
    for name, value in [("A", "x"), ("C", "x"), ("D", "x"), ("E", "y")]:
        set_name(n[name], value)
    for name, start, end in [("q", "E", "D"), ("k", "D", "A"), ("f", "A", "B"), ("g", "B", "C")]:
        add_edge(graph, name, n[start], n[end])
    return graph, n


# (id, text, plain path, the map's variable, uses $v): compared with Python's == on the plain rows,
# on shapes where the scan tests exactly the nodes that the plain rows show at that place
BAD_MAPS = [
    ("map at the start", "(a {name: 'x'})-[r]->(b)", "(a)-[r]->(b)", "a", False),
    ("map at the end, either way", "(a)-[r]-(b {name: 'x'})", "(a)-[r]-(b)", "b", False),
    ("map before a range from zero", "(a {name: 'x'})-[r*0..1]->(b)", "(a)-[r*0..1]->(b)", "a", False),
    ("map on a lone node", "(a {name: 'x'})", "(a)", "a", False),
    ("map of a parameter", "(a)<-[r]-(b {name: $v})", "(a)<-[r]-(b)", "b", True),
    ("map of a parameter before a range", "(a {name: $v})-[r*0..1]-(b)", "(a)-[r*0..1]-(b)", "a", True),
]
# (id, path, condition, uses $v): compared with the same where after skip(0)
BAD_WHERES = [
    ("where on the start", "(a)-[r]->(b)", "a.name = 'x'", False),
    ("where IN on the end", "(a)-[r]->(b)", "b.name IN ['x', 'y']", False),
    ("where on a chain's first node", "(a)-[r]->(b)-[s]->(c)", "a.name = 'x'", False),
    ("where on a lone node", "(a)", "'x' = a.name", False),
    ("where of a parameter", "(a)-[r]-(b)", "b.name = $v", True),
    ("where of a parameter in a list", "(a)-[r]->(b)-[s]->(c)", "a.name IN [$v] AND c.name IS NOT NULL", True),
]


@pytest.mark.parametrize("placed", ["on a node of the chains", "on a node in no edge", "as the parameter"])
@pytest.mark.parametrize("make", [m for _, m in BAD_VALUES], ids=[i for i, _ in BAD_VALUES])
def test_a_misbehaving_value_gives_the_scans_answer_or_error(make, placed):
    graph, n = bad_graph()
    bad = make()
    if placed == "as the parameter":
        wanted = bad
    else:
        set_name(n["B" if placed == "on a node of the chains" else "L"], bad)
        wanted = bad if isinstance(bad, float) else "x"
    for qid, text, plain, var, with_param in BAD_MAPS:
        if placed == "as the parameter" and not with_param:
            continue
        expected = map_answer(graph, plain, var, wanted if with_param else "x")
        assert answer(graph.query().match(text).params(v=wanted), names_in(plain)) == expected, qid
    for qid, text, condition, with_param in BAD_WHERES:
        if placed == "as the parameter" and not with_param:
            continue
        expected = answer(graph.query().match(text).skip(0).where(condition).params(v=wanted), names_in(text))
        assert answer(graph.query().match(text).where(condition).params(v=wanted), names_in(text)) == expected, qid


@pytest.mark.parametrize("placed", ["in the map", "in the data"])
@pytest.mark.parametrize("value", [["x"], {"k": 1}, [["x"]]], ids=["list", "dict", "nested list"])
def test_an_unhashable_value_is_compared_as_the_scan_compares_it(value, placed):
    graph, n = bad_graph()
    literal = {"['x']": "['x']", "{'k': 1}": "{k: 1}", "[['x']]": "[['x']]"}[repr(value)]
    if placed == "in the data":
        set_name(n["A"], value)
        set_name(n["B"], list(value) if isinstance(value, list) else dict(value))  # equal, not the same
    texts = ["(a {name: %s})-[r]->(b)", "(a)<-[r]-(b {name: %s})", "(a {name: %s})"]
    if literal.startswith("{"):
        texts = [t.replace("%s", "$v") for t in texts]  # a map is no literal of the pattern language
    for text in texts:
        text = text.replace("%s", literal)
        plain = text.replace(" {name: %s}" % literal, "").replace(" {name: $v}", "")
        var = "b" if "(b {" in text else "a"
        expected = map_answer(graph, plain, var, value)
        assert answer(graph.query().match(text).params(v=value), names_in(plain)) == expected, text
    if placed == "in the data":
        assert expected[1], "the equal values must be found"


# --- parameters -----------------------------------------------------------------------------------

MISSING = [  # questions whose parameter is never given
    ("map", "(a {name: $who})-[r]->(b)", None),
    ("map before a range", "(a)-[r*0..2]-(b {n: $who})", None),
    ("map on a lone node", "(a {name: $who})", None),
    ("where", "(a)-[r]->(b)", "a.name = $who"),
    ("where IN", "(a)-[r]->(b)", "b.name IN $who"),
    ("where on a lone node", "(a)", "$who = a.name AND a.n = 1"),
]


@pytest.mark.parametrize("empty", [False, True], ids=["graph", "empty graph"])
@pytest.mark.parametrize("qid, text, condition", MISSING, ids=[m[0] for m in MISSING])
def test_a_missing_parameter_fails_as_in_the_scan(qid, text, condition, empty):
    graph = Graph() if empty else kept_graph()[0]
    names = names_in(text)
    if condition is None:
        # the plain map: a parameter read at every run, whether any node is tested or not
        assert answer(graph.query().match(text), names) == ("raises", ValueError)
        return
    # read before any row is tested: no rows to test is no excuse
    assert answer(graph.query().match(text).skip(0).where(condition), names) == ("raises", ValueError)
    assert answer(graph.query().match(text).where(condition), names) == ("raises", ValueError)


PARAMETER_VALUES = ["x", None, 1, 1.0, True, 0, False, ["x"], ("x",), {"k": 1}, float("nan"), "missing"]


@pytest.mark.parametrize("value", PARAMETER_VALUES, ids=repr)
def test_a_parameter_selects_as_its_value_compares(value):
    """Each node holds one of the values (the nan the same object as the
    parameter); a map compares with Python's ==, a where as openCypher."""
    graph, n = graph_with(*[f"V{i}" for i in range(len(PARAMETER_VALUES))])
    nodes = list(n.values())
    for node, held in zip(nodes, PARAMETER_VALUES):
        if held != "missing":
            set_name(node, held)
    for i, node in enumerate(nodes):
        add_edge(graph, f"e{i}", node, nodes[(i * 5 + 1) % len(nodes)])
    for text, plain, var in [("(a {name: $v})-[r]->(b)", "(a)-[r]->(b)", "a"),
                             ("(a)-[r]-(b {name: $v})", "(a)-[r]-(b)", "b"),
                             ("(a {name: $v})", "(a)", "a")]:
        assert answer(graph.query().match(text).params(v=value), names_in(plain)) == \
            map_answer(graph, plain, var, value), text
    for text, condition in [("(a)-[r]->(b)", "a.name = $v"), ("(a)-[r]-(b)", "b.name IN [$v, 'y']"),
                            ("(a)", "$v = a.name")]:
        expected = answer(graph.query().match(text).skip(0).where(condition).params(v=value), names_in(text))
        assert answer(graph.query().match(text).where(condition).params(v=value), names_in(text)) == expected, text


def test_a_parameter_changed_between_runs_is_read_anew():
    graph, n, e = kept_graph()
    by_map = graph.query().match("(a)-[r]->(b {name: $v})")
    by_where = graph.query().match("(a)-[r]-(b)").where("b.name = $v")
    for value in ["x", "y", "x", 1, None, "z", "y"]:
        by_map.params(v=value)
        by_where.params(v=value)
        assert answer(by_map, ["a", "b", "r"]) == map_answer(graph, "(a)-[r]->(b)", "b", value), value
        expected = answer(graph.query().match("(a)-[r]-(b)").skip(0).where("b.name = $v").params(v=value),
                          ["a", "b", "r"])
        assert answer(by_where, ["a", "b", "r"]) == expected, value


class Text(str):
    """A str subclass: a where compares it by its text."""


@pytest.mark.parametrize("make", [str, Text, str.upper], ids=["str", "str subclass", "upper case"])
@pytest.mark.parametrize("function", ["uid", "type"])
def test_uid_and_type_select_by_their_text(make, function):
    graph, n = graph_with("A", "B", "C")
    add_edge(graph, "ab", n["A"], n["B"])
    add_edge(graph, "cb", n["C"], n["B"])
    wanted = make(n["C"].uid() if function == "uid" else "C")
    for text, condition in [("(a)-[r]->(b)", f"{function}(a) = $v"), ("(a)-[r]->(b)", f"{function}(a) IN [$v]")]:
        expected = answer(graph.query().match(text).skip(0).where(condition).params(v=wanted), names_in(text))
        assert answer(graph.query().match(text).where(condition).params(v=wanted), names_in(text)) == expected, text


class WritesOnEq:
    """A property value whose `==` gives another node the value looked for, then answers no."""

    def __init__(self, node):
        self.node = node

    def __eq__(self, other):
        self.node.properties["k"] = 1
        return False

    __hash__ = object.__hash__


@pytest.mark.parametrize("text, name", [
    ("(a {k: 1})-[r]->(b)", "a"),
    ("(b)<-[r]-(a {k: 1})", "a"),
    ("(x)-[q]->(a {k: 1})-[r]->(b)", "a"),
    ("(a {k: 1})", "a"),
])
def test_a_value_written_mid_run_by_python_code_is_seen_as_the_scan_sees_it(text, name):
    # The scan tests A first; A's `==` gives B the value. B was no candidate
    # of the index when the run began, and must still be found.
    graph, n = graph_with("X", "A", "B", "Y")
    n["B"].properties["k"] = 2
    n["A"].properties["k"] = WritesOnEq(n["B"])
    add_edge(graph, "xa", n["X"], n["A"])
    add_edge(graph, "xb", n["X"], n["B"])
    add_edge(graph, "ay", n["A"], n["Y"])
    add_edge(graph, "by", n["B"], n["Y"])
    rows = graph.query().match(text).return_(name)
    assert [str(row[name]) for row in rows] == ["Node(B)"]
