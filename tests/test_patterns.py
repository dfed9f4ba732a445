"""NodePattern, EdgePattern and PathPattern: construction and its order of
checks, the Some("...") reprs, copies, and the node test as queries use it."""
from __future__ import annotations

import collections
import re
import types
import unicodedata
from pathlib import Path

import pytest

from small_graphs import add_node, column
from velarto import (Application, EdgePattern, Graph, Node, NodePattern, PathPattern, Term,
                     TypeSchema, Variable)

A, B = Variable("A"), Variable("B")
EXPECTED_TYPE = "Expected Variable or Application"
SURROGATE = "\ud800"  # a str that cannot be encoded as UTF-8


class Str(str):
    pass


class Dict(dict):
    pass


def failed_check(call) -> str:
    """Which check of a constructor refused the arguments."""
    with pytest.raises((TypeError, UnicodeEncodeError)) as caught:
        call()
    error = caught.value
    if isinstance(error, UnicodeEncodeError):
        return "text"
    message = str(error)
    if error.args == (EXPECTED_TYPE,):
        return "type"
    for parameter in ("variable", "properties", "direction", "term"):
        if f"'{parameter}'" in message:
            return parameter
    if "property names" in message:
        return "keys"
    raise AssertionError(f"unexpected error: {error!r}")


# --- NodePattern construction --------------------------------------------------------------

def test_node_pattern_defaults():
    p = NodePattern()
    assert p.variable is None
    assert repr(p) == str(p) == "NodePattern(variable=None)"
    assert NodePattern(None, None, None, None).variable is None


@pytest.mark.parametrize("make", [
    lambda: NodePattern("n", A, "$A$", {"k": 1}),
    lambda: NodePattern(variable="n", type=A, type_schema=TypeSchema("$A$"), properties={"k": 1}),
    lambda: NodePattern(properties={"k": 1}, type_schema="$A$", type=A, variable="n"),
    lambda: NodePattern(Str("n"), Application(A, B), None, Dict()),
    lambda: NodePattern("n", type=...),
])
def test_node_pattern_accepts_its_four_parameters(make):
    p = make()
    assert p.variable == "n" and type(p.variable) is str
    assert repr(p) == 'NodePattern(variable=Some("n"))'


@pytest.mark.parametrize("bad", [1, b"n", ["n"], Variable("n"), 1.5])
def test_node_pattern_variable_must_be_str(bad):
    assert failed_check(lambda: NodePattern(variable=bad)) == "variable"


@pytest.mark.parametrize("bad", [[("a", 1)], (), "x", 0, frozenset(), types.MappingProxyType({})])
def test_node_pattern_properties_must_be_a_dict(bad):
    assert failed_check(lambda: NodePattern(properties=bad)) == "properties"


@pytest.mark.parametrize("properties", [{1: "x"}, {"a": 1, 2: 3}, {(1,): 1}, {b"a": 1}])
def test_node_pattern_property_keys_must_be_str(properties):
    assert failed_check(lambda: NodePattern(properties=properties)) == "keys"


@pytest.mark.parametrize("bad", ["Person", 1, Term("A", A), Node(A), TypeSchema("$A$")])
def test_node_pattern_type_is_converted(bad):
    with pytest.raises(TypeError) as caught:
        NodePattern(type=bad)
    assert caught.value.args == (EXPECTED_TYPE,)


@pytest.mark.parametrize("kwargs, failing", [
    (dict(variable=1, properties=[], type="x", type_schema=SURROGATE), "variable"),
    (dict(variable=SURROGATE, properties=[]), "text"),
    (dict(properties=[], type="x", type_schema=SURROGATE), "properties"),
    (dict(properties={1: 1}, type="x", type_schema=SURROGATE), "type"),
    (dict(properties={1: 1}, type_schema=SURROGATE), "text"),
    (dict(properties={1: 1}, type_schema=TypeSchema("$A$")), "keys"),
], ids=["variable first", "variable text first", "properties before type",
        "type before schema", "schema before keys", "keys last"])
