"""Type stubs for velarto: type-theoretical graph modelling.

Nodes of a graph are types, edges are typed terms; both are keyed by SHA-256
uids in the graph's `nodes` and `edges` dicts. Queries are built fluently and
run on demand: `graph.query().match("(a:A)-[r]->(b:B)").return_("a", "b")`.
"""
from typing import Any, TypeAlias, final, overload


__all__ = ["Variable", "Application", "Term", "Node", "Edge", "Graph", "TypeSchema",
           "NodePattern", "EdgePattern", "PathPattern", "Query"]

_Row: TypeAlias = "dict[str, Any]"  # a Node or Edge per variable; any value for "var.key"

@final
class Variable:
    """Represents an atomic type variable."""
    name: str
    def __new__(cls, name: str) -> Variable: ...
    def uid(self) -> str:
        """SHA-256 of "var:" + name, as 64 lower-case hex digits."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Application:
    """Represents a function type (application type): `left -> right`."""
    def __new__(cls, left: Variable | Application, right: Variable | Application) -> Application: ...
    @property
    def left(self) -> Variable | Application: ...
    @property
    def right(self) -> Variable | Application: ...
    def uid(self) -> str:
        """SHA-256 of "app:" + uid(left) + ":" + uid(right)."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Term:
    """Represents a typed term in the type theory. Calling a term of type
    `A -> B` with a term of type `A` yields a term of type `B` named "(f x)";
    any other call raises TypeError ("Type mismatch: ...")."""
    name: str
    def __new__(cls, name: str, type: Variable | Application) -> Term: ...
    @property
    def type(self) -> Variable | Application: ...
    def uid(self) -> str: ...
    def __call__(self, other: Term) -> Term: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Node:
    """Represents a node in the graph (a type in the model). Its uid depends on
    its type alone; `properties` is shared by every copy of the node."""
    properties: dict[Any, Any]
    def __new__(cls, type: Variable | Application, properties: dict[Any, Any] | None = None) -> Node: ...
    @property
    def type(self) -> Variable | Application: ...
    def uid(self) -> str: ...

@final
class Edge:
    """Represents an edge in the graph (a typed term in the model). Its uid
    depends on its term alone."""
    properties: dict[Any, Any]
    def __new__(cls, term: Term, start: Node, end: Node, properties: dict[Any, Any] | None = None) -> Edge: ...
    @property
    def term(self) -> Term: ...
    @property
    def start(self) -> Node: ...
    @property
    def end(self) -> Node: ...
    def uid(self) -> str: ...

@final
class Graph:
    """Represents a type theoretical theory model as a graph."""
    def __new__(cls) -> Graph: ...
    @property
    def nodes(self) -> dict[str, Node]:
        """Dictionary mapping node UIDs to Node objects (the graph's own dict)."""
    @property
    def edges(self) -> dict[str, Edge]:
        """Dictionary mapping edge UIDs to Edge objects (the graph's own dict)."""
    def query(self) -> Query: ...

@final
class TypeSchema:
    """Represents a regex-like pattern for matching types: `$*$` (any type),
    `$Person$` or `Person` (a variable), `$A -> B$` (arrows associate to the
    right), `(name:pattern)` (a capture group). Malformed patterns match
    nothing and never raise; a lone `$` matches only the variable named `$`."""
    def __new__(cls, pattern: str) -> TypeSchema: ...
    @property
    def pattern(self) -> str: ...
    def matches(self, type: Variable | Application) -> bool: ...
    def capture(self, type: Variable | Application) -> dict[str, Variable | Application]: ...

@final
class NodePattern:
    """Represents a node pattern in a Cypher-like query."""
    def __new__(cls, variable: str | None = None, type: Variable | Application | None = ...,
                type_schema: str | TypeSchema | object | None = None,
                properties: dict[str, Any] | None = None) -> NodePattern: ...
    @property
    def variable(self) -> str | None: ...

@final
class EdgePattern:
    """Represents an edge pattern in a Cypher-like query. `direction` is
    "forward" (the default), "backward" or "any"."""
    def __new__(cls, variable: str | None = None, term: Term | None = None,
                term_type_schema: str | TypeSchema | object | None = None,
                properties: dict[str, Any] | None = None, direction: str = ...) -> EdgePattern: ...
    @property
    def variable(self) -> str | None: ...
    @property
    def direction(self) -> str: ...

@final
class PathPattern:
    """Represents a path pattern in a Cypher-like query, such as
    `(a:Person)-[r:knows]->(b:Person)`; malformed strings raise ValueError."""
    def __new__(cls, pattern: str | None = None) -> PathPattern: ...
    @staticmethod
    def parse(pattern: str) -> PathPattern: ...
    def add_node(self, pattern: NodePattern) -> PathPattern: ...
    def add_edge(self, pattern: EdgePattern) -> PathPattern: ...
    @property
    def nodes(self) -> list[NodePattern]: ...
    @property
    def edges(self) -> list[EdgePattern]: ...

