"""The compiled schema matcher (src/core/schema) against the text walk it replaces.

The text walk is written out below as plainly as it reads: trim, wildcard,
simple delimited form, capture group, plain name, arrow split, with every
sub-pattern re-wrapped in `$...$` and read again. The compiled matcher must
give the same answer and the same captures on every pattern and type, which a
property test checks on generated inputs, batched through
tests/engine/schema_harness.cpp. A table of hand-checked cases and a few very
deep inputs complete the picture.
"""
from __future__ import annotations

import time

import pytest

from white_space import WHITE_SPACE, trim  # noqa: F401
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import engine_build

# ---------------------------------------------------------------------------
# Types as tuples: ("V", name) or ("A", left, right)


def V(name):
    return ("V", name)


def A(left, right):
    return ("A", left, right)


def encode_type(ty):
    tokens, stack = [], [ty]
    while stack:
        node = stack.pop()
        if node[0] == "V":
            tokens.append("V" + node[1].encode("utf-8").hex())
        else:
            tokens.append("A")
            stack.append(node[2])
            stack.append(node[1])
    return " ".join(tokens)


def decode_type(text):
    stack = []
    for token in reversed(text.split(" ")):
        if token[0] == "V":
            stack.append(V(bytes.fromhex(token[1:]).decode("utf-8")))
        else:
            left = stack.pop()
            right = stack.pop()
            stack.append(A(left, right))
    return stack.pop()


# ---------------------------------------------------------------------------
# The text walk, step for step.

def is_variable_named(ty, name):
    return ty[0] == "V" and ty[1] == name


def matches_recursive(p, ty, captures):
    # 1. trim
    t = trim(p)
    # 2. wildcard
    if t == "$*$":
        return True
    # 3. simple delimited form; a lone "$" is not taken here (one character
    #    cannot open and close), so it reaches step 5 as a plain name.
    if (len(t) >= 2 and t.startswith("$") and t.endswith("$")
            and "->" not in t and ":" not in t and "(" not in t):
        inner = t[1:-1]
        if inner == "*":
            return True
        return is_variable_named(ty, inner)
    # 4. capture group
    if len(t) >= 2 and t.startswith("$(") and t.endswith(")$"):
        body = t[2:-2]
        if ":" not in body:
            return False
        colon = body.index(":")
        name = trim(body[:colon])
        sub = trim(body[colon + 1:])
        if not matches_recursive("$" + sub + "$", ty, captures):
            return False
        captures[name] = ty
        return True
    # 5. plain name
    if "->" not in t:
        return is_variable_named(ty, t)
    # 6. arrow form
    body = t
    if t.startswith("$") and t.endswith("$"):
        body = body[1:-1]
    if body.startswith("(") and body.endswith(")"):
        body = body[1:-1]
    depth = 0
    split = None
    for i, ch in enumerate(body):
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        elif ch == "-" and depth == 0 and body[i + 1:i + 2] == ">":
            split = i
            break
    if split is None:
        return False
    left = trim(body[:split])
    right = trim(body[split + 2:])
    if ty[0] != "A":
        return False
    if not matches_recursive("$" + left + "$", ty[1], captures):
        return False
    return matches_recursive("$" + right + "$", ty[2], captures)


def expected(pattern, ty):
    captures = {}
    fits = matches_recursive(pattern, ty, captures)
    return fits, (captures if fits else {})


# ---------------------------------------------------------------------------
# The harness


@pytest.fixture(scope="module")
def harness(engine_binary):
    return engine_binary("schema_harness")


def run_raw(binary, cases):
    """cases: (pattern, encoded type); returns the harness's raw fields per case."""
    lines = [p.encode("utf-8").hex() + "\t" + enc + "\n" for p, enc in cases]
    out = engine_build.run(binary, "".join(lines).encode("ascii")).decode("ascii")
    rows = out.split("\n")[:-1]
    assert len(rows) == len(cases)
    return [row.split("\t") for row in rows]


def run_cases(binary, cases):
    """cases: (pattern, type); returns (fits, capture dict) per case."""
    results = []
    for (pattern, _), fields in zip(cases, run_raw(binary, [(p, encode_type(t)) for p, t in cases])):
        fits, captured = fields[0] == "1", fields[1] == "1"
        assert fits == captured, f"matches and capture disagree on {pattern!r}"
        dictionary = {}
        for i in range(2, len(fields), 2):  # later entries replace earlier ones
            dictionary[bytes.fromhex(fields[i]).decode("utf-8")] = decode_type(fields[i + 1])
        if not captured:
            assert dictionary == {}
        results.append((captured, dictionary))
    return results


