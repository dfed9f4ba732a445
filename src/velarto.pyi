"""Type stubs for velarto: type-theoretical graph modelling.

Nodes of a graph are types, edges are typed terms; both are keyed by SHA-256
uids in the graph's `nodes` and `edges` dicts. Queries are built fluently and
run on demand: `graph.query().match("(a:A)-[r]->(b:B)").return_("a", "b")`.

These stubs are installed as the stub-only package `velarto-stubs`, which
type checkers find on their own; they also carry the help that editors show.
"""
from typing import Any, Literal, TypeAlias, final, overload

# networkx is optional and ships no types of its own; with its stubs installed the result
# of `to_networkx` is precise, without them it is `Any`.
import networkx  # type: ignore[import-untyped, import-not-found, unused-ignore]

__all__ = ["Variable", "Application", "Term", "Node", "Edge", "Graph", "TypeSchema",
           "NodePattern", "EdgePattern", "PathPattern", "Query"]

_Type: TypeAlias = "Variable | Application"
"""A type: an atomic `Variable` or a function type `Application`."""

_Row: TypeAlias = "dict[str, Any]"
"""One result row: each requested name (or alias) to its value. A variable's
value is the `Node` or `Edge` bound to it (a list of edges for a
variable-length edge pattern); a property (`"n.name"`) or an expression gives
any value. The values are typed `Any` so that rows read without narrowing;
`isinstance(row["n"], Node)` narrows where needed."""

_SchemaLike: TypeAlias = "str | TypeSchema | object | None"
"""A schema argument: a schema text, a `TypeSchema`, or anything else (no schema)."""

_Reduced: TypeAlias = "tuple[Any, tuple[Any, ...]]"

@final
class Variable:
    """Represents an atomic type variable: a named, indivisible type such as
    `Person`. Its display form is its name; its uid is the SHA-256 of
    "var:" + name. Equal names are equal types."""
    name: str
    """The name of this type variable. Reassigning it changes this object only:
    types, terms and nodes built from it earlier keep the old name."""
    def __new__(cls, name: str) -> Variable:
        """Makes the type variable called `name`."""
    def uid(self) -> str:
        """SHA-256 of "var:" + name, as 64 lower-case hex digits."""
    def __eq__(self, value: object, /) -> bool:
        """True for a Variable of the same name."""
    def __ne__(self, value: object, /) -> bool:
        """The negation of `==`."""
    def __hash__(self) -> int:
        """A hash of the name, consistent with `==`."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its name."""

@final
class Application:
    """Represents a function type (application type): `left -> right`, the
    type of functions from `left` to `right`. Displayed as "(A -> B)"; its uid
    is the SHA-256 of "app:" + uid(left) + ":" + uid(right). Types of any
    depth are handled without recursion, pickling included."""
    def __new__(cls, left: _Type, right: _Type) -> Application:
        """Makes the function type `left -> right`."""
    @property
    def left(self) -> _Type:
        """The left (input) type, as a new Python object."""
    @property
    def right(self) -> _Type:
        """The right (output) type, as a new Python object."""
    def uid(self) -> str:
        """SHA-256 of "app:" + uid(left) + ":" + uid(right), as 64 hex digits."""
    def __eq__(self, value: object, /) -> bool:
        """True for an Application with equal left and right types."""
    def __ne__(self, value: object, /) -> bool:
        """The negation of `==`."""
    def __hash__(self) -> int:
        """A hash of the structure, consistent with `==`."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from a flat form, so that a
        type a million levels deep pickles without recursion and shared
        subtrees are stored once."""

@final
class Term:
    """Represents a typed term in the type theory: a named inhabitant of a
    type. Calling a term of type `A -> B` with a term of type `A` yields a term
    of type `B` named "(f x)"; any other call raises TypeError ("Type mismatch:
    ..."). Displayed as "name:type"."""
    name: str
    """The name of this term (can be reassigned)."""
    def __new__(cls, name: str, type: _Type) -> Term:
        """Makes the term `name` of type `type`."""
    @property
    def type(self) -> _Type:
        """The type of this term, as a new Python object."""
    def uid(self) -> str:
        """SHA-256 of "term:" + name + ":" + uid(type), as 64 hex digits."""
    def __call__(self, other: Term) -> Term:
        """Term application: `f(x)` for `f: A -> B` and `x: A` is "(f x)": B;
        TypeError ("Type mismatch: expected A, got ...") otherwise."""
    def __eq__(self, value: object, /) -> bool:
        """True for a Term of the same name and an equal type."""
    def __ne__(self, value: object, /) -> bool:
        """The negation of `==`."""
    def __hash__(self) -> int:
        """A hash of name and type, consistent with `==`."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its name and type."""

