"""Graph.to_cypher: statements that rebuild the graph in a database.

The oracle is the database itself: random graphs are exported, the statements
run in a fresh embedded ladybug database, and every node and edge read back
must equal what the graph holds, with uids, display forms and shapes computed
independently (type_oracle, and the shape rule written out below). The
openCypher statements cannot run there (that engine has no `SET n = row`), so
their rows are checked against the same expectation directly.
"""
from __future__ import annotations

import gc
import random

import pytest

import type_oracle
import velarto

BATCH = 5000
DIALECTS = ["opencypher", "ladybug"]


@pytest.fixture
def database(tmp_path):
    ladybug = pytest.importorskip("real_ladybug")
    count = iter(range(1_000_000))

    def fresh():
        return ladybug.Connection(ladybug.Database(str(tmp_path / f"db{next(count)}")))

    return fresh


def shape(desc) -> list[str]:
    """The layout's shape: pre-order parts, each its path then '->' or '=' and a name."""
    if isinstance(desc, str):
        return [f"={desc}"]
    parts = ["->"]
    parts += ["L" + part for part in shape(desc[0])]
    parts += ["R" + part for part in shape(desc[1])]
    return parts


# Property kinds a column may hold; each yields a value or None.
KINDS = {
    "bool": lambda r: r.choice([True, False]),
    "int": lambda r: r.choice([0, 1, -7, 2**63 - 1, -(2**63), r.randrange(-1000, 1000)]),
    "float": lambda r: r.choice([0.5, -2.25, float("inf"), 1e300, -0.0]),
    "number": lambda r: r.choice([3, 1.5, -2, 2**40]),  # ints and floats in one column
    "text": lambda r: r.choice(["", "x", "é🙂", "a\nb", "'); MATCH (n) DETACH DELETE n //", "`k`", "$rows"]),
    "int list": lambda r: [r.randrange(-5, 5) for _ in range(r.randrange(0, 3))] + r.choice([[], [None]]),
    "float list": lambda r: [r.choice([1.5, 2, -0.25]) for _ in range(r.randrange(0, 3))],
    "text list": lambda r: [r.choice(["a", "", "}]->"]) for _ in range(r.randrange(0, 3))],
    "bool list": lambda r: [r.choice([True, False, None]) for _ in range(r.randrange(0, 3))],
    "nothing": lambda r: None,
    "empty lists": lambda r: r.choice([[], None]),
}


def random_desc(r: random.Random, depth: int = 0):
    if depth > 2 or r.random() < 0.5:
        return r.choice(["A", "B", "Person", "Ünï"])
    return (random_desc(r, depth + 1), random_desc(r, depth + 1))


def random_properties(r: random.Random, keys: dict[str, str]) -> dict:
    props = {}
    for key, kind in keys.items():
        if r.random() < 0.6:
            props[key] = None if r.random() < 0.15 else KINDS[kind](r)
    return props


def random_graph(seed: int, nodes: int, edges: int):
    """A graph and the description of each node's type, by node uid."""
    r = random.Random(seed)
    node_keys = {f"n{i}{' x' if i % 3 == 0 else ''}": kind for i, kind in enumerate(KINDS)}
    edge_keys = {f"e{i}": kind for i, kind in enumerate(r.sample(list(KINDS), 6))}
    graph, descs = velarto.Graph(), {}
    for _ in range(nodes):
        desc = random_desc(r)
        node = velarto.Node(type_oracle.build(desc), random_properties(r, node_keys))
        graph.nodes[node.uid()] = node
        descs[node.uid()] = desc
    ends = list(graph.nodes.values())
    for i in range(edges if ends else 0):
        start = r.choice(ends)
        end = start if r.random() < 0.2 else r.choice(ends)  # self-loops
        desc = random_desc(r)
        name = f"t{i % max(1, edges // 2)}"  # parallel edges: same ends, other terms
        edge = velarto.Edge(velarto.Term(name, type_oracle.build(desc)), start, end, random_properties(r, edge_keys))
        graph.edges[edge.uid()] = edge
        descs[edge.uid()] = desc
    return graph, descs