def check_against_walk(binary, cases):
    for (pattern, ty), got in zip(cases, run_cases(binary, cases)):
        want = expected(pattern, ty)
        assert got == want, f"pattern {pattern!r} on {ty!r}: compiled {got!r}, text walk {want!r}"


# ---------------------------------------------------------------------------
# Generated inputs

SPACES = [" ", "\t", "\n", "\u3000", "\u00a0", "\u2028", "\x85", "\u2003", "\u200b"]
SOUP = list("$():->* ABC") + ["x", "y", "é", "-", ">", "$", "("] + SPACES
NAMES = ["A", "B", "C", "*", "$", "", " A ", "A ", "$A$", "$*$", "a:b", "$a:b$", "(A", "$(A$",
         "x", "$ A $", "\u3000", "A -> B", "$$", "-", ">", "é"]

soup = st.text(alphabet=st.sampled_from(SOUP), max_size=24)
blank = st.sampled_from(["", "", " ", "  ", "\t", "\u3000", "\u00a0 ", "\n"])


def pad(inner):
    return st.tuples(blank, inner, blank).map("".join)


leaf_pattern = st.sampled_from(["A", "B", "C", "*", "$*$", "$A$", "", "$", "a:b", "x:*",
                                "$ A $", "é", "-", "()", "$$", "(A)", "*)", "(y:*"])


def grow(inner):
    arrow = st.tuples(inner, st.sampled_from(["->", " -> ", "-> ", " ->", "-->", "- >", "\u3000->\u3000"]), inner)
    # Few names, so that one name often nests inside another and the order
    # in which captures are recorded decides which entry remains.
    name = st.sampled_from(["x", "x", "y", " x ", "", "f", "x y"])
    group = st.tuples(name, st.sampled_from([":", " : ", ":\t"]), inner).map(lambda t: "(" + "".join(t) + ")")
    return st.one_of(
        arrow.map("".join),
        group,
        arrow.map("".join),
        group,
        inner.map(lambda s: "$" + s + "$"),
        inner.map(lambda s: "(" + s + ")"),
        st.tuples(inner, soup).map("".join),
    )


grammar = pad(st.recursive(pad(leaf_pattern), grow, max_leaves=8))


def well_formed_arrow(parts):
    left, arrow, right = parts
    if "->" in left and not (left.startswith("(") and left.endswith(")")):
        left = "(f:" + left + ")"  # a left side with an arrow needs a group
    return left + arrow + right


# Schemas as a person would write them: these mostly have fitting types.
schema_body = st.recursive(
    st.sampled_from(["A", "B", "*", "$*$", "x"]),
    lambda inner: st.one_of(
        st.tuples(inner, st.sampled_from([" -> ", "->"]), inner).map(well_formed_arrow),
        st.tuples(st.sampled_from(["x", "y", " x "]), inner).map(lambda t: "(" + t[0] + ":" + t[1] + ")"),
    ),
    max_leaves=6,
)
schemas = pad(st.tuples(st.sampled_from(["", "$"]), schema_body).map(lambda t: t[0] + t[1] + t[0]))
patterns = st.one_of(soup, grammar, schemas, schemas, st.tuples(grammar, soup, grammar).map("".join))


# Type shapes have numbered leaves; a case names them from its own pool, so
# one static strategy serves every pattern.
type_shapes = st.recursive(st.integers(0, 255), lambda inner: st.tuples(inner, inner), max_leaves=6)


def name_shape(shape, names):
    if isinstance(shape, int):
        return V(names[shape % len(names)])
    return A(name_shape(shape[0], names), name_shape(shape[1], names))


def types_over(names):
    return type_shapes.map(lambda shape: name_shape(shape, names))


def witness(p, pick):
    """A type the text walk would accept, or None; leaves for wildcards come from pick()."""
    t = trim(p)
    if t == "$*$":
        return pick()
    if (len(t) >= 2 and t[0] == "$" and t[-1] == "$" and "->" not in t
            and ":" not in t and "(" not in t):
        return pick() if t[1:-1] == "*" else V(t[1:-1])
    if len(t) >= 2 and t.startswith("$(") and t.endswith(")$"):
        body = t[2:-2]
        return witness("$" + trim(body.partition(":")[2]) + "$", pick) if ":" in body else None
    if "->" not in t:
        return V(t)
    body = t[1:-1] if t[0] == t[-1] == "$" else t
    if body.startswith("(") and body.endswith(")"):
        body = body[1:-1]
    depth = 0
    for i, ch in enumerate(body):
        depth += (ch == "(") - (ch == ")")
        if ch == "-" and depth == 0 and body[i + 1:i + 2] == ">":
            left = witness("$" + trim(body[:i]) + "$", pick)
            right = witness("$" + trim(body[i + 2:]) + "$", pick)
            return None if left is None or right is None else A(left, right)
    return None


