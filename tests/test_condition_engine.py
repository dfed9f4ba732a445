"""Engine tests of the condition parser, through tests/engine/condition_harness.cpp.

The harness answers each hex-encoded text with the fully parenthesised
rendering of its tree (and the tree's height) or with the error message. Texts
are sent in batches, one process per batch. Besides the fixed precedence table,
three properties are checked on generated texts:

- any text at all (hostile nesting, huge inputs, invalid UTF-8) gets an answer:
  a tree no taller than the nesting bound, or an InvalidQuery message that
  names a column inside the text;
- a rendering parses back to itself;
- a condition generated with explicit parentheses renders as generated, and
  `Query.where` accepts exactly what the engine accepts, with its message.
"""
from __future__ import annotations

import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import engine_build
from velarto import Graph

QUOTED = 80


@pytest.fixture(scope="module")
def harness(engine_binary):
    return engine_binary("condition_harness")


def ask(binary, texts) -> list[tuple]:
    """One harness run over all texts: ("P", rendering, height) or ("E", message) each."""
    encoded = [t if isinstance(t, bytes) else t.encode("utf-8") for t in texts]
    stdin = b"".join(t.hex().encode("ascii") + b"\n" for t in encoded)
    lines = engine_build.run(binary, stdin).decode("ascii").split("\n")
    assert lines[-1] == "" and len(lines) == len(texts) + 1
    answers = []
    for line in lines[:-1]:
        fields = line.split(" ")
        text = bytes.fromhex(fields[1][1:]).decode("utf-8", "replace")
        answers.append(("P", text, int(fields[2])) if fields[0] == "P" else ("E", text))
    return answers


def check_answer(text: str, answer: tuple) -> None:
    if answer[0] == "P":
        assert 0 <= answer[2] <= len(text)
        return
    message = answer[1]
    assert message.startswith("Invalid query: ")
    if message == "Invalid query: condition is empty":
        assert text.strip() == "" or all(c.isspace() for c in text)
        return
    column = int(re.search(r" at column (\d+) in '", message).group(1))
    assert 1 <= column <= len(text) + 1
    quoted = message[message.index(f" at column {column} in '") + len(f" at column {column} in '"):-1]
    assert message.endswith("'")
    if len(text) <= QUOTED:
        assert quoted == text
        return
    # a long text is quoted as the QUOTED code points around the column, cut ends marked
    head, tail = quoted.startswith("..."), quoted.endswith("...")
    window = quoted[3 if head else 0:len(quoted) - 3 if tail else len(quoted)]
    start = len(text) - QUOTED if not tail else (0 if not head else None)
    if start is not None:
        assert text[start:start + QUOTED] == window
    else:
        assert len(window) == QUOTED and window in text


# --- precedence and shape ----------------------------------------------------------------------

@pytest.mark.parametrize("text, rendering", [
    ("a OR b AND c XOR d", "(a OR ((b AND c) XOR d))"),
    ("a OR b OR c", "(a OR b OR c)"),
    ("NOT a = b", "(NOT (a = b))"),
    ("NOT a AND b", "((NOT a) AND b)"),
    ("a = b IS NULL", "(a = (b IS NULL))"),
    ("a IS NULL = true", "((a IS NULL) = true)"),
    ("a < b <= c", "(a < b <= c)"),
    ("a + b - c * d / e % f", "(a + b - (c * d / e % f))"),
    ("-2 * -x.y + 3", "(((-2) * (-x.y)) + 3)"),
    ("-2 ^ 2", "((-2) ^ 2)"),
    ("a * b ^ c ^ -d % e", "(a * (b ^ c ^ (-d)) % e)"),
    ("a ^ b + c", "((a ^ b) + c)"),
    ("a IN [1, 'x'] IN [true]", "((a IN [1, 'x']) IN [true])"),
    ("x STARTS WITH 'a' + 'b'", "(x STARTS WITH ('a' + 'b'))"),
    ("a =~ 'x.*' CONTAINS 'b'", "((a =~ 'x.*') CONTAINS 'b')"),
    ("TOLOWER(n.name) ends with 'A'", "(toLower(n.name) ENDS WITH 'A')"),
    ("type ( r ) <> 'A' xor not false", "((type(r) <> 'A') XOR (NOT false))"),
    ("n.`first name` != `a b`.x", "(n.`first name` <> `a b`.x)"),
    ("n.in = n.AND", "(n.in = n.AND)"),
    ("1.5e3 + .5 + 2E-2", "(1.5e3 + .5 + 2E-2)"),
    ("'it\\'s' = \"a\\\\b\"", "('it\\'s' = 'a\\\\b')"),
    ("coalesce(a, b, null)", "coalesce(a, b, null)"),
    ("[]", "[]"),
    ("ñ.é = 'ü'", "(ñ.é = 'ü')"),
    ("$p_1 * -$q IN $list", "(($p_1 * (-$q)) IN $list)"),
    ("NOT EXISTS( (a)-[r:`)`]->({k: ')'}) ) AND x", "((NOT exists( (a)-[r:`)`]->({k: ')'}) )) AND x)"),
    ("exists((a)) = compose(r)", "(exists((a)) = compose(r))"),
    ("exists + exists.x", "(exists + exists.x)"),
])
def test_rendering(harness, text, rendering):
    assert ask(harness, [text])[0][:2] == ("P", rendering)


