"""The pattern parser's scaling and TypeSchema.matches over many types.

    python benchmarks/bench_parse_and_schema.py

Parsing is linear: a 10,000-node pattern string should take the time of a
1,000-node one times the ratio of their lengths. `TypeSchema.matches` over 100,000 types is shown
against the floor (a bare `list(...)` over the same types) and against the
same text-walking matcher written in plain Python.
"""
from __future__ import annotations

from common import Table, median_time, ratio
from python_equivalents import schema_matches
from velarto import Application, PathPattern, TypeSchema, Variable


def path_text(nodes: int) -> str:
    parts = [f"(n{i}:T{i})" for i in range(nodes)]
    return "-[e]->".join(parts)


def run() -> list[Table]:
    parse = Table("pattern-string parser (median per parse)")
    small, large = path_text(1_000), path_text(10_000)
    t_small = median_time(lambda: PathPattern.parse(small), repeat=9)
    t_large = median_time(lambda: PathPattern.parse(large), repeat=9)
    parse.add(f"1,000 nodes ({len(small):,} characters)", t_small)
    parse.add(f"10,000 nodes ({len(large):,} characters)", t_large,
              f"{ratio(t_large, t_small)} the time for {ratio(len(large), len(small))} the text")

    schemas = Table("TypeSchema.matches over 100,000 types (median per pass)")
    types = [Application(Variable(f"A{i % 100}"), Variable(f"B{i % 7}")) for i in range(100_000)]
    for t in types:
        t.uid()  # as in a graph: the values keep their digests once computed
    floor = median_time(lambda: list(types))
    schemas.add("floor: list(types)", floor)
    for text in ["$A5 -> B3$", "$(x:*) -> B3$", "$* -> *$"]:
        schema = TypeSchema(text)
        native = median_time(lambda: [schema.matches(t) for t in types])
        python = median_time(lambda: [schema_matches(text, t) for t in types], repeat=3)
        schemas.add(f"matches {text}", native,
                    f"{ratio(native, floor)} of the floor; plain Python {ratio(python, native)} slower")
    return [parse, schemas]


if __name__ == "__main__":
    for table in run():
        print(table.render())