@st.composite
def case(draw):
    pattern = draw(patterns)
    # Names drawn partly from the pattern itself, bare and re-wrapped, so that
    # name comparisons succeed often enough to matter.
    names = list(NAMES)
    for i, j in draw(st.lists(st.tuples(st.integers(0, len(pattern)), st.integers(0, len(pattern))), max_size=3)):
        piece = trim(pattern[min(i, j):max(i, j)])
        names += [piece, "$" + piece + "$"]
    shapes = draw(st.lists(type_shapes, min_size=1, max_size=3))
    if draw(st.integers(0, 2)):  # two times in three, try to build a fitting type
        spare = iter(shapes[1:])
        fit = witness(pattern, lambda: name_shape(next(spare, 0), names))
        if fit is not None:
            return pattern, fit
    return pattern, name_shape(shapes[0], names)


# A batch is one harness run. Batches stay near a hundred grammar cases: much
# larger lists exceed Hypothesis's per-example budget and are thrown away.
BATCH = settings(max_examples=40, deadline=None,
                 suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


@BATCH
@given(st.lists(case(), min_size=100, max_size=120))
def test_compiled_matcher_agrees_with_the_text_walk(harness, cases):
    check_against_walk(harness, cases)


@BATCH
@given(st.lists(st.tuples(soup, types_over(NAMES)), min_size=150, max_size=250))
def test_arbitrary_text_agrees_with_the_text_walk(harness, cases):
    check_against_walk(harness, cases)


# ---------------------------------------------------------------------------
# Hand-checked cases

a_b = A(V("A"), V("B"))
TABLE = [
    # pattern, type, fits, captures
    ("$*$", V("A"), True, {}),
    ("  $*$  ", a_b, True, {}),
    ("\u3000$*$\n", A(a_b, a_b), True, {}),
    ("$Person$", V("Person"), True, {}),
    ("Person", V("Person"), True, {}),
    ("$Person$", V("person"), False, {}),
    ("$Person$", a_b, False, {}),
    ("$A -> B$", a_b, True, {}),
    ("A -> B", a_b, True, {}),
    ("$A->B$", a_b, True, {}),
    ("$A -> B$", V("A"), False, {}),
    ("$* -> *$", A(a_b, V("C")), True, {}),
    ("$* -> *$", V("A"), False, {}),
    ("$A -> B -> C$", A(V("A"), A(V("B"), V("C"))), True, {}),
    ("$A -> B -> C$", A(a_b, V("C")), False, {}),
    ("$(x:*)$", V("Q"), True, {"x": V("Q")}),
    ("$(x:*)$", a_b, True, {"x": a_b}),
    ("$( x : * )$", V("Q"), True, {"x": V("Q")}),
    ("$(:*)$", V("Q"), True, {"": V("Q")}),
    ("$(x)$", V("x"), False, {}),
    ("$(x:*) -> B$", a_b, True, {"x": V("A")}),
    ("$(x:*) -> B$", A(V("A"), V("C")), False, {}),
    ("$A -> (y:*)$", A(V("A"), A(V("B"), V("C"))), True, {"y": A(V("B"), V("C"))}),
    ("$(f:(x:*) -> B)$", a_b, True, {"x": V("A"), "f": a_b}),
    ("$(x:(x:*) -> B)$", a_b, True, {"x": a_b}),
    ("(x:A) -> (x:B) -> C", A(V("A"), A(V("B"), V("C"))), True, {"x": V("B")}),
    ("$A -> B$", a_b, True, {}),
    ("", V(""), True, {}),
    ("", V("A"), False, {}),
    (" \t\u2028 ", V(""), True, {}),
    ("$(A -> B)$", a_b, False, {}),
    ("$ Person $", V("Person"), False, {}),
    ("$ Person $", V(" Person "), True, {}),
    ("*", V("*"), True, {}),
    ("*", V("A"), False, {}),
    ("A -> *", A(V("A"), a_b), True, {}),
    ("$(x:*) -> (y:*)$", a_b, False, {}),
    ("$(x:*) -> (y:*)$", V("$(x:*) -> (y:*)$"), False, {}),
    ("(A -> B) -> C", A(a_b, V("C")), False, {}),
    ("(f:A -> B) -> C", A(a_b, V("C")), True, {"f": a_b}),
    ("$a:b$", V("$a:b$"), True, {}),
    ("$a:b$", V("a:b"), False, {}),
    ("A -> a:b", A(V("A"), V("$a:b$")), True, {}),
    ("A -> a:b", A(V("A"), V("a:b")), False, {}),
    ("A -> $B$", A(V("A"), V("$B$")), True, {}),
    ("A --> B", A(V("A -"), V("B")), True, {}),
    ("(A -> B)", a_b, True, {}),              # top-level parentheses are dropped
    ("(x:A) -> (x:B)", a_b, False, {}),       # ... which unbalances this one
    ("A) -> (B", a_b, False, {}),             # the depth goes negative: no split
    ("\u2003A\u2003->\u3000B\u00a0", a_b, True, {}),
    ("\u200bA", V("\u200bA"), True, {}),      # U+200B is no White_Space
    ("$", V("$"), True, {}),                  # the lone "$" is a plain name
    ("$", V(""), False, {}),
    ("$", a_b, False, {}),
    ("  $ ", V("$"), True, {}),
    ("$$", V(""), True, {}),
    ("$()$", V(""), False, {}),
    ("A -> (x:(y:*))", A(V("A"), V("B")), True, {"y": V("B"), "x": V("B")}),
]


@pytest.mark.parametrize("pattern,ty,fits,captures", TABLE)
def test_hand_checked_cases(harness, pattern, ty, fits, captures):
    assert expected(pattern, ty) == (fits, captures)  # the walk agrees with the hand
    assert run_cases(harness, [(pattern, ty)]) == [(fits, captures)]


# ---------------------------------------------------------------------------
# Deep and long inputs: nothing may recurse on depth or rescan per level.


def right_chain(depth, last):
    """depth applications A -> (A -> (... -> last)), encoded directly."""
    return " ".join(["A V41"] * depth + ["V" + last.encode().hex()])


def test_deep_arrow_chain_pattern(harness):
    depth = 200_000
    pattern = " -> ".join(["A"] * (depth + 1))
    rows = run_raw(harness, [(pattern, right_chain(depth, "A")),
                             (pattern, right_chain(depth, "B")),
                             (pattern, right_chain(depth - 1, "A")),
                             (pattern, "V41")])
    assert [row[:2] for row in rows] == [["1", "1"], ["0", "0"], ["0", "0"], ["0", "0"]]


def test_deep_group_nesting(harness):
    depth = 100_000
    pattern = "$" + "(x:" * depth + "*" + ")" * depth + "$"
    rows = run_raw(harness, [(pattern, "V41")])
    assert rows[0][:2] == ["1", "1"]
    assert len(rows[0]) == 2 + 2 * depth
    assert set(rows[0][2::2]) == {"78"} and set(rows[0][3::2]) == {"V41"}


def test_deep_type(harness):
    depth = 1_000_000
    deep = right_chain(depth, "B")
    rows = run_raw(harness, [("$* -> *$", deep), ("A -> A -> (y:*)", deep), ("$(t:*)$", deep),
                             ("A -> B", deep)])
    assert rows[0][:2] == ["1", "1"]
    assert rows[1][:4] == ["1", "1", "79", right_chain(depth - 2, "B")]
    assert rows[2][2:] == ["74", deep]
    assert rows[3][:2] == ["0", "0"]


@pytest.mark.parametrize("pattern", [
    "A -> " * 250_000 + "A",
    "$" + "(x:" * 250_000 + "*" + ")" * 250_000 + "$",
    "(" * 500_000 + "A -> B" + ")" * 500_000,
    ")" * 500_000 + "->" + "(" * 500_000,
    "((x:A) -> " * 100_000 + "B" + ")" * 100_000,
    "$" + "\u3000" * 300_000 + "$",
    "A" + " " * 400_000 + "-> " * 100_000,
    "-" * 1_000_000 + ">",
], ids=["arrows", "groups", "parens", "negative", "mixed", "blanks", "spaces", "dashes"])
def test_megabyte_patterns_compile_quickly(harness, pattern):
    started = time.monotonic()
    rows = run_raw(harness, [(pattern, "A V41 V42")])
    assert rows[0][0] in ("0", "1")
    assert time.monotonic() - started < 20