# The forms that read parts: postfix indexing, slicing and `.key` bind tighter
# than any prefix operator; a comprehension's variable is seen only in its
# predicate and projection (a Local renders `(x).k`, a variable `x.k`); a
# variable named `case` renders in backticks, which never open a CASE.
FORMS = [
    ("-l[0]", "(-(l[0]))"),
    ("-x.y[1..] + 1", "((-(x.y[1..])) + 1)"),
    ("a.b.c", "(a.b).c"),
    ("a.b[0].c", "((a.b[0])).c"),
    ("l[0][1]", "((l[0])[1])"),
    ("l[1..2]", "(l[1..2])"),
    ("l[..-1]", "(l[..(-1)])"),
    ("l[a + 1..]", "(l[(a + 1)..])"),
    ("$p[0] = $m.k", "(($p[0]) = ($m).k)"),
    ("{a: 1, `b c`: x, 'd-e': [1], AND: null}", "{a: 1, `b c`: x, `d-e`: [1], AND: null}"),
    ("{a: {b: 1}}.a.b", "(({a: {b: 1}}).a).b"),
    ("{}", "{}"),
    ("CASE WHEN a THEN 1 ELSE 2 END", "(CASE WHEN a THEN 1 ELSE 2 END)"),
    ("case x when 1 then 'a' when 2 then 'b' end", "(CASE x WHEN 1 THEN 'a' WHEN 2 THEN 'b' END)"),
    ("CASE WHEN a = 1 THEN b END + 1", "((CASE WHEN (a = 1) THEN b END) + 1)"),
    ("CASE CASE a WHEN 1 THEN b END WHEN c THEN d END", "(CASE (CASE a WHEN 1 THEN b END) WHEN c THEN d END)"),
    # `case` before an operator or a dot is a variable
    ("case + 1 = case.x", "((`case` + 1) = `case`.x)"),
    ("case - 1", "(`case` - 1)"),
    ("case IS NULL OR case IN [case]", "((`case` IS NULL) OR (`case` IN [`case`]))"),
    ("CASE a + 1 WHEN 2 THEN 3 END", "(CASE (a + 1) WHEN 2 THEN 3 END)"),
    ("CASE (a) WHEN 2 THEN 3 END", "(CASE a WHEN 2 THEN 3 END)"),
    ("[x IN l]", "[x IN l]"),
    ("[x IN l WHERE x > 1 | x * 2]", "[x IN l WHERE (x > 1) | (x * 2)]"),
    ("[x IN a IN b WHERE x]", "[x IN (a IN b) WHERE x]"),
    ("[x IN l | x.k] = x.k", "([x IN l | (x).k] = x.k)"),
    ("[x IN x.k | x.k]", "[x IN x.k | (x).k]"),
    ("[x IN l | [y IN x.k | y.a]] = y.a", "([x IN l | [y IN (x).k | (y).a]] = y.a)"),
    ("[x IN l | [x IN x.k | x.a]]", "[x IN l | [x IN (x).k | (x).a]]"),
    ("[`a b` IN l | `a b`.c]", "[`a b` IN l | (`a b`).c]"),
    ("[1, x IN l]", "[1, (x IN l)]"),
    ("all(x IN l WHERE x.a)", "all(x IN l WHERE (x).a)"),
    ("NONE(x IN l WHERE true) AND single(y IN l WHERE y)", "(none(x IN l WHERE true) AND single(y IN l WHERE y))"),
    ("any(x IN [1] WHERE x = 1) OR x.a", "(any(x IN [1] WHERE (x = 1)) OR x.a)"),
    ("size([x IN range(1, 3) WHERE x % 2 = 0])", "size([x IN range(1, 3) WHERE ((x % 2) = 0)])"),
]


