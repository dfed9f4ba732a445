"""Term: construction, names, text forms, uid, hash, equality and term
application with its type mismatches."""
from __future__ import annotations

import pytest

from foreign_operands import EqualsEverything, RaisingEquality

import type_oracle as oracle
from velarto import Application, Node, Term, Variable

A, B, C = Variable("A"), Variable("B"), Variable("C")
EXPECTED_TYPE = "Expected Variable or Application"

# (name, type description)
TERM_TABLE = [
    ("x", "A"),
    ("", ""),
    ("f", ("A", "B")),
    ("(f x)", "B"),
    ('q"uote', "back\\slash"),
    ("a:b", "c:d"),
    ("a", ":b"),  # must differ from the previous line although "a:b" + ":" + ... looks alike
    ("h", (("A", "B"), "C")),
    ("日本", ("ü", "🦀")),
    ("nul\x00", ("\x00", "")),
]


def ids(case):
    return repr(case)[:40]


def make(name, desc):
    return Term(name, oracle.build(desc))


# --- construction --------------------------------------------------------------------

@pytest.mark.parametrize("type_", [A, Application(A, B)])
def test_term_accepts_name_and_type_positionally_or_by_keyword(type_):
    for term in (Term("t", type_), Term(name="t", type=type_), Term(type=type_, name="t")):
        assert term.name == "t"
        assert term.type == type_


@pytest.mark.parametrize("bad_type", ["A", None, 5, Term("A", A), Node(A)])
def test_term_type_must_be_a_type(bad_type):
    with pytest.raises(TypeError) as caught:
        Term("t", bad_type)
    assert type(caught.value) is TypeError
    assert caught.value.args == (EXPECTED_TYPE,)


@pytest.mark.parametrize("bad_name,bad_type", [(5, A), (None, A), (b"t", A), (5, "A"), (None, None)])
def test_term_name_is_checked_before_the_type(bad_name, bad_type):
    with pytest.raises(TypeError) as caught:
        Term(bad_name, bad_type)
    assert caught.value.args != (EXPECTED_TYPE,)


def test_term_name_encoding_is_checked_before_the_type():
    with pytest.raises(UnicodeEncodeError):
        Term("\ud800", "not a type")