def test_node_pattern_order_of_checks(kwargs, failing):
    assert failed_check(lambda: NodePattern(**kwargs)) == failing


@pytest.mark.parametrize("call", [
    lambda: NodePattern("n", None, None, None, None),
    lambda: NodePattern(name="n"),
    lambda: NodePattern("n", variable="m"),
])
def test_node_pattern_binding_errors(call):
    with pytest.raises(TypeError):
        call()


def test_node_pattern_variable_is_read_only():
    p = NodePattern("n")
    with pytest.raises(AttributeError):
        p.variable = "m"
    with pytest.raises(AttributeError):
        del p.variable
    assert p.variable == "n"


def test_node_pattern_identity_semantics():
    p, q = NodePattern("n"), NodePattern("n")
    assert p != q and p == p
    assert hash(p) != hash(q)


# --- EdgePattern construction --------------------------------------------------------------

def test_edge_pattern_defaults():
    e = EdgePattern()
    assert e.variable is None and e.direction == "forward"
    assert repr(e) == str(e) == "EdgePattern(variable=None, direction=forward)"


@pytest.mark.parametrize("direction", ["forward", "backward", "any", "sideways", "", Str("up")])
def test_edge_pattern_stores_any_direction_text(direction):
    e = EdgePattern(direction=direction)
    assert e.direction == direction and type(e.direction) is str
    assert repr(e) == f"EdgePattern(variable=None, direction={direction})"


def test_edge_pattern_accepts_its_five_parameters():
    t = Term("f", Application(A, B))
    e = EdgePattern("e", t, "$A -> B$", {"w": 1}, "backward")
    assert (e.variable, e.direction) == ("e", "backward")
    assert repr(e) == 'EdgePattern(variable=Some("e"), direction=backward)'
    e = EdgePattern(term_type_schema=TypeSchema("$*$"), term=None, variable=Str("x"))
    assert e.variable == "x" and e.direction == "forward"


@pytest.mark.parametrize("kwargs, failing", [
    (dict(direction=None), "direction"),
    (dict(direction=5), "direction"),
    (dict(term=A), "term"),
    (dict(term="f"), "term"),
    (dict(term=Node(A)), "term"),
    (dict(variable=5), "variable"),
    (dict(properties=[]), "properties"),
    (dict(properties={5: 1}), "keys"),
    # the order: variable, properties, direction, term, term_type_schema, keys
    (dict(variable=1, properties=[], direction=None, term=A), "variable"),
    (dict(properties=[], direction=None, term=A), "properties"),
    (dict(direction=None, term=A, term_type_schema=SURROGATE), "direction"),
    (dict(term=A, term_type_schema=SURROGATE, properties={1: 1}), "term"),
    (dict(term_type_schema=SURROGATE, properties={1: 1}), "text"),
    (dict(term_type_schema=42, properties={1: 1}), "keys"),
])
def test_edge_pattern_checks(kwargs, failing):
    assert failed_check(lambda: EdgePattern(**kwargs)) == failing


def test_edge_pattern_attributes_are_read_only():
    e = EdgePattern("e")
    for attribute in ("variable", "direction"):
        with pytest.raises(AttributeError):
            setattr(e, attribute, "x")
    assert (e.variable, e.direction) == ("e", "forward")


# --- reprs -----------------------------------------------------------------------------------

