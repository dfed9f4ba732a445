"""Variable and Application: construction, names, text forms, uids, hashes,
equality, renaming, and types far deeper than any C stack."""
from __future__ import annotations

import os

import pytest

from foreign_operands import EqualsEverything, RaisingEquality
from hypothesis import given, settings
from hypothesis import strategies as st

import type_oracle as oracle
from velarto import Application, Node, Term, Variable

A, B, C = Variable("A"), Variable("B"), Variable("C")
EXPECTED_TYPE = "Expected Variable or Application"

# Descriptions (see type_oracle) covering names with every awkward character.
TYPE_TABLE = [
    "A",
    "",
    "Person",
    'say "hi"',
    "back\\slash",
    "a:b",
    "(A -> B)",
    "nul\x00inside",
    "\xff\xfe",
    "ünïcødé",
    "日本語",
    "🦀 crab",
    "x" * 1000,
    ("A", "B"),
    ("", ""),
    (("A", "B"), "C"),
    ("A", ("B", "C")),
    (("A", "B"), ("C", "D")),
    ((("A", "B"), "C"), "D"),
    (("a:b", 'q"'), ("日本", "\x00")),
]


def ids(desc):
    return repr(desc)[:40]


# --- construction -----------------------------------------------------------------

@pytest.mark.parametrize("name", ["A", "", "with space", "\x00", "é"])
def test_variable_accepts_any_str_name(name):
    assert Variable(name).name == name
    assert Variable(name=name).name == name


class StrSubclass(str):
    pass


def test_variable_accepts_str_subclass_and_returns_plain_str():
    v = Variable(StrSubclass("Person"))
    assert v.name == "Person"
    assert type(v.name) is str


@pytest.mark.parametrize("bad", [None, 1, b"A", ["A"], A])
def test_variable_name_must_be_str(bad):
    with pytest.raises(TypeError):
        Variable(bad)