@pytest.mark.parametrize("text, rendering", FORMS)
def test_forms_render_and_parse_back(harness, text, rendering):
    answers = ask(harness, [text, rendering])
    assert [a[:2] for a in answers] == [("P", rendering), ("P", rendering)]


@pytest.mark.parametrize("text", [
    "CASE WHEN a THEN `case` END",
    "[x IN `case` WHERE `case`.k]",
    "CASE `case` WHEN 1 THEN 2 END",
])
def test_a_variable_named_case_renders_so_that_it_parses_back(harness, text):
    (kind, rendering, _), = ask(harness, [text])
    assert kind == "P"
    assert ask(harness, [rendering])[0][:2] == ("P", rendering)


# --- any text gets an answer -------------------------------------------------------------------

TOKENS = ["(", ")", "[", "]", ",", ".", "a", "n.x", "`q r`", "AND", "or", "Xor", "NOT", "IS", "NULL",
          "IN", "STARTS", "ENDS", "WITH", "CONTAINS", "true", "null", "=", "<>", "!=", "<", "<=", ">",
          ">=", "=~", "+", "-", "*", "/", "%", "1", "2.5", ".5", "1e3", "'s'", '"t"', "'", '"', "`",
          "\\", "\\u12", "size", "coalesce", "type", "toLower", "#", "!", "é", "\u00a0", "\x00",
          "$", "$p", "exists(", "{", "}", "count(", "sum", "compose", "CASE", "when", "THEN", "else", "END",
          "case", "..", ":", "|", "x IN", "all(", "single(", "k:", "range(", "`case`"]

condition_like = st.lists(st.sampled_from(TOKENS), max_size=30).map(
    lambda parts: "".join(p + (" " if i % 3 else "") for i, p in enumerate(parts)))
any_text = st.one_of(st.text(max_size=60), condition_like)
no_surrogates = st.characters(blacklist_categories=("Cs",))


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(any_text, min_size=1, max_size=40))
def test_any_text_parses_or_is_refused(harness, texts):
    for text, answer in zip(texts, ask(harness, texts)):
        check_answer(text, answer)


@settings(max_examples=40, deadline=None)
@given(st.lists(st.binary(max_size=40), min_size=1, max_size=40))
def test_any_bytes_get_an_answer(harness, texts):
    texts = [t.replace(b"\n", b" ").replace(b"\r", b" ") for t in texts]
    for answer in ask(harness, texts):
        assert answer[0] == "P" or answer[1].startswith("Invalid query: ")


HOSTILE = [
    "(" * 10_000,
    "(" * 10_000 + "a" + ")" * 10_000,
    "[" * 100_000,
    "-" * 100_000 + "1",
    "NOT " * 100_000 + "a",
    "a" + " IS NULL" * 50_000,
    "a." * 100_000,
    "size(" * 50_000,
    "'" + "x" * 1_000_000,
    "`" + "x" * 1_000_000,
    " OR ".join(["n.x = 1"] * 100_000),
    "+".join(["1"] * 200_000),
    " < ".join(["a"] * 100_000),
    "[" + ", ".join(["1"] * 100_000) + "]",
    "1" * 1_000_000,
    " " * 1_000_000,
    "\\" * 100_000,
    "exists(" + "(" * 100_000,
    "exists(" * 100_000,
    "$" * 100_000,
]