@final
class Query:
    """Cypher-like query builder for the graph.

    Builder methods append one operation to the query they are called on and
    return a new, independent copy; nothing runs until `execute`, `return_`,
    `return_distinct` or `return_count`, each of which runs every queued
    operation again from the first. Results are rows paired by position:
    row j holds entry j of every bound list that is longer than j.

    Matching: `(a)-[r]->(b)` takes edges from start to end, `(a)<-[r]-(b)` the
    other way, `(a)-[r]-(b)` both; longer paths match chains of edges joined at
    shared nodes, no edge twice, depth-first in dict order.
    `where` conditions are a subset of openCypher expressions with
    three-valued logic; `order_by` calls in a row form one stable multi-key
    sort (nulls last ascending); `skip`/`limit` apply at their place in the
    queue; `return_distinct` drops duplicate rows; `return_("n.key")` projects a
    property.
    """
    def __new__(cls, graph: Graph) -> Query: ...
    @overload
    def match(self, pattern: str, *, node: str | None = None, edge: str | None = None, start: object = None,
              end: object = None, type: Variable | Application | None = ..., type_schema: object = None,
              term: Term | None = None, term_type_schema: object = None,
              properties: dict[str, Any] | None = None) -> Query:
        """Path form: the pattern string is parsed now; other arguments are ignored."""
    @overload
    def match(self, pattern: None = None, *, node: str, type: Variable | Application | None = ...,
              type_schema: str | TypeSchema | object | None = None, properties: dict[str, Any] | None = None,
              edge: str | None = None, start: object = None, end: object = None, term: Term | None = None,
              term_type_schema: object = None) -> Query:
        """Node form: binds the nodes that fit type, schema and properties."""
    @overload
    def match(self, pattern: None = None, *, edge: str, start: str | object = None, end: str | object = None,
              term: Term | None = None, term_type_schema: str | TypeSchema | object | None = None,
              properties: dict[str, Any] | None = None, node: None = None,
              type: Variable | Application | None = ..., type_schema: object = None) -> Query:
        """Edge form: the edges, and their start and end nodes when named."""
    @overload
    def match(self, pattern: None = None, *, node: None = None, edge: None = None, start: object = None,
              end: object = None, type: Variable | Application | None = ..., type_schema: object = None,
              term: Term | None = None, term_type_schema: object = None,
              properties: dict[str, Any] | None = None) -> Query:
        """No form selected: queues nothing and returns a copy."""
    def where(self, condition: str) -> Query: ...
    def return_(self, *variables: str) -> list[_Row]: ...
    def return_count(self) -> int: ...
    def return_distinct(self, *variables: str) -> list[_Row]: ...
    @overload
    def create(self, pattern: str, *, node: str | None = None, edge: str | None = None,
               type: Variable | Application | None = ..., term: Term | None = None, start: object = None,
               end: object = None, properties: dict[str, Any] | None = None) -> Query: ...
    @overload
    def create(self, pattern: None = None, *, node: str, type: Variable | Application | None = ...,
               properties: dict[str, Any] | None = None, edge: str | None = None, term: Term | None = None,
               start: object = None, end: object = None) -> Query: ...
    @overload
    def create(self, pattern: None = None, *, edge: str, start: str, end: str, term: Term | None = None,
               properties: dict[str, Any] | None = None, node: None = None,
               type: Variable | Application | None = ...) -> Query: ...
    @overload
    def create(self, pattern: None = None, *, node: None = None, edge: None = None,
               type: Variable | Application | None = ..., term: Term | None = None, start: object = None,
               end: object = None, properties: dict[str, Any] | None = None) -> Query: ...
    def set(self, variable: str, properties: dict[Any, Any]) -> Query: ...
    def delete(self, *variables: str, detach: bool = False) -> Query: ...
    @overload
    def merge(self, pattern: str | None = None, *, node: str, type: Variable | Application | None = ...,
              type_schema: str | TypeSchema | object | None = None, properties: dict[str, Any] | None = None,
              edge: str | None = None, term: Term | None = None, term_type_schema: object = None,
              start: object = None, end: object = None) -> Query: ...
    @overload
    def merge(self, pattern: str | None = None, *, edge: str, start: str, end: str, term: Term | None = None,
              term_type_schema: str | TypeSchema | object | None = None,
              properties: dict[str, Any] | None = None, node: None = None,
              type: Variable | Application | None = ..., type_schema: object = None) -> Query: ...
    @overload
    def merge(self, pattern: str | None = None, *, node: None = None, edge: None = None,
              type: Variable | Application | None = ..., type_schema: object = None, term: Term | None = None,
              term_type_schema: object = None, start: object = None, end: object = None,
              properties: dict[str, Any] | None = None) -> Query: ...
    def with_(self, *variables: str) -> Query: ...
    def order_by(self, variable: str, key: str, ascending: bool = True) -> Query: ...
    def limit(self, count: int) -> Query: ...
    def skip(self, count: int) -> Query: ...
    def execute(self) -> Query: ...
