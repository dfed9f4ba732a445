"""Small hand-built graphs for the query tests, and labels for what comes back.

Nodes are named by their type (a `Variable` per node, so one node per type)
and edges by their term's name, so a row reads as {"a": "A", "r": "f"}.
"""
from __future__ import annotations

from velarto import Application, Edge, Graph, Node, Term, Variable


def add_node(graph: Graph, name: str, /, **properties) -> Node:
    """Stores a node of type `name` under its uid and returns the stored object."""
    node = Node(Variable(name), dict(properties))
    graph.nodes[node.uid()] = node
    return node


def add_edge(graph: Graph, name: str, start: Node, end: Node, /, term_type=None, **properties) -> Edge:
    """Stores an edge of term `name` from `start` to `end` (term type start -> end by default)."""
    if term_type is None:
        term_type = Application(start.type, end.type)
    edge = Edge(Term(name, term_type), start, end, dict(properties))
    graph.edges[edge.uid()] = edge
    return edge


def graph_with(*names: str) -> tuple[Graph, dict[str, Node]]:
    graph = Graph()
    return graph, {name: add_node(graph, name) for name in names}


def random_graph(rng, nodes: tuple[int, int], edges: tuple[int, int], properties=None) -> Graph:
    """Nodes N0, N1, ... (how many: a random count in `nodes`) and edges e0,
    e1, ... (a count in `edges`) between random ends: among so few nodes,
    self-loops and parallel edges come up often. `properties(rng)`, when
    given, makes each node's properties dict, stored as it comes (so one dict
    handed out twice is shared by two nodes)."""
    names = [f"N{i}" for i in range(rng.randint(*nodes))]
    if properties is None:
        graph, made = graph_with(*names)
    else:
        graph, made = Graph(), {}
        for name in names:
            made[name] = Node(Variable(name), properties(rng))
            graph.nodes[made[name].uid()] = made[name]
    for k in range(rng.randint(*edges)):
        add_edge(graph, f"e{k}", made[rng.choice(names)], made[rng.choice(names)])
    return graph


def triangle_with_loop(loop: str) -> tuple[Graph, dict[str, Node]]:
    """A -f-> B -g-> C -h-> A, and a self-loop named `loop` on B."""
    graph, nodes = graph_with("A", "B", "C")
    add_edge(graph, "f", nodes["A"], nodes["B"])
    add_edge(graph, "g", nodes["B"], nodes["C"])
    add_edge(graph, "h", nodes["C"], nodes["A"])
    add_edge(graph, loop, nodes["B"], nodes["B"])
    return graph, nodes


def hop_ways(edge: Edge, direction: str) -> list[tuple[str, str]]:
    """(from, to) node names for each way round a hop written `direction` takes the edge."""
    start, end = str(edge.start.type), str(edge.end.type)
    if direction == "forward":
        return [(start, end)]
    if direction == "backward":
        return [(end, start)]
    return [(start, end)] if start == end else [(start, end), (end, start)]


def label(value) -> str:
    if isinstance(value, Node):
        return str(value.type)
    if isinstance(value, Edge):
        return value.term.name
    raise AssertionError(f"not a graph value: {value!r}")


def labels(rows: list[dict]) -> list[dict[str, str]]:
    return [{key: label(value) for key, value in row.items()} for row in rows]


def column(rows: list[dict], name: str) -> list[str]:
    return [label(row[name]) for row in rows if name in row]


def node_types(graph: Graph) -> list[str]:
    return [str(node.type) for node in graph.nodes.values()]


def edge_names(graph: Graph) -> list[str]:
    return [edge.term.name for edge in graph.edges.values()]