@pytest.mark.parametrize("name, shown", [
    ("n", "n"),
    ("", ""),
    ('a"b', 'a\\"b'),
    ("a\\b", "a\\\\b"),
    ("\t\r\n\0", "\\t\\r\\n\\0"),
    ("it's", "it's"),
    ("a b", "a b"),
    ("\x01\x1f\x7f", "\\u{1}\\u{1f}\\u{7f}"),
    ("\x85\xa0", "\\u{85}\\u{a0}"),             # NEL and no-break space are not printable
    ("\u200b\u2028\ufeff", "\\u{200b}\\u{2028}\\u{feff}"),
    ("\ue000", "\\u{e000}"),                    # private use
    ("e\u0301", "e\\u{301}"),                   # a combining acute accent
    ("\u0903\u20dd", "\\u{903}\\u{20dd}"),      # spacing and enclosing marks are marks too
    ("\u00e9t\u00e9", "\u00e9t\u00e9"),
    ("\u65e5\u672c", "\u65e5\u672c"),
    ("\U0001f600", "\U0001f600"),
    ("\U000e0001", "\\u{e0001}"),
    ("x\\\"\x00y", 'x\\\\\\"\\0y'),
])
def test_reprs_escape_the_variable(name, shown):
    expected_node = f'NodePattern(variable=Some("{shown}"))'
    expected_edge = f'EdgePattern(variable=Some("{shown}"), direction=forward)'
    assert repr(NodePattern(name)) == str(NodePattern(name)) == expected_node
    assert repr(EdgePattern(name)) == str(EdgePattern(name)) == expected_edge


def reference_rendering(name: str) -> str:
    special = {"\\": "\\\\", '"': '\\"', "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}
    out = []
    for ch in name:
        if ch in special:
            out.append(special[ch])
        elif not ch.isprintable() or unicodedata.category(ch).startswith("M"):
            out.append(f"\\u{{{ord(ch):x}}}")
        else:
            out.append(ch)
    return "".join(out)


def test_repr_of_every_character_below_0x370():
    # Latin, IPA, spacing modifiers, combining diacritics: stable across Unicode versions.
    for start in range(0, 0x370, 64):
        name = "".join(map(chr, range(start, start + 64)))
        assert repr(NodePattern(name)) == f'NodePattern(variable=Some("{reference_rendering(name)}"))'


def tables_version() -> str | None:
    source = Path(__file__).resolve().parent.parent / "src" / "core" / "unicode_tables.cpp"
    found = re.search(r'kUnicodeTablesVersion = "([^"]+)"', source.read_text()) if source.exists() else None
    return found.group(1) if found else None


@pytest.mark.skipif(tables_version() != unicodedata.unidata_version,
                    reason="the module's printable tables follow another Unicode version")
def test_repr_of_every_code_point():
    for start in range(0, 0x110000, 4096):
        name = "".join(chr(c) for c in range(start, start + 4096) if not 0xD800 <= c <= 0xDFFF)
        assert repr(NodePattern(name)) == f'NodePattern(variable=Some("{reference_rendering(name)}"))'


def test_edge_repr_shows_direction_verbatim():
    assert repr(EdgePattern("e", direction='a"b\n')) == 'EdgePattern(variable=Some("e"), direction=a"b\n)'


# --- node matching, through queries ------------------------------------------------------------

@pytest.fixture
def people():
    g = Graph()
    add_node(g, "Person", name="alice", age=25)
    add_node(g, "Robot", name="r2", age=25.0)
    add_node(g, "Dog", name="rex")
    node = Node(Application(Variable("Person"), Variable("Dog")), {"age": "25"})
    g.nodes[node.uid()] = node
    return g


def matched(graph, **kwargs) -> list[str]:
    return column(graph.query().match(node="n", **kwargs).return_("n"), "n")


@pytest.mark.parametrize("kwargs, expected", [
    ({}, ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type=Variable("Person")), ["Person"]),
    (dict(type=Application(Variable("Person"), Variable("Dog"))), ["(Person -> Dog)"]),
    (dict(type=Variable("Cat")), []),
    (dict(type=...), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type_schema="$Person$"), ["Person"]),
    (dict(type_schema=Str("$Dog$")), ["Dog"]),
    (dict(type_schema=TypeSchema("$Person$")), ["Person"]),
    (dict(type_schema="$Person -> *$"), ["(Person -> Dog)"]),
    (dict(type_schema="$*$"), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type_schema=42), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type_schema=b"$Person$"), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type_schema=["$Dog$"]), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(type=Variable("Person"), type_schema="$Person$"), ["Person"]),
    (dict(type=Variable("Person"), type_schema="$Dog$"), []),
    (dict(type=Variable("Person"), type_schema="$*$"), ["Person"]),
    (dict(properties={"age": 25}), ["Person", "Robot"]),
    (dict(properties={"age": 25.0}), ["Person", "Robot"]),
    (dict(properties={"age": "25"}), ["(Person -> Dog)"]),
    (dict(properties={"name": "rex"}), ["Dog"]),
    (dict(properties={"name": "alice", "age": 25}), ["Person"]),
    (dict(properties={"name": "alice", "age": 26}), []),
    (dict(properties={"missing": None}), []),
    (dict(properties={}), ["Person", "Robot", "Dog", "(Person -> Dog)"]),
    (dict(properties=Dict(name="r2")), ["Robot"]),
    (dict(properties={Str("name"): "r2"}), ["Robot"]),
    (dict(type=Variable("Robot"), properties={"age": 25}), ["Robot"]),
    (dict(type_schema="$Robot$", properties={"age": 24}), []),
], ids=lambda v: repr(v) if isinstance(v, dict) else None)
def test_node_test(people, kwargs, expected):
    assert matched(people, **kwargs) == expected