@final
class Node:
    """Represents a node in the graph (a type in the model). Its uid depends
    on its type alone, so a graph keyed by uid holds one node per type; storing
    a second node of the same type under its uid replaces the first.
    `properties` is shared by every copy of the node (edges, query results)."""
    properties: dict[Any, Any]
    """The properties dict itself (shared, not copied). Assigning a new dict
    changes this object only; writing into the dict is seen by every holder."""
    def __new__(cls, type: _Type, properties: dict[Any, Any] | None = None) -> Node:
        """Makes a node of `type`; `properties` is kept as is (not copied), None
        makes a new empty dict."""
    @property
    def type(self) -> _Type:
        """The type of this node, as a new Python object."""
    def uid(self) -> str:
        """SHA-256 of "node:" + uid(type), as 64 hex digits."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its type and its
        properties dict (one dict shared by several elements stays shared
        within one pickle)."""

@final
class Edge:
    """Represents an edge in the graph (a typed term in the model), from a
    start node to an end node. Its uid depends on its term alone, so a graph
    keyed by uid holds one edge per term. The edge keeps copies of its end
    nodes' values: their types and their properties dicts themselves."""
    properties: dict[Any, Any]
    """The properties dict itself (shared, not copied); assignable."""
    def __new__(cls, term: Term, start: Node, end: Node, properties: dict[Any, Any] | None = None) -> Edge:
        """Makes an edge of `term` from `start` to `end`; `properties` is kept as
        is, None makes a new empty dict."""
    @property
    def term(self) -> Term:
        """The term of this edge, as a new Python object."""
    @property
    def start(self) -> Node:
        """The start node: a new Node object sharing the stored properties dict."""
    @property
    def end(self) -> Node:
        """The end node: a new Node object sharing the stored properties dict."""
    def uid(self) -> str:
        """SHA-256 of "edge:" + uid(term), as 64 hex digits."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its term, end nodes and
        properties dict, so that in one pickle of a graph its end nodes share
        the properties dicts of the graph's nodes again."""

@final
class Graph:
    """Represents a type theoretical theory model as a graph: two plain dicts,
    `nodes` (node uid to Node) and `edges` (edge uid to Edge). Elements are
    added by assigning into the dicts under their uids, or by queries. Every
    query made from the graph shares these very dicts."""
    def __new__(cls) -> Graph:
        """Makes an empty graph."""
    @property
    def nodes(self) -> dict[str, Node]:
        """Dictionary mapping node UIDs to Node objects (the graph's own dict)."""
    @property
    def edges(self) -> dict[str, Edge]:
        """Dictionary mapping edge UIDs to Edge objects (the graph's own dict)."""
    def query(self) -> Query:
        """A new query builder over this graph's own dicts, with nothing
        queued and nothing bound."""
    def to_networkx(self) -> networkx.MultiDiGraph[str]:
        """Exports this graph to a new `networkx.MultiDiGraph` (networkx is
        imported on call: `pip install 'velarto[networkx]'`; without it,
        ImportError).

        Each node becomes a networkx node keyed by its uid, with a copy of its
        properties plus `node` (a new Node object) as attributes; each edge an
        edge from its start node's uid to its end node's uid, keyed by its uid,
        with a copy of its properties plus `edge` (a new Edge object).
        """
    def to_cypher(self, dialect: Literal["opencypher", "ladybug"] = "opencypher") -> list[tuple[str, dict[str, Any]]]:
        """Exports this graph as `(statement, parameters)` pairs that create
        it in an empty database, run in order: batches of 5,000 rows
        (`UNWIND $rows AS row ...`), nodes (`VNode`) first, then edges
        (`VEdge`). Each element carries `velarto_uid`, `velarto_type`,
        `velarto_shape` (edges `velarto_name` too) and its properties.
        `dialect="ladybug"` first creates the two tables, with column types
        gathered from the data.

        Raises TypeError for a value no database can hold (not a str, an int
        of 64 bits, a float, a bool, None or a list of those; for ladybug also
        a key holding two kinds) and ValueError for a key starting with
        `velarto_` (for ladybug also keys that engine cannot take), naming the
        element and the key; an unknown dialect raises ValueError.
        """
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt around its two dicts.
        `copy.copy` gives a Graph sharing the same dicts; `copy.deepcopy` an
        independent graph."""

@final
class TypeSchema:
    """Represents a regex-like pattern for matching types: `$*$` (any type),
    `$Person$` or `Person` (a variable), `$A -> B$` (arrows associate to the
    right; `*` is a wildcard on either side), `(name:pattern)` (a capture
    group). Malformed patterns match nothing and never raise; a lone `$`
    matches only the variable named `$`."""
    def __new__(cls, pattern: str) -> TypeSchema:
        """Makes a schema from its text, kept exactly as given."""
    @property
    def pattern(self) -> str:
        """The pattern text, exactly as given."""
    def matches(self, type: _Type) -> bool:
        """True when `type` fits this schema."""
    def capture(self, type: _Type) -> dict[str, _Type]:
        """The parts of `type` matched by the named capture groups (name to
        type); empty when the type does not fit."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its text."""