def expected(graph, descs):
    """What the database must hold: nodes and edges by uid, nulls left out."""
    def props(p):
        return {k: v for k, v in p.items() if v is not None}

    nodes = {
        uid: {"velarto_type": type_oracle.display(descs[uid]), "velarto_shape": shape(descs[uid]), **props(n.properties)}
        for uid, n in graph.nodes.items()
    }
    edges = {}
    for uid, e in graph.edges.items():
        desc = descs[uid]
        assert uid == type_oracle.edge_uid(e.term.name, desc)
        edges[uid] = {
            "velarto_name": e.term.name, "velarto_type": type_oracle.display(desc), "velarto_shape": shape(desc),
            "start": e.start.uid(), "end": e.end.uid(), **props(e.properties),
        }
    return nodes, edges


def load(connection, statements):
    for statement, parameters in statements:
        connection.execute(statement, parameters)
    return connection


def rows(connection, query):
    result = connection.execute(query)
    names = [name.split(".", 1)[-1] for name in result.get_column_names()]
    out = []
    while result.has_next():
        out.append({k: v for k, v in zip(names, result.get_next()) if v is not None})
    return out


def read_back(connection):
    nodes = {row.pop("velarto_uid"): row for row in rows(connection, "MATCH (n:VNode) RETURN n.*")}
    edges = {}
    for row in rows(connection, "MATCH (s:VNode)-[r:VEdge]->(t:VNode) RETURN s.velarto_uid AS start, "
                                "t.velarto_uid AS `end`, r.*"):
        uid = row.pop("velarto_uid")
        assert uid not in edges
        edges[uid] = row
    return nodes, edges


def opencypher_rows(statements):
    """The openCypher pairs read as the database would: nodes and edges by uid."""
    nodes, edges = {}, {}
    for statement, parameters in statements:
        for row in parameters["rows"]:
            if "properties" in row:
                props = {k: v for k, v in row["properties"].items() if v is not None}
                uid = props.pop("velarto_uid")
                edges[uid] = {**props, "start": row["start"], "end": row["end"]}
            else:
                props = {k: v for k, v in row.items() if v is not None}
                nodes[props.pop("velarto_uid")] = props
    return nodes, edges


@pytest.mark.parametrize("seed, node_count, edge_count", [(0, 0, 0), (1, 1, 0), (2, 1, 3), (3, 12, 40), (4, 60, 200)])
def test_random_graphs_round_trip_through_the_database(database, seed, node_count, edge_count):
    graph, descs = random_graph(seed, node_count, edge_count)
    want = expected(graph, descs)
    assert read_back(load(database(), graph.to_cypher("ladybug"))) == want
    assert opencypher_rows(graph.to_cypher()) == want


def test_statements_come_in_batches_with_every_value_a_parameter():
    graph, descs = random_graph(5, 0, 0)
    for i in range(BATCH + 1):
        node = velarto.Node(velarto.Variable(f"V{i}"), {"text": f"') DETACH DELETE n // {i}"})
        graph.nodes[node.uid()] = node
    ends = list(graph.nodes.values())
    for i in range(2 * BATCH + 3):
        edge = velarto.Edge(velarto.Term(f"t{i}", velarto.Variable("E")), ends[i % 7], ends[i % 11], {"k": i})
        graph.edges[edge.uid()] = edge
    for dialect, schema_statements in [("opencypher", 0), ("ladybug", 2)]:
        statements = graph.to_cypher(dialect)
        batches = [len(parameters["rows"]) for _, parameters in statements[schema_statements:]]
        assert batches == [BATCH, 1, BATCH, BATCH, 3]
        assert all(parameters == {} for _, parameters in statements[:schema_statements])
        node_texts = {text for text, _ in statements[schema_statements:schema_statements + 2]}
        edge_texts = {text for text, _ in statements[schema_statements + 2:]}
        assert len(node_texts) == len(edge_texts) == 1
        assert all("DELETE" not in text and "t1" not in text for text, _ in statements)


