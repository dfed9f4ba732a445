"""Types and terms: uid(), hash() and == against plain Python with hashlib.

    python benchmarks/bench_types.py
"""
from __future__ import annotations

import hashlib
import sys

from common import Table, median_time, ratio
from python_equivalents import PyApplication, PyTerm, PyVariable, node_uid, type_uid
from velarto import Application, Node, Term, Variable


def deep(n, make_app, leaf):
    t = leaf
    for _ in range(n):
        t = make_app(t, leaf)
    return t


def run(sizes=(10_000, 100_000)) -> list[Table]:
    tables = []
    single = Table("single calls (median per call)")
    person = Variable("Person")
    n_calls = 200_000
    t_uid = median_time(lambda: [person.uid() for _ in range(n_calls)]) / n_calls
    t_hashlib_bytes = median_time(lambda: [hashlib.sha256(b"var:Person").hexdigest() for _ in range(n_calls)]) / n_calls
    t_hashlib_str = median_time(lambda: [type_uid(person) for _ in range(n_calls)]) / n_calls
    single.add('Variable("Person").uid()', t_uid)
    single.add('hashlib.sha256(b"var:Person").hexdigest()', t_hashlib_bytes, ratio(t_hashlib_bytes, t_uid) + " of velarto")
    single.add("plain-Python uid (encode + hashlib)", t_hashlib_str, ratio(t_hashlib_str, t_uid) + " of velarto")
    app = deep(1000, Application, Variable("A"))
    tup = tuple(range(1000))
    t_app = median_time(lambda: [hash(app) for _ in range(1000)]) / 1000
    t_fresh = median_time(lambda: [hash(Application(app.left, app.right)) for _ in range(100)]) / 100
    t_tup = median_time(lambda: [hash(tup) for _ in range(1000)]) / 1000
    single.add("hash() of a 1000-element tuple", t_tup)
    single.add("hash() of a 1000-deep Application", t_app, f"velarto/tuple = {ratio(t_app, t_tup)} (value keeps its hash)")
    single.add("  the same, first hash of a new value", t_fresh,
               f"velarto/tuple = {ratio(t_fresh, t_tup)} (walks the 1000-deep stream)")
    tables.append(single)

    for n in sizes:
        table = Table(f"{n:,} elements (median per whole pass)")
        types = [Application(Variable(f"A{i}"), Variable(f"B{i % 97}")) for i in range(n)]
        copies = [Application(Variable(f"A{i}"), Variable(f"B{i % 97}")) for i in range(n)]
        py_types = [PyApplication(PyVariable(f"A{i}"), PyVariable(f"B{i % 97}")) for i in range(n)]
        py_copies = [PyApplication(PyVariable(f"A{i}"), PyVariable(f"B{i % 97}")) for i in range(n)]
        nodes = [Node(Variable(f"N{i}")) for i in range(n)]
        terms = [Term(f"t{i}", t) for i, t in enumerate(types)]
        term_copies = [Term(f"t{i}", t) for i, t in enumerate(copies)]
        py_terms = [PyTerm(f"t{i}", t) for i, t in enumerate(py_types)]
        py_term_copies = [PyTerm(f"t{i}", t) for i, t in enumerate(py_copies)]
        variables = [Variable(f"V{i}") for i in range(n)]

        def pair(label, native, python):
            a, b = median_time(native, repeat=5), median_time(python, repeat=5)
            table.add(label, a, f"plain Python {format_ratio(b, a)}")

        pair("Variable.uid()", lambda: [v.uid() for v in variables], lambda: [type_uid(v) for v in variables])
        pair("Application.uid()", lambda: [t.uid() for t in types], lambda: [type_uid(t) for t in types])
        pair("Node.uid()", lambda: [x.uid() for x in nodes], lambda: [node_uid(x) for x in nodes])
        pair("hash(Application)", lambda: [hash(t) for t in types], lambda: [hash(t) for t in py_types])
        pair("hash(Term)", lambda: [hash(t) for t in terms], lambda: [hash(t) for t in py_terms])
        pair("Application ==", lambda: [a == b for a, b in zip(types, copies)],
             lambda: [a == b for a, b in zip(py_types, py_copies)])
        pair("Term ==", lambda: [a == b for a, b in zip(terms, term_copies)],
             lambda: [a == b for a, b in zip(py_terms, py_term_copies)])
        tables.append(table)
    return tables


def format_ratio(python: float, native: float) -> str:
    return f"{python / native:.2f}x slower" if python >= native else f"{native / python:.2f}x faster"


if __name__ == "__main__":
    sizes = tuple(int(a) for a in sys.argv[1:]) or (10_000, 100_000)
    for table in run(sizes):
        print(table.render())