@pytest.mark.parametrize("stored, required, accepted", [
    (25, 25, True),
    (25.0, 25, True),
    (25, 25.0, True),
    (True, 1, True),
    ("25", 25, False),
    (None, None, True),
    (None, 0, False),
    ([1, 2], [1, 2], True),
    ((1, 2), [1, 2], False),
    ({"x": 1}, {"x": 1.0}, True),
])
def test_property_values_compare_by_python_equality(stored, required, accepted):
    g = Graph()
    add_node(g, "N", k=stored)
    assert matched(g, properties={"k": required}) == (["N"] if accepted else [])


def test_the_same_nan_object_does_not_equal_itself():
    nan = float("nan")
    g = Graph()
    add_node(g, "N", k=nan)
    assert matched(g, properties={"k": nan}) == []


def test_node_value_is_the_left_operand():
    calls = []

    class Stored:
        def __eq__(self, other):
            calls.append(("stored", type(other).__name__))
            return NotImplemented

    class Required:
        def __eq__(self, other):
            calls.append(("required", type(other).__name__))
            return "truthy"

    g = Graph()
    add_node(g, "N", k=Stored())
    assert matched(g, properties={"k": Required()}) == ["N"]
    assert calls == [("stored", "Required"), ("required", "Stored")]


@pytest.mark.parametrize("result, accepted", [(1, True), (0, False), ("", False), ([0], True), (None, False)])
def test_truth_of_the_comparison_decides(result, accepted):
    class Odd:
        def __eq__(self, other):
            return result

    g = Graph()
    add_node(g, "N", k=Odd())
    assert matched(g, properties={"k": 1}) == (["N"] if accepted else [])


class Boom(Exception):
    pass


def test_exception_from_eq_propagates():
    error = Boom("eq")

    class Raising:
        def __eq__(self, other):
            raise error

    g = Graph()
    add_node(g, "N", k=Raising())
    with pytest.raises(Boom) as caught:
        matched(g, properties={"k": 1})
    assert caught.value is error
    assert matched(g, properties={"other": 1}) == []  # the comparison is only made for present keys


def test_exception_from_bool_propagates():
    error = Boom("bool")

    class Truthless:
        def __bool__(self):
            raise error

    class Stored:
        def __eq__(self, other):
            return Truthless()

    g = Graph()
    add_node(g, "N", k=Stored())
    with pytest.raises(Boom) as caught:
        matched(g, properties={"k": 1})
    assert caught.value is error


