"""Sharing that must stay invisible: term types kept once per distinct type,
and Node and Edge objects whose memory is reused after they are freed."""
from __future__ import annotations

import sys

import pytest

from velarto import Application, Edge, Graph, Node, Term, Variable

A, B = Variable("A"), Variable("B")


def chain(depth, leaf=A, right=B):
    t = leaf
    for _ in range(depth):
        t = Application(t, right)
    return t


# --- shared term types ---------------------------------------------------------------------------

def test_a_renamed_variable_gives_new_terms_a_new_type_and_leaves_earlier_ones():
    a = Variable("A")
    first = Term("f", Application(a, B))
    a.name = "Z"
    second = Term("f", Application(a, B))
    third = Term("f", Application(Variable("A"), B))
    assert (str(first.type), str(second.type), str(third.type)) == ("(A -> B)", "(Z -> B)", "(A -> B)")
    assert first != second and first == third
    assert first.uid() == third.uid() != second.uid()


F = Term("f", Application(A, B))
X = Term("x", A)


@pytest.mark.parametrize("left, right, equal", [
    # both shared by their constructor
    (lambda: Term("x", Application(A, B)), lambda: Term("x", Application(A, B)), True),
    (lambda: Term("x", Application(A, B)), lambda: Term("x", Application(B, A)), False),
    (lambda: Term("x", Application(A, B)), lambda: Term("x", Application(A, A)), False),
    # equal structure from different children objects
    (lambda: Term("x", chain(3)), lambda: Term("x", chain(3, Variable("A"), Variable("B"))), True),
    (lambda: Term("x", chain(3)), lambda: Term("x", chain(4)), False),
    # a variable whose name is the display form of an application
    (lambda: Term("x", Variable("(A -> B)")), lambda: Term("x", Application(A, B)), False),
    # a shared type against one made by term application (not shared)
    (lambda: F(X), lambda: Term("(f x)", B), True),
    (lambda: F(X), lambda: Term("(f x)", A), False),
], ids=["same", "swapped", "other right", "deep from new children", "deeper", "variable named like it",
        "applied vs made", "applied vs other"])
def test_term_and_type_equality_with_shared_types(left, right, equal):
    one, other = left(), right()
    assert (one == other) is equal
    assert (one.type == other.type) is equal
    assert (one.uid() == other.uid()) is equal
    if equal:
        assert hash(one) == hash(other) and hash(one.type) == hash(other.type)


def test_shared_types_survive_scattered_frees():
    # Terms of 3,000 types; every third is freed, then all are made again: each new term must
    # meet its surviving twin (equal), never a stale or duplicate entry (which would make twins
    # compare unequal or read freed memory).
    names = [f"V{i}" for i in range(3000)]
    kept = [Term("t", Application(Variable(n), B)) for n in names]
    for i in range(0, len(kept), 3):
        kept[i] = None
    again = [Term("t", Application(Variable(n), B)) for n in names]
    for n, old, new in zip(names, kept, again):
        assert str(new.type) == f"({n} -> B)"
        if old is not None:
            assert old == new and old.type == new.type
    del kept
    assert [t.type for t in again] == [Application(Variable(n), B) for n in names]


def test_deep_types_are_shared_compared_and_freed_without_recursion():
    depth = 300_000
    first = Term("f", chain(depth))
    second = Term("g", chain(depth))
    assert first.type == second.type
    assert first.type.uid() == chain(depth).uid()
    other = Term("g", chain(depth - 1))
    assert first.type != other.type
    del first, second, other


def test_edges_built_from_fresh_types_keep_their_own_terms_and_uids():
    n, m = Node(A, {"n": 1}), Node(B)
    edges = [Edge(Term(f"e{i}", Application(A, B)), n, m) for i in range(50)]
    assert [e.term.name for e in edges] == [f"e{i}" for i in range(50)]
    assert len({e.uid() for e in edges}) == 50
    assert all(e.term.type == Application(A, B) and e.start.properties is n.properties for e in edges)


# --- reused Node and Edge objects ------------------------------------------------------------------

class RaisingEquality:
    def __eq__(self, other):
        raise ZeroDivisionError

    __hash__ = None


def small_graph():
    g = Graph()
    nodes = [Node(Variable(f"N{i}"), {"k": i % 3}) for i in range(20)]
    for node in nodes:
        g.nodes[node.uid()] = node
    for i in range(19):
        edge = Edge(Term(f"e{i}", Application(nodes[i].type, nodes[i + 1].type)), nodes[i], nodes[i + 1], {"w": i})
        g.edges[edge.uid()] = edge
    return g


def counts(*objects):
    return [sys.getrefcount(o) for o in objects]


def test_reused_objects_hold_their_own_values_and_references_balance():
    props = {"p": 1}
    before = counts(Node, Edge, props, A)
    for i in range(3000):
        node = Node(Variable(f"N{i}"), props)
        edge = Edge(Term(f"e{i}", Application(A, B)), node, node, props if i % 2 else None)
        assert type(node) is Node and type(edge) is Edge
        assert str(node.type) == f"N{i}" and edge.term.name == f"e{i}"
        assert edge.start.properties is props and (edge.properties is props) is bool(i % 2)
        del node, edge
    assert counts(Node, Edge, props, A) == before


def test_runs_that_fail_leave_the_wrappers_sound():
    g = small_graph()
    stored = {uid: node.properties for uid, node in g.nodes.items()}
    boom = RaisingEquality()
    before = counts(Node, Edge, *stored.values())
    for _ in range(100):
        rows = g.query().match("(a)-[r]->(b)").return_("a", "r", "b")
        with pytest.raises(ZeroDivisionError):
            g.query().match("(a)-[r]->(b)").match(node="a", properties={"k": boom}).return_("a", "r", "b")
        with pytest.raises(ZeroDivisionError):
            g.query().match(node="n", properties={"k": boom}).return_("n")
        assert len(rows) == 19
        for row in rows:
            assert type(row["a"]) is Node and type(row["r"]) is Edge
            assert row["a"].properties is stored[row["a"].uid()]
            assert row["r"].start.uid() == row["a"].uid() and row["r"].end.uid() == row["b"].uid()
        del rows, row
    assert counts(Node, Edge, *stored.values()) == before