@pytest.mark.parametrize("call", [
    lambda: Term("t"),
    lambda: Term("t", A, B),
    lambda: Term("t", type=A, name="u"),
    lambda: Term("t", A, kind=B),
    lambda: Term(type="bad"),  # binding before conversion: the missing name is reported
], ids=["missing", "extra", "duplicate", "unknown keyword", "missing name, bad type"])
def test_term_argument_binding_errors(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.value.args != (EXPECTED_TYPE,)


class StrSubclass(str):
    pass


def test_term_name_may_be_a_str_subclass_and_reads_back_as_str():
    t = Term(StrSubclass("t"), A)
    assert t.name == "t" and type(t.name) is str


# --- name attribute -------------------------------------------------------------------------

def test_name_setter():
    t = Term("t", A)
    t.name = "u"
    assert t.name == "u"
    assert str(t) == "u:A"
    assert t.uid() == oracle.term_uid("u", "A")
    assert t == Term("u", A) and t != Term("t", A)


@pytest.mark.parametrize("bad", [None, 1, b"u", A])
def test_name_setter_refuses_non_str(bad):
    t = Term("t", A)
    with pytest.raises(TypeError):
        t.name = bad
    assert t.name == "t"


def test_name_setter_refuses_lone_surrogate():
    t = Term("t", A)
    with pytest.raises(UnicodeEncodeError):
        t.name = "\udfff"
    assert t.name == "t"


def test_name_cannot_be_deleted_and_type_is_read_only():
    t = Term("t", A)
    with pytest.raises(AttributeError) as caught:
        del t.name
    assert caught.value.args == ("can't delete attribute",)
    with pytest.raises(AttributeError):
        t.type = B
    with pytest.raises(AttributeError):
        del t.type
    assert t.name == "t" and t.type == A


def test_type_reads_are_new_objects_that_do_not_write_back():
    t = Term("t", Application(A, B))
    assert t.type is not t.type
    assert t.type == Application(A, B)
    v = Variable("A")
    u = Term("u", v)
    read = u.type
    read.name = "Z"
    v.name = "Y"
    assert u.type == A and str(u) == "u:A"


# --- text forms ---------------------------------------------------------------------------

@pytest.mark.parametrize("case", TERM_TABLE, ids=ids)
def test_str_and_repr(case):
    name, desc = case
    t = make(name, desc)
    shown = oracle.display(desc)
    assert str(t) == name + ":" + shown
    assert repr(t) == 'Term("' + name + '", ' + shown + ")"


def test_repr_example():
    assert repr(Term("(f x)", B)) == 'Term("(f x)", B)'
    assert str(Term("f", Application(A, B))) == "f:(A -> B)"


# --- uid and hash ---------------------------------------------------------------------------

@pytest.mark.parametrize("case", TERM_TABLE, ids=ids)
def test_uid_matches_sha256_oracle(case):
    name, desc = case
    assert make(name, desc).uid() == oracle.term_uid(name, desc)


def test_uid_for_every_name_length_across_block_boundaries():
    # The hashed text comes in four pieces of which the name is the second:
    # 70..370 bytes in all, every length of the last block.
    names = ["".join(chr(65 + (i * 5 + n) % 26) for i in range(n)) for n in range(301)]
    assert [Term(name, A).uid() for name in names] == [oracle.sha(f"term:{name}:{A.uid()}") for name in names]


def test_uid_does_not_escape_colons_in_names():
    # "term:a:b" + ":" + uid(...) -- the name is hashed verbatim
    assert Term("a:b", A).uid() == oracle.sha("term:a:b:" + A.uid())


@pytest.fixture(scope="module")
def expected_hashes():
    answers = oracle.python_hashes([oracle.term_hash_stream(n, d) for n, d in TERM_TABLE])
    return dict(zip(map(repr, TERM_TABLE), answers))


@pytest.mark.parametrize("case", TERM_TABLE, ids=ids)
def test_hash_matches_siphash_oracle(case, expected_hashes):
    assert hash(make(*case)) == expected_hashes[repr(case)]


def test_hash_follows_the_current_name(expected_hashes):
    t = Term("other", Variable("A"))
    t.name = "x"
    assert hash(t) == expected_hashes[repr(("x", "A"))]


def test_term_and_variable_of_same_text_hash_differently():
    # name + 0xFF + S(type) vs name + 0xFF: the type's stream is part of the hash
    assert hash(Term("A", A)) != hash(Variable("A"))


# --- equality -------------------------------------------------------------------------------

# (first, second, equal?)
EQUALITY_TABLE = [
    (("x", "A"), ("x", "A"), True),
    (("f", ("A", "B")), ("f", ("A", "B")), True),
    (("x", "A"), ("y", "A"), False),
    (("x", "A"), ("x", "B"), False),
    (("f", ("A", "B")), ("f", ("B", "A")), False),
    (("f", ("A", "B")), ("f", "(A -> B)"), False),
    (("a:b", "c"), ("a", "b:c"), False),
    (("", ""), ("", ""), True),
]


@pytest.mark.parametrize("first,second,equal", EQUALITY_TABLE)
def test_structural_equality(first, second, equal):
    x, y = make(*first), make(*second)
    assert x is not y
    assert (x == y) is equal and (y == x) is equal
    assert (x != y) is (not equal) and (y != x) is (not equal)
    assert (x.uid() == y.uid()) is equal
    assert (hash(x) == hash(y)) is equal  # unequal cases here differ in hash too


@pytest.mark.parametrize("other", ["x", "x:A", A, Application(A, A), Node(A), None, 3])
def test_comparison_with_non_terms(other):
    t = Term("x", A)
    assert t.__eq__(other) is NotImplemented
    assert (t == other) is False and (other == t) is False
    assert (t != other) is True and (other != t) is True


def test_not_equal_negates_the_python_equality():
    t = Term("x", A)
    assert (t == EqualsEverything()) == "truthy"
    assert (t != EqualsEverything()) is False
    with pytest.raises(ZeroDivisionError):
        t != RaisingEquality()


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_comparisons_are_refused(op):
    with pytest.raises(TypeError):
        eval(f"x {op} y", {"x": Term("x", A), "y": Term("y", A)})


def test_terms_work_as_dict_keys():
    table = {Term("f", Application(A, B)): 1}
    assert table[Term("f", Application(Variable("A"), Variable("B")))] == 1
    assert Term("f", Application(A, C)) not in table


# --- application --------------------------------------------------------------------------

f = Term("f", Application(A, B))
x = Term("x", A)


def test_application_builds_the_result_term():
    result = f(x)
    assert type(result) is Term
    assert result.name == "(f x)"
    assert str(result) == "(f x):B"
    assert repr(result) == 'Term("(f x)", B)'
    assert result.type == B
    assert result.uid() == oracle.term_uid("(f x)", "B")
    assert f(other=x) == result


def test_application_leaves_its_operands_unchanged():
    before = (f.name, f.type, x.name, x.type)
    f(x)
    assert (f.name, f.type, x.name, x.type) == before


def test_application_result_type_can_be_an_application():
    curried = Term("add", Application(A, Application(A, A)))
    partial = curried(x)
    assert partial.type == Application(A, A)
    full = partial(Term("y", A))
    assert full.name == "((add x) y)"
    assert str(full) == "((add x) y):A"


def test_higher_order_application():
    h = Term("h", Application(Application(A, B), C))
    result = h(f)
    assert result.name == "(h f)"
    assert result.type == C
    assert str(result) == "(h f):C"


def test_argument_type_is_compared_structurally():
    h = Term("h", Application(Application(A, B), C))
    g = Term("g", Application(Variable("A"), Variable("B")))
    assert h(g).type == C


def test_names_are_combined_verbatim():
    weird = Term("a b)", Application(Variable(""), Variable("")))
    assert weird(Term("(c", Variable(""))).name == "(a b) (c)"


# (function term, argument term, message)
MISMATCHES = [
    (f, Term("y", B), "Type mismatch: expected A, got B (in function application)"),
    (f, Term("g", Application(A, B)), "Type mismatch: expected A, got (A -> B) (in function application)"),
    (Term("h", Application(Application(A, B), C)), x,
     "Type mismatch: expected (A -> B), got A (in function application)"),
    (Term("h", Application(Application(A, B), C)), Term("g", Application(B, A)),
     "Type mismatch: expected (A -> B), got (B -> A) (in function application)"),
    (Term("e", Application(Variable(""), A)), x, "Type mismatch: expected , got A (in function application)"),
    (x, x, "Type mismatch: expected application type (A -> B), got A (in term application)"),
    # the argument of a non-function is not looked at, and "(A -> B)" is fixed text
    (Term("q", Variable("Q")), f, "Type mismatch: expected application type (A -> B), got Q (in term application)"),
    (Term("q", Variable("")), x, "Type mismatch: expected application type (A -> B), got  (in term application)"),
]


@pytest.mark.parametrize("function,argument,message", MISMATCHES)
def test_type_mismatch_messages(function, argument, message):
    with pytest.raises(TypeError) as caught:
        function(argument)
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)
    assert str(caught.value) == message
    assert caught.value.__cause__ is None and caught.value.__context__ is None


@pytest.mark.parametrize("bad", [5, "x", None, A, Node(A)])
def test_calling_with_a_non_term_is_a_plain_type_error(bad):
    with pytest.raises(TypeError) as caught:
        f(bad)
    assert "Type mismatch" not in str(caught.value)
    with pytest.raises(TypeError) as caught:
        x(bad)  # even a non-function term checks its argument first
    assert "Type mismatch" not in str(caught.value)


@pytest.mark.parametrize("call", [
    lambda: f(),
    lambda: f(x, x),
    lambda: f(arg=x),
    lambda: f(x, other=x),
], ids=["missing", "extra", "unknown keyword", "duplicate"])
def test_call_argument_binding_errors(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert "Type mismatch" not in str(caught.value)


def test_renaming_after_application_keeps_the_result():
    g = Term("g", Application(A, B))
    y = Term("y", A)
    result = g(y)
    g.name = "renamed"
    y.name = "other"
    assert result.name == "(g y)"
    assert g(y).name == "(renamed other)"