def test_a_text_that_looks_like_cypher_stays_data(database):
    hostile = "'); MATCH (n) DETACH DELETE n //"
    graph = velarto.Graph()
    a, b = velarto.Node(velarto.Variable(hostile)), velarto.Node(velarto.Variable("B"), {"note": hostile})
    graph.nodes[a.uid()], graph.nodes[b.uid()] = a, b
    edge = velarto.Edge(velarto.Term(hostile, velarto.Variable("}]->(x)")), a, b, {"note": "`) //"})
    graph.edges[edge.uid()] = edge
    nodes, edges = read_back(load(database(), graph.to_cypher("ladybug")))
    assert nodes[a.uid()]["velarto_type"] == hostile and nodes[b.uid()]["note"] == hostile
    assert edges[edge.uid()]["velarto_name"] == hostile and edges[edge.uid()]["note"] == "`) //"


def test_an_edge_whose_end_left_the_node_dict_still_meets_a_node(database):
    a, b = velarto.Node(velarto.Variable("A"), {"p": 1}), velarto.Node(velarto.Variable("B"), {"p": 2})
    graph = velarto.Graph()
    graph.nodes[a.uid()] = a
    edge = velarto.Edge(velarto.Term("f", velarto.Variable("F")), a, b)
    graph.edges[edge.uid()] = edge
    for nodes, edges in (opencypher_rows(graph.to_cypher()), read_back(load(database(), graph.to_cypher("ladybug")))):
        assert nodes[b.uid()] == {"velarto_type": "B", "velarto_shape": ["=B"]}  # no properties of its own
        assert (edges[edge.uid()]["start"], edges[edge.uid()]["end"]) == (a.uid(), b.uid())


def node_graph(*property_maps):
    graph = velarto.Graph()
    for i, props in enumerate(property_maps):
        node = velarto.Node(velarto.Variable(f"N{i}"), props)
        graph.nodes[node.uid()] = node
    return graph


class BigInt(int):
    pass


# (dialects refusing, property maps of successive nodes, error, words the message holds)
REFUSALS = [
    (DIALECTS, [{"s": {1}}], TypeError, ["'s'", "set"]),
    (DIALECTS, [{"d": {"a": 1}}], TypeError, ["'d'", "dict"]),
    (DIALECTS, [{"big": 2**63}], TypeError, ["'big'", "64 bits"]),
    (DIALECTS, [{"big": BigInt(-(2**63) - 1)}], TypeError, ["'big'", "64 bits"]),
    (DIALECTS, [{"nested": [1, [2]]}], TypeError, ["'nested'", "nested list"]),
    (DIALECTS, [{"bytes": [b"x"]}], TypeError, ["'bytes'", "bytes"]),
    (DIALECTS, [{"lone": "\ud800"}], TypeError, ["'lone'", "surrogate"]),
    (DIALECTS, [{1: "x"}], TypeError, ["key of type int"]),
    (DIALECTS, [{"velarto_uid": "x"}], ValueError, ["'velarto_uid'", "velarto_"]),
    (DIALECTS, [{"ok": 1}, {"velarto_": 1}], ValueError, ["'velarto_'"]),
    (["ladybug"], [{"k": 1}, {"k": "one"}], TypeError, ["'k'", "str", "int"]),
    (["ladybug"], [{"k": True}, {"k": 1}], TypeError, ["'k'", "int", "bool"]),
    (["ladybug"], [{"k": [1]}, {"k": 1.5}], TypeError, ["'k'", "float", "list of int"]),
    (["ladybug"], [{"k": []}, {"k": "x"}], TypeError, ["'k'", "str", "list"]),
    (["ladybug"], [{"k": [1, "a"]}], TypeError, ["'k'", "int", "str"]),
    (["ladybug"], [{"": 1}], ValueError, ["''", "empty"]),
    (["ladybug"], [{"a`b": 1}], ValueError, ["'a`b'", "backtick"]),
    (["ladybug"], [{"_ID": 1}], ValueError, ["'_ID'", "keeps"]),
    (["ladybug"], [{"RowId": 1}], ValueError, ["'RowId'", "keeps"]),
    (["ladybug"], [{"Velarto_type": 1}], ValueError, ["'Velarto_type'", "case"]),
    (["ladybug"], [{"name": 1}, {"Name": 2}], ValueError, ["'Name'", "'name'", "case"]),
]