def test_failing_look_up_is_a_mismatch():
    class BadKey(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            raise RuntimeError("no comparisons")

    g = Graph()
    add_node(g, "Ok", k=1)
    bad_key = Node(Variable("BadKey"), {BadKey("k"): 1})
    g.nodes[bad_key.uid()] = bad_key
    assert matched(g, properties={"k": 1}) == ["Ok"]


@pytest.mark.parametrize(
    "make, required",
    [
        (lambda: collections.defaultdict(list), {"tags": []}),
        (lambda: collections.Counter(), {"hits": 0}),
        (lambda: type("Defaulting", (dict,), {"__missing__": lambda self, key: "default"})(), {"k": "default"}),
        (lambda: type("Getting", (dict,), {"__getitem__": lambda self, key: "default"})(), {"k": "default"}),
    ],
    ids=["defaultdict", "Counter", "__missing__", "__getitem__"],
)
@pytest.mark.parametrize("form", ["match", "merge"])
def test_absent_key_of_a_dict_subclass_is_absent(make, required, form):
    properties = make()
    g = Graph()
    node = Node(Variable("N"), properties)
    g.nodes[node.uid()] = node
    q = g.query()
    if form == "match":
        assert column(q.match(node="n", properties=required).return_("n"), "n") == []
    else:
        # A typed merge that "found" N would write into it instead of creating.
        q.merge(node="n", type=Variable("N"), properties=required).execute()
        assert g.nodes[node.uid()].properties is not properties
    assert dict(properties) == {}, "a read wrote into the caller's dict"


def test_required_values_are_held_not_copied():
    seen = []

    class Watching:
        def __eq__(self, other):
            seen.append(other)
            return True

    required = object()
    g = Graph()
    add_node(g, "N", k=Watching())
    q = g.query().match(node="n", properties={"k": required})
    assert column(q.return_("n"), "n") == ["N"]
    assert seen == [required] and seen[0] is required


def test_node_pattern_properties_copied_at_build_time():
    g = Graph()
    add_node(g, "N", k=1)
    wanted = {"k": 2}
    q = g.query().match(node="n", properties=wanted)
    wanted["k"] = 1
    assert q.return_count() == 0


# --- PathPattern ---------------------------------------------------------------------------------

@pytest.mark.parametrize("path, text", [
    (PathPattern(), "PathPattern(0 nodes, 0 edges)"),
    (PathPattern(None), "PathPattern(0 nodes, 0 edges)"),
    (PathPattern(pattern=None), "PathPattern(0 nodes, 0 edges)"),
    (PathPattern("(n)"), "PathPattern(1 nodes, 0 edges)"),
    (PathPattern(Str("(a)(b)")), "PathPattern(2 nodes, 0 edges)"),
    (PathPattern("(a)-[e]->(b)"), "PathPattern(2 nodes, 1 edges)"),
    (PathPattern.parse("(a)-[r]->(b)<-[s]-(c)"), "PathPattern(3 nodes, 2 edges)"),
])
def test_path_reprs(path, text):
    assert repr(path) == str(path) == text


@pytest.mark.parametrize("call", [
    lambda: PathPattern(5),
    lambda: PathPattern(b"(a)"),
    lambda: PathPattern(["(a)"]),
    lambda: PathPattern("(a)", "(b)"),
    lambda: PathPattern.parse(),
    lambda: PathPattern.parse(None),
    lambda: PathPattern.parse(5),
    lambda: PathPattern().add_node(EdgePattern()),
    lambda: PathPattern().add_node(None),
    lambda: PathPattern().add_node("(n)"),
    lambda: PathPattern().add_edge(NodePattern()),
    lambda: PathPattern().add_edge(),
])
def test_path_argument_errors(call):
    with pytest.raises(TypeError):
        call()


def test_parsed_path_contents():
    p = PathPattern.parse("(a:A)-[r1]->(b:B)<-[r2]-(c)-[:T]-(d)")
    assert [n.variable for n in p.nodes] == ["a", "b", "c", "d"]
    assert [e.variable for e in p.edges] == ["r1", "r2", None]
    assert [e.direction for e in p.edges] == ["forward", "backward", "any"]
    assert [repr(n) for n in p.nodes][:2] == ['NodePattern(variable=Some("a"))', 'NodePattern(variable=Some("b"))']


@pytest.mark.parametrize("text, message", [
    ("", "Invalid pattern '': Pattern cannot be empty"),
    ("   ", "Invalid pattern '': Pattern cannot be empty"),
    ("(a)-e->(b)", "Invalid pattern '(a)-e->(b)': Unexpected character 'e' outside of node or edge pattern"),
    ("(a", "Invalid pattern '(a': Unmatched parentheses in pattern"),
    ("(a)-[e->(b)", "Invalid pattern '(a)-[e->(b)': Unmatched brackets in pattern"),
    ("(a)-[e]->", "Invalid pattern '(a)-[e]->': Pattern cannot end with an edge"),
    ("(a)--(b)", "Invalid pattern '--': Edge pattern must contain brackets"),
    ("(a)<-[e:A -> B]-(b)", "Invalid pattern '<-[e:A -> B]-': Cannot have both <- and -> in same edge"),
    ("-[e]->(a)", "Invalid pattern '-[e]->(a)': Invalid pattern: too many edges for the number of nodes"),
    (")(", "Invalid pattern ')(': Pattern must contain at least one node"),
])
def test_parse_errors_are_value_errors(text, message):
    for parse in (PathPattern, PathPattern.parse, lambda t: Graph().query().match(t),
                  lambda t: Graph().query().create(t)):
        with pytest.raises(ValueError) as caught:
            parse(text)
        assert caught.value.args == (message,)


def test_add_node_changes_the_receiver_and_returns_a_copy():
    p = PathPattern()
    given = NodePattern("n")
    q = p.add_node(given)
    assert q is not p and isinstance(q, PathPattern)
    assert [n.variable for n in p.nodes] == ["n"] == [n.variable for n in q.nodes]
    assert p.nodes[0] is not given
    r = p.add_node(NodePattern("m")).add_edge(EdgePattern("e", direction="any"))
    assert repr(p) == "PathPattern(2 nodes, 0 edges)"
    assert repr(q) == "PathPattern(1 nodes, 0 edges)"
    assert repr(r) == "PathPattern(2 nodes, 1 edges)"
    assert [(e.variable, e.direction) for e in r.edges] == [("e", "any")]
    assert p.edges == []


def test_add_edge_is_not_validated():
    p = PathPattern()
    q = p.add_edge(EdgePattern("e")).add_edge(EdgePattern("f"))
    assert repr(p) == "PathPattern(0 nodes, 1 edges)"
    assert repr(q) == "PathPattern(0 nodes, 2 edges)"
    assert PathPattern("(a)").add_node(NodePattern()).add_node(NodePattern("z")).nodes[2].variable == "z"


def test_nodes_and_edges_are_fresh_copies():
    p = PathPattern("(a)-[e]->(b)")
    assert p.nodes is not p.nodes and p.nodes[0] is not p.nodes[0]
    assert p.edges is not p.edges and p.edges[0] is not p.edges[0]
    p.nodes.append(NodePattern("x"))
    p.nodes.clear()
    p.edges.pop()
    assert repr(p) == "PathPattern(2 nodes, 1 edges)"
    assert [n.variable for n in p.nodes] == ["a", "b"]


def test_copies_keep_keyword_adds_and_parse_is_static():
    p = PathPattern().add_node(pattern=NodePattern("a"))
    assert p.nodes[0].variable == "a"
    assert repr(PathPattern.parse(pattern="(x)")) == "PathPattern(1 nodes, 0 edges)"
    assert repr(PathPattern("(y)").parse("(a)(b)")) == "PathPattern(2 nodes, 0 edges)"
