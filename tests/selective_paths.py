"""Questions asked twice: with a selective node place, and so that the scan
answers them (tests/test_anchored_plans.py).

Random small graphs whose nodes carry names and numbers in dicts that are
shared, replaced after the edges were made, or differ between copies of one
node; random paths; and the answers of one question (rows with the identity
of each value's properties dict, count, a limited prefix, distinct rows, or
the type of the exception raised) made from a query or from the scan's plain
rows and a filter written in Python.
"""
from __future__ import annotations

from small_graphs import add_edge, label, random_graph
from velarto import Application, Edge, Graph, Node, Variable


class Same:
    """Equal to what `value` equals under Python's `==`, and unhashable: a
    map holding it can only be checked node by node."""

    __hash__ = None

    def __init__(self, value):
        self.value = value

    def __eq__(self, other):
        return other == self.value

    def __repr__(self):
        return f"Same({self.value!r})"


def content(value):
    """A row value as compared: a node or edge by its label and the identity
    of the properties dict it carries, an edge list edge by edge."""
    if isinstance(value, (Node, Edge)):
        return label(value), id(value.properties)
    if isinstance(value, list):
        return tuple(content(item) for item in value)
    return value


def contents(rows):
    return [{key: content(value) for key, value in row.items()} for row in rows]


def outcome(run):
    """What a run gives: ("rows", ...) or ("raises", the exception's type)."""
    try:
        return "rows", run()
    except Exception as error:  # noqa: BLE001 - the type is what is compared
        return "raises", type(error)


# --- random graphs and paths ----------------------------------------------------------------------

def random_values(rng) -> dict:
    values = {}
    name = rng.choice(["x", "y", None, "missing"])
    if name != "missing":
        values["name"] = name
    number = rng.choice([1, 1.0, True, 2, "missing"])
    if number != "missing":
        values["n"] = number
    return values


def property_graph(rng) -> Graph:
    """A random graph whose nodes carry names and numbers; some share one
    dict, some were given a new dict (or replaced in graph.nodes) after their
    edges were made, and a few edges were made after that, so copies of one
    node may carry different dicts."""
    made = []

    def properties(rng):
        if made and rng.random() < 0.25:
            return rng.choice(made)
        made.append(random_values(rng))
        return made[-1]

    graph = random_graph(rng, nodes=(1, 5), edges=(0, 8), properties=properties)
    nodes = list(graph.nodes.values())
    if nodes and rng.random() < 0.3:
        function = Node(Application(Variable("N0"), Variable("N1")), properties(rng))
        graph.nodes[function.uid()] = function
        for k in range(rng.randint(1, 2)):
            other = rng.choice(nodes)
            ends = (function, other) if rng.random() < 0.5 else (other, function)
            add_edge(graph, f"x{k}", *ends)
    for node in list(graph.nodes.values()):
        roll = rng.random()
        if roll < 0.15:
            node.properties = random_values(rng)  # the edges keep the old dict
        elif roll < 0.25:
            graph.nodes[node.uid()] = Node(node.type, random_values(rng))
    stored = list(graph.nodes.values())
    for k in range(rng.choice([0, 0, 1, 2])):
        add_edge(graph, f"late{k}", rng.choice(stored), rng.choice(stored))
    return graph


ARROWS = {"->": "-[{}]->", "<-": "<-[{}]-", "-": "-[{}]-"}
RANGES = ["", "", "", "*1..3", "*2", "*0..2", "*0..1"]


class Path:
    def __init__(self, rng):
        hops = rng.choice([0, 1, 1, 2, 2, 3])
        self.places = [rng.choice(["a", "b", "c", None]) for _ in range(hops + 1)]
        self.segments = [(rng.choice(list(ARROWS)), rng.choice(RANGES),
                          rng.choice([f"r{i}"] * 6 + ["r0", None])) for i in range(hops)]

    def text(self, places, extra=None) -> str:
        extra = extra or {}

        def node(i):
            return f"({places[i] or ''}{extra.get(i, '')})"

        return node(0) + "".join(ARROWS[arrow].format((var or "") + written) + node(i + 1)
                                 for i, (arrow, written, var) in enumerate(self.segments))

    def names(self, places) -> list[str]:
        return sorted({p for p in places if p} | {var for _, _, var in self.segments if var})

    def one_edge_repeat(self) -> bool:
        """`(n)-[e]->(n)`: the one shape whose later place wins, joining nothing."""
        return (len(self.segments) == 1 and self.segments[0][1] == ""
                and self.places[0] is not None and self.places[0] == self.places[1])

    def shared_elsewhere(self, place) -> bool:
        return self.places[place] is not None and self.places.count(self.places[place]) > 1


def answers(query, names, limit):
    """Rows, count, a limited prefix and distinct rows of one question; `query()` makes it anew."""
    found = {"count": outcome(lambda: query().return_count())}
    if names:
        found["rows"] = outcome(lambda: contents(query().return_(*names)))
        found["limit"] = outcome(lambda: contents(query().limit(limit).return_(*names)))
        found["distinct"] = outcome(lambda: [{k: label_of(v) for k, v in row.items()}
                                             for row in query().return_distinct(*names)])
    return found


def label_of(value):
    return tuple(label(item) for item in value) if isinstance(value, list) else label(value)


def modelled(plain_rows, keep, names, limit):
    """The answers of `answers` made from the plain rows of the scan and a filter."""
    found = outcome(lambda: [row for row in plain_rows if keep(row)])
    if found[0] == "raises":
        return {key: found for key in (["count", "rows", "limit", "distinct"] if names else ["count"])}
    rows = found[1]
    expected = {"count": ("rows", len(rows))}
    if names:
        projected = [{name: row[name] for name in names} for row in rows]
        expected["rows"] = ("rows", contents(projected))
        expected["limit"] = ("rows", contents(projected[:limit]))
        expected["distinct"] = ("rows", distinct_labels(projected))
    return expected


def distinct_labels(rows):
    seen, kept = set(), []
    for row in rows:
        labelled = {name: label_of(value) for name, value in row.items()}
        key = tuple(sorted(labelled.items()))
        if key not in seen:
            seen.add(key)
            kept.append(labelled)
    return kept


def set_name(node, value):
    node.properties["name"] = value


def names_in(path: str) -> list[str]:
    return sorted(set(path) & set("abcrs"))


def answer(query, names):
    return outcome(lambda: contents(query.return_(*names)))


def map_answer(graph, plain, var, value):
    rows = graph.query().match(plain).return_(*names_in(plain))
    return outcome(lambda: contents([row for row in rows if "name" in row[var].properties
                                     and row[var].properties["name"] == value]))