@final
class NodePattern:
    """Represents a node pattern in a Cypher-like query. A node fits when its
    type equals `type` (if given), fits `type_schema` (if given), and its
    properties hold every required property with an equal value."""
    def __new__(cls, variable: str | None = None, type: _Type | None = ...,
                type_schema: _SchemaLike = None,
                properties: dict[str, Any] | None = None) -> NodePattern:
        """Makes a node pattern; `type_schema` takes a text or a TypeSchema."""
    @property
    def variable(self) -> str | None:
        """The variable that matched nodes are bound to, or None."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt through the constructor."""

@final
class EdgePattern:
    """Represents an edge pattern in a Cypher-like query. An edge fits when
    its term equals `term` (if given), its term's type fits `term_type_schema`
    (if given) and its properties hold the required values. `direction` is
    "forward" (the default), "backward" or "any"."""
    def __new__(cls, variable: str | None = None, term: Term | None = None,
                term_type_schema: _SchemaLike = None,
                properties: dict[str, Any] | None = None, direction: str = ...) -> EdgePattern:
        """Makes an edge pattern; `term_type_schema` takes a text or a TypeSchema."""
    @property
    def variable(self) -> str | None:
        """The variable that matched edges are bound to, or None."""
    @property
    def direction(self) -> str:
        """The direction: "forward", "backward" or "any"."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt through the constructor."""

@final
class PathPattern:
    """Represents a path pattern in a Cypher-like query, such as
    `(a:Person)-[r:knows]->(b:Person)`: node patterns and edge patterns in
    order. The text after a colon is a schema text (`:Person` becomes
    `$Person$`); edge labels are matched against the type of the edge's term.
    A `{key: literal, ...}` map after the name and type requires those
    property values (`$name`: the query parameter, read when a query runs
    the pattern; such a pattern does not pickle); a range after an edge's
    variable or type (`*`, `*n`, `*m..n`, `*..n`, `*m..`, `*0..n`) makes the
    edge a chain of hops, none when the minimum is above the maximum.
    Malformed strings raise ValueError ("Invalid pattern '...': ...")."""
    def __new__(cls, pattern: str | None = None) -> PathPattern:
        """Parses `pattern`, or makes an empty path when it is None."""
    @staticmethod
    def parse(pattern: str) -> PathPattern:
        """Parses a pattern string; ValueError when it is malformed."""
    def add_node(self, pattern: NodePattern) -> PathPattern:
        """Appends a copy of `pattern` to this path (changing it) and returns a
        new PathPattern holding the path after the append."""
    def add_edge(self, pattern: EdgePattern) -> PathPattern:
        """Appends a copy of `pattern` to this path (changing it) and returns a
        new PathPattern holding the path after the append."""
    @property
    def nodes(self) -> list[NodePattern]:
        """Copies of the node patterns, in order."""
    @property
    def edges(self) -> list[EdgePattern]:
        """Copies of the edge patterns, in order."""
    def __reduce__(self) -> _Reduced:
        """Pickling and copying support: rebuilt from its node and edge patterns."""