@pytest.mark.parametrize("call", [
    lambda: Variable(),
    lambda: Variable("A", "B"),
    lambda: Variable(nme="A"),
    lambda: Variable("A", name="B"),
], ids=["missing", "extra", "unknown keyword", "duplicate"])
def test_variable_argument_binding_errors(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("left,right", [
    ("A", B), (A, "B"), (None, B), (A, None), (Term("t", A), B), (A, Node(A)), ("A", "B"), (1, 2),
])
def test_application_needs_two_types(left, right):
    with pytest.raises(TypeError) as caught:
        Application(left, right)
    assert type(caught.value) is TypeError
    assert caught.value.args == (EXPECTED_TYPE,)
    with pytest.raises(TypeError) as caught:
        Application(right=right, left=left)
    assert caught.value.args == (EXPECTED_TYPE,)


@pytest.mark.parametrize("call", [
    lambda: Application(A),
    lambda: Application(A, B, C),
    lambda: Application(left=A),
    lambda: Application(A, left=B),
    lambda: Application(A, B, extra=C),
    # binding is checked before any conversion
    lambda: Application("bad"),
    lambda: Application("bad", "bad", "bad"),
], ids=["missing", "extra", "missing right", "duplicate", "unknown keyword", "missing, bad left",
        "extra, bad"])
def test_application_argument_binding_errors(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.value.args != (EXPECTED_TYPE,)


def test_application_accepts_keywords_and_nested_types():
    inner = Application(A, B)
    a = Application(left=inner, right=C)
    assert str(a) == "((A -> B) -> C)"
    assert a.left == inner and a.right == C


# --- name attribute -------------------------------------------------------------------

def test_name_setter_replaces_name():
    v = Variable("A")
    v.name = "B"
    assert v.name == "B"
    v.name = StrSubclass("C")
    assert v.name == "C" and type(v.name) is str


@pytest.mark.parametrize("bad", [None, 5, b"B", A])
def test_name_setter_refuses_non_str_and_keeps_name(bad):
    v = Variable("A")
    with pytest.raises(TypeError):
        v.name = bad
    assert v.name == "A"


def test_name_cannot_be_deleted():
    v = Variable("A")
    with pytest.raises(AttributeError) as caught:
        del v.name
    assert caught.value.args == ("can't delete attribute",)
    assert v.name == "A"


@pytest.mark.parametrize("name", ["\ud800", "ok\udfffok", "\udc80"])
def test_lone_surrogate_refused_by_constructor_and_setter(name):
    with pytest.raises(UnicodeEncodeError):
        Variable(name)
    v = Variable("A")
    with pytest.raises(UnicodeEncodeError):
        v.name = name
    assert v.name == "A"


def test_application_has_no_setters():
    a = Application(A, B)
    with pytest.raises(AttributeError):
        a.left = C
    with pytest.raises(AttributeError):
        a.right = C
    assert str(a) == "(A -> B)"


def test_subtype_reads_are_new_equal_objects():
    a = Application(Application(A, B), C)
    assert a.left is not a.left
    assert a.left == a.left
    assert type(a.left) is Application and type(a.right) is Variable
    assert a.left.right == B and a.right.name == "C"


# --- text forms --------------------------------------------------------------------

@pytest.mark.parametrize("desc", TYPE_TABLE, ids=ids)
def test_str_is_display_form(desc):
    assert str(oracle.build(desc)) == oracle.display(desc)


@pytest.mark.parametrize("name", ["A", "", 'q"uote', "back\\slash", '\\"', "new\nline", "日本"])
def test_variable_repr_is_unescaped(name):
    assert repr(Variable(name)) == 'Variable("' + name + '")'
    assert str(Variable(name)) == name


@pytest.mark.parametrize("desc,expected", [
    (("A", "B"), "Application(A, B)"),
    ((("A", "B"), "C"), "Application((A -> B), C)"),
    (("A", ("B", "C")), "Application(A, (B -> C))"),
    (('"x"', "\\"), 'Application("x", \\)'),
    (("", ""), "Application(, )"),
])
def test_application_repr_uses_display_form_of_sides(desc, expected):
    assert repr(oracle.build(desc)) == expected


def test_variable_named_like_an_application_displays_the_same_but_differs():
    fake = Variable("(A -> B)")
    real = Application(A, B)
    assert str(fake) == str(real)
    assert fake != real and not fake == real
    assert fake.uid() != real.uid()


# --- uid -----------------------------------------------------------------------------

def test_uid_worked_example():
    assert Variable("A").uid() == "e7f24fe3effb2e317d3e60e793fbf0cb7ee34a0d4dbcd77205e9965786e36e01"


@pytest.mark.parametrize("desc", TYPE_TABLE, ids=ids)
def test_uid_matches_sha256_oracle(desc):
    uid = oracle.build(desc).uid()
    assert uid == oracle.type_uid(desc)
    assert type(uid) is str and len(uid) == 64 and uid == uid.lower()


def test_uid_of_empty_name_hashes_just_the_prefix():
    assert Variable("").uid() == oracle.sha("var:")


def test_uid_for_every_name_length_across_block_boundaries():
    # "var:" + name is 4..304 bytes: every place of the padding in the last
    # block (55 bytes fit it, 56 spill into another) several blocks over.
    names = ["".join(chr(97 + (i * 7 + n) % 26) for i in range(n)) for n in range(301)]
    assert [Variable(name).uid() for name in names] == [oracle.sha("var:" + name) for name in names]


def test_uid_is_recomputed_for_each_call():
    v = Variable("A")
    first = v.uid()
    v.name = "B"
    assert v.uid() == oracle.type_uid("B") != first


# --- hash ----------------------------------------------------------------------------

@pytest.fixture(scope="module")
def expected_hashes():
    """Oracle hash per description in TYPE_TABLE, computed in one subprocess."""
    answers = oracle.python_hashes([oracle.type_hash_stream(desc) for desc in TYPE_TABLE])
    return dict(zip(map(repr, TYPE_TABLE), answers))


@pytest.mark.parametrize("desc", TYPE_TABLE, ids=ids)
def test_hash_matches_siphash_oracle(desc, expected_hashes):
    obj = oracle.build(desc)
    assert hash(obj) == expected_hashes[repr(desc)]
    assert hash(obj) == hash(oracle.build(desc))


def test_hash_follows_current_name(expected_hashes):
    v = Variable("")
    v.name = "Person"
    assert hash(v) == expected_hashes[repr("Person")]
    assert hash(v) == hash(Variable("Person"))


def test_types_work_as_dict_and_set_keys():
    table = {Application(A, B): "ab", Variable("A"): "a"}
    assert table[Application(Variable("A"), Variable("B"))] == "ab"
    assert table[Variable("A")] == "a"
    assert len({Variable("A"), Variable("A"), Application(A, A), Application(A, A)}) == 2


# --- equality --------------------------------------------------------------------------

# (left, right, equal?)
EQUALITY_TABLE = [
    ("A", "A", True),
    ("A", "B", False),
    ("", "", True),
    ("A", "A ", False),
    ("é", "e\u0301", False),  # byte comparison, no normalisation
    (("A", "B"), ("A", "B"), True),
    (("A", "B"), ("B", "A"), False),
    (("A", "B"), ("A", "C"), False),
    ((("A", "B"), "C"), ("A", ("B", "C")), False),
    ((("A", "B"), "C"), (("A", "B"), "C"), True),
    ("A", ("A", "A"), False),
]


@pytest.mark.parametrize("left,right,equal", EQUALITY_TABLE)
def test_structural_equality(left, right, equal):
    x, y = oracle.build(left), oracle.build(right)
    assert (x == y) is equal
    assert (y == x) is equal
    assert (x != y) is (not equal)
    assert (y != x) is (not equal)
    assert (x.uid() == y.uid()) is equal
    if equal:
        assert hash(x) == hash(y)


@pytest.mark.parametrize("obj", [A, Application(A, B)])
@pytest.mark.parametrize("other", ["A", "(A -> B)", None, 0, Term("A", Variable("A")), Node(Variable("A"))])
def test_comparison_with_other_kinds_is_false(obj, other):
    assert (obj == other) is False
    assert (other == obj) is False
    assert (obj != other) is True
    assert (other != obj) is True


@pytest.mark.parametrize("obj,other", [
    (A, "A"), (A, Term("A", A)), (A, Application(A, A)),
    (Application(A, B), "(A -> B)"), (Application(A, A), A), (Application(A, B), Term("f", A)),
])
def test_equality_returns_not_implemented_for_foreign_operands(obj, other):
    assert obj.__eq__(other) is NotImplemented


@pytest.mark.parametrize("obj", [A, Application(A, B)])
def test_not_equal_negates_the_python_equality(obj):
    # == falls back to the other operand's __eq__; != is its negated truth,
    # not the other operand's __ne__.
    assert (obj == EqualsEverything()) == "truthy"
    assert (obj != EqualsEverything()) is False


@pytest.mark.parametrize("obj", [A, Application(A, B)])
def test_not_equal_propagates_errors_of_equality(obj):
    with pytest.raises(ZeroDivisionError):
        obj != RaisingEquality()


@pytest.mark.parametrize("x,y", [(A, B), (Application(A, B), Application(A, C)), (A, Application(A, B))])
@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_comparisons_are_refused(x, y, op):
    with pytest.raises(TypeError):
        eval(f"x {op} y", {"x": x, "y": y})


# --- renaming after use ----------------------------------------------------------------

def test_renaming_a_variable_does_not_reach_values_built_from_it():
    v = Variable("A")
    app = Application(v, Application(v, v))
    term = Term("t", v)
    node = Node(v)
    uid_before = app.uid()
    v.name = "Z"
    assert str(app) == "(A -> (A -> A))"
    assert app.uid() == uid_before
    assert app.left == Variable("A")
    assert term.type == Variable("A") and str(term) == "t:A"
    assert node.type.name == "A" and node.uid() == oracle.node_uid("A")
    assert str(v) == "Z" and repr(v) == 'Variable("Z")'


def test_renamed_variable_compares_by_its_new_name():
    v = Variable("A")
    v.name = "B"
    assert v == Variable("B")
    assert v != Variable("A")
    assert Application(v, v) == Application(B, B)


def test_renaming_a_read_subtype_does_not_change_the_application():
    app = Application(A, B)
    left = app.left
    left.name = "Q"
    assert str(app) == "(A -> B)"
    assert app.left.name == "A"


# --- properties ----------------------------------------------------------------------------

names = st.sampled_from(["A", "B", "", "a:b"]) | st.text(
    alphabet=st.characters(blacklist_categories=("Cs",)), max_size=4)
trees = st.recursive(names, lambda inner: st.tuples(inner, inner), max_leaves=6)


@settings(max_examples=300, deadline=None)
@given(first=trees, second=trees, same=st.booleans())
def test_equality_uid_and_hash_agree(first, second, same):
    if same:
        second = first
    x, y = oracle.build(first), oracle.build(second)
    equal_trees = first == second
    assert (x == y) is equal_trees
    assert (x != y) is (not equal_trees)
    assert (x.uid() == y.uid()) is equal_trees
    assert x.uid() == oracle.type_uid(first)
    assert str(x) == oracle.display(first)
    if equal_trees:
        assert hash(x) == hash(y)


# --- deep types -------------------------------------------------------------------------

# The environment may lower the depth, e.g. for a slow instrumented run.
DEPTH = int(os.environ.get("VELARTO_DEEP_TYPE_DEPTH", "1000000"))


def nest(depth, bottom, nested_left):
    t = Variable(bottom)
    b = Variable("B")
    for _ in range(depth):
        t = Application(t, b) if nested_left else Application(b, t)
    return t


def deep_oracles(depth, nested_left):
    """display, uid and hash stream of the nested type, computed without recursion."""
    uid_bottom, uid_b = oracle.type_uid("A"), oracle.type_uid("B")
    uid = uid_bottom
    for _ in range(depth):
        uid = oracle.sha("app:" + uid + ":" + uid_b if nested_left else "app:" + uid_b + ":" + uid)
    s_a, s_b = oracle.stream("A"), oracle.stream("B")
    tag, zero = oracle.APPLICATION_TAG, oracle.ZERO4
    inner = depth - 1  # the outermost application hashes S(left) + S(right) without its tag
    if nested_left:
        display = "(" * depth + "A" + " -> B)" * depth
        s_inner = tag * inner + s_a + (s_b + zero) * inner
        stream = s_inner + s_b
    else:
        display = "(B -> " * depth + "A" + ")" * depth
        s_inner = (tag + s_b) * inner + s_a + zero * inner
        stream = s_b + s_inner
    return display, uid, stream


@pytest.mark.parametrize("nested_left", [True, False], ids=["left-nested", "right-nested"])
def test_deep_type_survives_every_operation(nested_left):
    display, uid, stream = deep_oracles(DEPTH, nested_left)
    [expected_hash] = oracle.python_hashes([stream])

    t = nest(DEPTH, "A", nested_left)
    twin = nest(DEPTH, "A", nested_left)
    other = nest(DEPTH, "Z", nested_left)
    # Compare before any uid is computed (no kept digests to shortcut on).
    assert t == twin and not t != twin
    assert t != other and not t == other

    assert str(t) == display
    side = display[1:-len(" -> B)")] if nested_left else display[len("(B -> "):-1]
    assert repr(t) == ("Application(" + side + ", B)" if nested_left else "Application(B, " + side + ")")
    assert hash(t) == expected_hash == hash(twin)
    assert t.uid() == uid == twin.uid()
    assert other.uid() != uid
    assert t == twin and t != other

    term = Term("deep", t)
    assert term == Term("deep", twin) and hash(term) == hash(Term("deep", twin))
    assert str(term) == "deep:" + display
    assert term.uid() == oracle.sha("term:deep:" + uid)
    node = Node(t)
    assert str(node) == "Node(" + display + ")"
    assert node.uid() == oracle.sha("node:" + uid)
    inner = t.left if nested_left else t.right
    assert inner == (twin.left if nested_left else twin.right)

    del t, twin, other, term, node, inner, display, stream
    assert str(Application(A, B)) == "(A -> B)"  # still alive after freeing the trees


@pytest.mark.parametrize("last_leaf, equal", [("a", True), ("z", False)])
def test_equality_of_types_sharing_subtrees_is_linear(last_leaf, equal):
    # Each step doubles the unfolded tree: 2**200 leaves, 201 distinct nodes.
    def doubled(leaf):
        t = Application(Variable("a"), Variable(leaf))
        for _ in range(200):
            t = Application(t, t)
        return t

    assert (doubled("a") == doubled(last_leaf)) is equal
    assert (doubled("a") != doubled(last_leaf)) is not equal
