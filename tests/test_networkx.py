"""Graph.to_networkx(): one networkx node per node and one edge per edge,
keyed by uid, attributes copied; networkx imported only when called."""
from __future__ import annotations

import os
import subprocess
import sys

import pytest

import velarto
from velarto import Application, Edge, Graph, Node, Term, Variable

nx = pytest.importorskip("networkx", reason="networkx is not installed (pip install 'velarto[networkx]')")


def chain_graph():
    """Ann -> Bea -> Cid -> Dan, plus a shortcut Ann -> Dan whose weight is high."""
    g = Graph()
    names = ["Ann", "Bea", "Cid", "Dan"]
    nodes = {name: Node(Variable(name), {"name": name, "node": "shadowed"}) for name in names}
    for node in nodes.values():
        g.nodes[node.uid()] = node
    links = [("Ann", "Bea", 1), ("Bea", "Cid", 1), ("Cid", "Dan", 1), ("Ann", "Dan", 10)]
    for start, end, weight in links:
        term = Term(f"{start}_{end}", Application(Variable(start), Variable(end)))
        e = Edge(term, nodes[start], nodes[end], {"weight": weight})
        g.edges[e.uid()] = e
    return g, nodes


def test_nodes_and_edges_keyed_by_uid_with_copied_attributes():
    g, nodes = chain_graph()
    exported = g.to_networkx()
    assert type(exported) is nx.MultiDiGraph
    assert list(exported.nodes) == list(g.nodes)
    for uid, attrs in exported.nodes(data=True):
        node = attrs["node"]  # replaces the property of that name
        assert isinstance(node, Node) and node.uid() == uid and node is not g.nodes[uid]
        assert attrs == {"name": g.nodes[uid].properties["name"], "node": node}
        assert attrs is not g.nodes[uid].properties
    assert sorted(key for _, _, key in exported.edges(keys=True)) == sorted(g.edges)
    for start, end, key, attrs in exported.edges(keys=True, data=True):
        edge = g.edges[key]
        assert (start, end) == (edge.start.uid(), edge.end.uid())
        assert attrs["edge"].uid() == key and attrs["weight"] == edge.properties["weight"]


def test_changing_the_export_leaves_the_graph_alone():
    g, nodes = chain_graph()
    exported = g.to_networkx()
    ann = nodes["Ann"].uid()
    exported.nodes[ann]["name"] = "changed"
    exported.remove_node(ann)
    assert g.nodes[ann].properties["name"] == "Ann" and len(g.nodes) == 4


def test_exporting_leaves_the_callers_dicts_alone():
    g, nodes = chain_graph()
    # an edge that holds a node's own dict, and a node whose dict has no "node" key
    ann, bea = nodes["Ann"], nodes["Bea"]
    shared = Edge(Term("shared", Application(Variable("Ann"), Variable("Bea"))), ann, bea, ann.properties)
    g.edges[shared.uid()] = shared
    g.nodes[bea.uid()].properties.pop("node")

    def snapshot():
        return {(kind, uid): (element.properties, dict(element.properties))
                for kind, table in (("node", g.nodes), ("edge", g.edges)) for uid, element in table.items()}

    before = snapshot()
    g.to_networkx()
    after = snapshot()
    assert after.keys() == before.keys()
    for key, (held, contents) in before.items():
        now, now_contents = after[key]
        assert now is held, f"{key}: the element holds another properties dict"
        assert now_contents == contents, f"{key}: the export wrote into the caller's properties"


def test_shortest_paths_on_the_export():
    g, nodes = chain_graph()
    exported = g.to_networkx()
    ann, dan = nodes["Ann"].uid(), nodes["Dan"].uid()
    assert nx.shortest_path(exported, ann, dan) == [ann, dan]
    weighted = nx.shortest_path(exported, ann, dan, weight="weight")
    assert [exported.nodes[uid]["node"].properties["name"] for uid in weighted] == ["Ann", "Bea", "Cid", "Dan"]


def test_parallel_edges_and_self_loops_stay_apart():
    g = Graph()
    a = Node(Variable("A"))
    g.nodes[a.uid()] = a
    for name in ("f", "g"):
        e = Edge(Term(name, Application(Variable("A"), Variable("A"))), a, a)
        g.edges[e.uid()] = e
    exported = g.to_networkx()
    assert exported.number_of_edges(a.uid(), a.uid()) == 2


def test_an_end_point_missing_from_the_nodes_becomes_a_bare_node():
    g = Graph()
    a, b = Node(Variable("A")), Node(Variable("B"), {"x": 1})
    g.nodes[a.uid()] = a
    e = Edge(Term("f", Application(Variable("A"), Variable("B"))), a, b)
    g.edges[e.uid()] = e
    exported = g.to_networkx()
    assert exported.nodes[b.uid()] == {} and exported.has_edge(a.uid(), b.uid(), e.uid())


@pytest.mark.parametrize("where", ["nodes", "edges"])
def test_a_value_of_the_wrong_class_is_a_type_error(where):
    g = Graph()
    getattr(g, where)["x"] = "not an element"
    with pytest.raises(TypeError, match="expected (Node|Edge), got str"):
        g.to_networkx()


def test_without_networkx_a_clear_import_error(monkeypatch):
    monkeypatch.setitem(sys.modules, "networkx", None)  # makes `import networkx` fail
    with pytest.raises(ImportError, match=r"pip install 'velarto\[networkx\]'") as caught:
        Graph().to_networkx()
    assert isinstance(caught.value.__cause__, ImportError)


def test_importing_velarto_does_not_import_networkx():
    where = os.path.dirname(velarto.__file__)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [where, os.environ.get("PYTHONPATH")])))
    if os.environ.get("VELARTO_PRELOAD"):  # a sanitized build needs its runtime first
        env["LD_PRELOAD"] = os.environ["VELARTO_PRELOAD"]
    code = ("import sys, velarto; before = 'networkx' in sys.modules; velarto.Graph().to_networkx();"
            "print(before, 'networkx' in sys.modules)")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
    assert done.stdout.split() == ["False", "True"], done.stderr