def test_hostile_inputs_get_an_answer(harness):
    answers = ask(harness, HOSTILE)
    for text, answer in zip(HOSTILE, answers):
        check_answer(text, answer)
    # nesting of any depth parses when well formed
    assert [a[0] for a in answers] == ["E", "P", "E", "P", "P", "P", "E", "E", "E", "E",
                                       "P", "P", "P", "P", "P", "E", "E", "E", "E", "E"]
    assert answers[0][1].endswith(f"unexpected end of condition at column 10001 in '...{'(' * 80}'")
    assert answers[4][1:] == ("(NOT " * 100_000 + "a" + ")" * 100_000, 100_000)


# --- renderings and generated conditions -------------------------------------------------------

@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(any_text, min_size=1, max_size=40))
def test_a_rendering_parses_back_to_itself(harness, texts):
    rendered = [a[1] for a in ask(harness, texts) if a[0] == "P"]
    if rendered:
        again = ask(harness, rendered)
        assert [a[:2] for a in again] == [("P", r) for r in rendered]


def spaced(draw, *parts):
    gap = lambda: draw(st.sampled_from(["", " ", "  ", "\t"]))  # noqa: E731
    return gap().join(parts) if all(parts) else "".join(parts)


def keyword(draw, word: str) -> str:
    return "".join(c.upper() if draw(st.booleans()) else c.lower() for c in word)


LEAVES = [("a", "a"), ("n.age", "n.age"), ("_x1", "_x1"), ("12", "12"), ("4.5", "4.5"),
          ("'s'", "'s'"), ('"d"', "'d'"), ("TRUE", "true"), ("false", "false"), ("Null", "null"),
          ("`a b`", "`a b`"), ("n.`k k`", "n.`k k`")]


@st.composite
def conditions(draw, depth=4):
    """(text, rendering): every operation in parentheses, so the rendering is known."""
    if depth == 0 or draw(st.integers(0, 3)) == 0:
        return draw(st.sampled_from(LEAVES))
    sub = conditions(depth - 1)
    kind = draw(st.integers(0, 6))
    (lt, lr), (rt, rr) = draw(sub), draw(sub)
    if kind == 0:
        word = draw(st.sampled_from(["OR", "XOR", "AND"]))
        return f"({lt} {keyword(draw, word)} {rt})", f"({lr} {word} {rr})"
    if kind == 1:
        op = draw(st.sampled_from(["=", "<>", "<", "<=", ">", ">=", "+", "-", "*", "/", "%"]))
        return "(" + spaced(draw, lt, op, rt) + ")", f"({lr} {op} {rr})"
    if kind == 2:
        words = draw(st.sampled_from(["IN", "STARTS WITH", "ENDS WITH", "CONTAINS"]))
        text = " ".join(keyword(draw, w) for w in words.split())
        return f"({lt} {text} {rt})", f"({lr} {words} {rr})"
    if kind == 3:
        negated = draw(st.booleans())
        words = "IS NOT NULL" if negated else "IS NULL"
        return f"({lt} {' '.join(keyword(draw, w) for w in words.split())})", f"({lr} {words})"
    if kind == 4:
        return (f"(NOT {lt})", f"(NOT {lr})") if draw(st.booleans()) else (f"(-{lt})", f"(-{lr})")
    if kind == 5:
        name = draw(st.sampled_from(["type", "name", "uid", "size", "toLower", "toUpper"]))
        return f"{keyword(draw, name)}({lt})", f"{name}({lr})"
    return "[" + ", ".join([lt, rt]) + "]", f"[{lr}, {rr}]"


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(conditions(), min_size=1, max_size=30))
def test_generated_conditions_render_as_written(harness, pairs):
    answers = ask(harness, [text for text, _ in pairs])
    assert [a[:2] for a in answers] == [("P", rendering) for _, rendering in pairs]


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.one_of(st.text(no_surrogates, max_size=40), condition_like,
                          conditions().map(lambda pair: pair[0])), min_size=1, max_size=30))
def test_where_accepts_what_the_engine_accepts(harness, texts):
    query = Graph().query()
    for text, answer in zip(texts, ask(harness, texts)):
        if answer[0] == "P":
            query.where(text)
        else:
            with pytest.raises(ValueError) as caught:
                query.where(text)
            assert caught.value.args == (answer[1],)