@pytest.mark.parametrize("refusing, maps, error, words", REFUSALS)
def test_refusals_name_the_element_and_the_key(refusing, maps, error, words):
    graph = node_graph(*maps)
    culprit = velarto.Node(velarto.Variable(f"N{len(maps) - 1}")).uid()
    for dialect in DIALECTS:
        if dialect not in refusing:
            assert len(graph.to_cypher(dialect)) >= 1
            continue
        with pytest.raises(error) as raised:
            graph.to_cypher(dialect)
        for word in [culprit, f"N{len(maps) - 1}", *words]:
            assert word in str(raised.value), (dialect, str(raised.value))


def test_edge_refusals_name_the_edge():
    a = velarto.Node(velarto.Variable("A"))
    graph = velarto.Graph()
    graph.nodes[a.uid()] = a
    edge = velarto.Edge(velarto.Term("likes", velarto.Variable("L")), a, a, {"when": object()})
    graph.edges[edge.uid()] = edge
    for dialect in DIALECTS:
        with pytest.raises(TypeError, match=rf"edge {edge.uid()} \(likes\): property 'when'"):
            graph.to_cypher(dialect)


@pytest.mark.parametrize("dialect, error", [("Ladybug", ValueError), ("cypher", ValueError), ("", ValueError),
                                            (None, TypeError)])
def test_an_unknown_dialect_is_refused(dialect, error):
    with pytest.raises(error, match="'opencypher' or 'ladybug'" if error is ValueError else "dialect"):
        velarto.Graph().to_cypher(dialect)


class Meddling(str):
    """A key whose hash and equality empty the dict it sits in."""
    victims: list = []

    def __hash__(self):
        for victim in Meddling.victims:
            victim.clear()
        return str.__hash__(self)

    def __eq__(self, other):
        for victim in Meddling.victims:
            victim.clear()
        return str.__eq__(self, other)


class MeddlingFloat(float):
    def __eq__(self, other):
        for victim in Meddling.victims:
            victim.clear()
        return float.__eq__(self, other)

    __hash__ = float.__hash__


@pytest.mark.parametrize("dialect", DIALECTS)
def test_properties_that_change_their_dict_export_what_was_read(dialect):
    props = {Meddling("m"): MeddlingFloat(2.5), "other": [MeddlingFloat(1.0)], Meddling("q"): "x"}
    graph = node_graph(props)
    Meddling.victims = [props, graph.nodes]
    try:
        statements = graph.to_cypher(dialect)
    finally:
        Meddling.victims = []
    (row,) = statements[-1][1]["rows"]
    assert (row["m"], row["other"], row["q"]) == (2.5, [1.0], "x")
    assert all(type(k) is str for k in row) and type(row["m"]) is float and type(row["other"][0]) is float


@pytest.mark.parametrize("dialect", DIALECTS)
def test_collections_that_empty_the_graph_midway_change_nothing_read(dialect):
    graph, descs = random_graph(9, 40, 120)
    want = expected(graph, descs)
    dicts = [graph.nodes, graph.edges] + [e.properties for e in graph.edges.values()]
    dicts += [n.properties for n in graph.nodes.values()]

    def clear_everything(phase, info):
        for d in dicts:
            d.clear()

    threshold = gc.get_threshold()
    gc.callbacks.append(clear_everything)
    gc.set_threshold(1)
    try:
        statements = graph.to_cypher(dialect)
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(clear_everything)
    if dialect == "opencypher":
        nodes, edges = opencypher_rows(statements)
    else:
        nodes, edges = opencypher_rows(
            [(s, {"rows": [{"start": r.pop("velarto_start"), "end": r.pop("velarto_end"), "properties": r}
                           if "velarto_start" in r else r for r in p["rows"]]}) for s, p in statements[2:]])
    # Everything was read before the first collection could empty it, or the
    # snapshot held on: either way no element is half there.
    assert set(nodes) <= set(want[0]) and set(edges) <= set(want[1])
    for uid, node in nodes.items():
        assert node["velarto_shape"] == want[0][uid]["velarto_shape"]
    for uid, edge in edges.items():
        assert (edge["start"], edge["end"]) == (want[1][uid]["start"], want[1][uid]["end"])