@final
class Query:
    """Cypher-like query builder for the graph.

    Every builder method (all but `return_`, `return_count`,
    `return_distinct`) appends its operation to the query it is called on AND
    returns a new copy: `base.where(A)` followed by `base.where(B)` leaves both
    conditions on `base`. To branch from a shared start, branch from copies:
    `base.match().where(A)` and `base.match().where(B)` (a `match()` without
    arguments queues nothing and returns a copy). Nothing runs until
    `execute`, `return_`, `return_distinct` or `return_count`, each of which
    runs every queued operation again from the first.

    Results are rows paired by position: each variable is bound to a list,
    and row j holds entry j of every bound list that is longer than j (never
    all combinations). Matching: `(a)-[r]->(b)` takes edges from start to end,
    `(a)<-[r]-(b)` the other way, `(a)-[r]-(b)` both; longer paths match chains
    of edges joined at shared nodes, no edge twice, depth-first in dict order.
    Labels are types: `[r:knows]` matches edges whose term's type is `knows`;
    select by term name with `where("name(r) = 'knows'")`. A `{key: value}` map
    filters by properties. A ranged edge (`[r*1..3]`, `[r:KNOWS*]`, `[*0..2]`)
    matches chains of hops, each obeying its direction, type and map, and binds
    `r` to the list of the chain's edges in path order (`[]` for zero hops;
    `size(r)` is its length); each chain comes before its extensions.

    Writing from patterns: `create("(a:Dog {name: 'Rex'})-[likes:Pet]->(c:Cat)")`
    creates nodes whose type is names joined by `->` and edges named by their
    variable (term `Term("likes", Variable("Pet"))`), and reuses a bare `(x)`
    bound earlier; `merge` with a pattern finds each part, creating what is
    missing. Other parts are refused with ValueError when the method is called;
    a reused variable never bound raises NameError when the query runs.

    `where` conditions are a subset of openCypher expressions with
    three-valued logic; `order_by` calls in a row form one stable multi-key
    sort (nulls last ascending); `skip`/`limit` apply at their place in the
    queue; `return_distinct` drops duplicate rows; `return_("n.key")` projects
    a property, and any other item is an expression (aggregates group the
    rows); `params` gives values to `$name`. A Query cannot be pickled;
    pickle its graph.
    """
    def __new__(cls, graph: Graph) -> Query:
        """A new query over `graph`'s own dicts (the same as `graph.query()`)."""
    @overload
    def match(self, pattern: str, *, node: str | None = None, edge: str | None = None, start: object = None,
              end: object = None, type: _Type | None = ..., type_schema: object = None,
              term: Term | None = None, term_type_schema: object = None,
              properties: dict[str, Any] | None = None) -> Query:
        """Path form: the pattern string is parsed now (ValueError when
        malformed); its variables are bound by replacement to aligned lists.
        A node variable written at several places binds one node at all of
        them, and an edge variable written twice matches nothing (except in
        `(a)-[e]->(b)`, one fixed edge, where the later place wins). A map
        value `$name` reads `params` when the query runs. Other arguments are
        ignored. Changes this query and returns a copy."""
    @overload
    def match(self, pattern: None = None, *, node: str, type: _Type | None = ...,
              type_schema: _SchemaLike = None, properties: dict[str, Any] | None = None,
              edge: str | None = None, start: object = None, end: object = None, term: Term | None = None,
              term_type_schema: object = None) -> Query:
        """Node form: binds `node` to the nodes that fit type, schema and
        properties. Changes this query and returns a copy."""
    @overload
    def match(self, pattern: None = None, *, edge: str, start: str | object = None, end: str | object = None,
              term: Term | None = None, term_type_schema: _SchemaLike = None,
              properties: dict[str, Any] | None = None, node: None = None,
              type: _Type | None = ..., type_schema: object = None) -> Query:
        """Edge form: binds `edge` to the edges that fit, and `start` and `end`
        (when str) to their end points. Changes this query and returns a copy."""
    @overload
    def match(self, pattern: None = None, *, node: None = None, edge: None = None, start: object = None,
              end: object = None, type: _Type | None = ..., type_schema: object = None,
              term: Term | None = None, term_type_schema: object = None,
              properties: dict[str, Any] | None = None) -> Query:
        """No form selected: queues nothing and returns a copy (the safe way to
        branch from a shared query)."""
    def where(self, condition: str) -> Query:
        """Adds a WHERE clause: keeps the rows where `condition` (a subset of
        openCypher expressions, parsed now: ValueError "Invalid query: ..."
        when malformed) is true. Changes this query and returns a copy.

        The language: literals, lists and maps (`{k: v}`), `var`, `var.key`,
        `$param` (see `params`), `l[i]`, `l[a..b]`, `x.key` of any value,
        `CASE ... END`, `[x IN l WHERE p | e]`, `all/any/none/single(x IN l
        WHERE p)`, the functions of the README's table (`type name uid size
        range head keys substring toString ...`), `exists(<pattern>)` (true
        when the pattern matches with the row's bound variables fixed, the
        others free), `OR XOR AND NOT`, comparisons, `IS [NOT] NULL IN STARTS
        WITH ENDS WITH CONTAINS =~`, `+ - * / % ^`; three-valued logic; any
        depth of nesting. An unknown function or a wrong number of arguments
        is a ValueError now. Values are
        openCypher's (`7 / 2` is 3, `'a' + 1` is 'a1', `[1] + 2` is [1, 2]);
        a kind an operator refuses raises TypeError with its column, and so
        does a property of an edge list. A variable with no list at all
        raises NameError; aggregates are refused (ValueError).
        """
    def return_(self, *variables: str) -> list[_Row]:
        """Runs every queued operation, then returns the rows: row j maps each
        requested name whose list has an entry j to that Node or Edge;
        `"var.key"` gives the property's value.

        Any other item is an expression of the condition language with an
        optional ` AS alias` (key: the alias, or the text as given), present
        in every row: `return_("p.name", "p.age * 2 AS double")`. Aggregates
        (`count(*)`, `count(x)`, `count(DISTINCT x)`, `sum`, `avg`, `min`,
        `max`, `collect`; nulls skipped) group the rows by the other items
        (nodes and edges by uid), in order of first appearance; with no other
        item there is exactly one row. An item that is neither a name, its
        `name.key`, nor an expression (an unknown function, a wrong number of
        arguments) raises ValueError "Invalid query: ... at column N", before
        anything runs.
        """
    def return_count(self) -> int:
        """Runs every queued operation and returns the number of rows (the
        length of the longest bound list)."""
    def return_distinct(self, *variables: str) -> list[_Row]:
        """As `return_`, with every later duplicate row removed (nodes and
        edges compared by uid)."""
    def to_cypher(self, *items: str, distinct: bool = False,
                  dialect: Literal["opencypher", "ladybug"] = "opencypher") -> tuple[str, dict[str, Any]]:
        """Translates this query, ended as `return_(*items)` would end it
        (`return_distinct` with `distinct=True`; no items: one row `count`),
        into one openCypher query over the graph `Graph.to_cypher` exports:
        `(text, parameters)`. Values travel as parameters, never as text. A
        step with no exact translation (a second match, writes, `skip`/`limit`
        without a sort, `compose`, values a database cannot hold) raises
        ValueError naming the step and why; nothing runs."""
    @overload
    def create(self, pattern: str, *, node: str | None = None, edge: str | None = None,
               type: _Type | None = ..., term: Term | None = None, start: object = None,
               end: object = None, properties: dict[str, Any] | None = None) -> Query:
        """Path form: when the query runs, creates the pattern's concrete nodes
        and edges, reusing bare variables bound earlier. Changes this query and
        returns a copy."""
    @overload
    def create(self, pattern: None = None, *, node: str, type: _Type | None = ...,
               properties: dict[str, Any] | None = None, edge: str | None = None, term: Term | None = None,
               start: object = None, end: object = None) -> Query:
        """Node form: when the query runs, stores a new Node of `type` with
        `properties` under its uid (replacing a node of the same type) and
        binds `node` to it by replacement. Changes this query and returns a copy."""
    @overload
    def create(self, pattern: None = None, *, edge: str, start: str, end: str, term: Term | None = None,
               properties: dict[str, Any] | None = None, node: None = None,
               type: _Type | None = ...) -> Query:
        """Edge form: when the query runs, stores a new Edge of `term` from the
        first node bound to `start` to the first bound to `end`, and binds
        `edge` to it. Changes this query and returns a copy."""
    @overload
    def create(self, pattern: None = None, *, node: None = None, edge: None = None,
               type: _Type | None = ..., term: Term | None = None, start: object = None,
               end: object = None, properties: dict[str, Any] | None = None) -> Query:
        """No form selected: queues nothing and returns a copy."""
    def set(self, variable: str, properties: dict[Any, Any]) -> Query:
        """When the query runs, writes `properties` into the properties dict of
        every element bound to `variable` (the dict given here is read at run
        time). Changes this query and returns a copy."""
    def delete(self, *variables: str, detach: bool = False) -> Query:
        """When the query runs, removes the bound elements from the graph; with
        `detach=True` also every edge of a deleted node. Changes this query and
        returns a copy."""
    @overload
    def merge(self, pattern: str | None = None, *, node: str, type: _Type | None = ...,
              type_schema: _SchemaLike = None, properties: dict[str, Any] | None = None,
              edge: str | None = None, term: Term | None = None, term_type_schema: object = None,
              start: object = None, end: object = None) -> Query:
        """Node form: when the query runs, appends the fitting nodes to `node`'s
        list, or creates one when none fits. Changes this query and returns a copy."""
    @overload
    def merge(self, pattern: str | None = None, *, edge: str, start: str, end: str, term: Term | None = None,
              term_type_schema: _SchemaLike = None,
              properties: dict[str, Any] | None = None, node: None = None,
              type: _Type | None = ..., type_schema: object = None) -> Query:
        """Edge form: when the query runs, appends the fitting edges between the
        bound end points, or creates one. Changes this query and returns a copy."""
    @overload
    def merge(self, pattern: str | None = None, *, node: None = None, edge: None = None,
              type: _Type | None = ..., type_schema: object = None, term: Term | None = None,
              term_type_schema: object = None, start: object = None, end: object = None,
              properties: dict[str, Any] | None = None) -> Query:
        """Neither `node` nor `edge`: the path form, when a pattern is given
        (each part found, or created when missing); otherwise queues nothing.
        Changes this query and returns a copy."""
    def with_(self, *variables: str) -> Query:
        """With names only, keeps only the named variables in the binding
        table (none named: keeps all). With any other item, projects the rows
        as `return_` does (aggregates group them) into the next binding table:
        named variables keep their entries, every other item needs ` AS alias`
        (else ValueError when called) and binds its values, read later as a
        variable; variables not named are dropped. Changes this query and
        returns a copy."""
    def order_by(self, variable: str, key: str, ascending: bool = True) -> Query:
        """Sorts the rows, stably, by property `key` of `variable`'s entry (an
        empty key: by the entry itself, nodes and edges by uid); consecutive
        calls form one sort whose first call is the primary key;
        nulls sort last ascending; a variable with no list at all raises
        NameError. Changes this query and returns a copy."""
    def limit(self, count: int) -> Query:
        """Keeps at most `count` rows, at this place in the queue. Changes this
        query and returns a copy."""
    def skip(self, count: int) -> Query:
        """Drops the first `count` rows, at this place in the queue. Changes
        this query and returns a copy."""
    def execute(self) -> Query:
        """Runs every queued operation and returns a copy of this query taken
        after the run (its bindings included)."""
    def params(self, /, **values: Any) -> Query:
        """Sets parameter values that conditions and result expressions read as `$name`.

        Later calls add to and override earlier ones; like every builder
        method it changes this query and returns a copy, so a copy taken
        before the call does not see the values. Values are used as they are,
        never parsed as text. A `$name` with no value when the query runs
        raises `ValueError` ("Invalid query: parameter $name has no value").
        """
