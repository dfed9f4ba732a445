"""Random graphs and random queries for checking the Cypher translation against a database.

A graph here is a few dozen nodes whose types are variables, function types
and nested function types (so schemas such as `$A -> *$` pick out several
nodes), joined by edges with self-loops and parallel edges among them. Every
property key keeps one kind across the graph (`age` is always an int or None,
`score` a float, ...): the database stores one column per key with one type,
so a key holding an int on one node and a text on another is an export
question, not a query question, and is left to the export's own tests.

A query is a `Recipe`: a list of builder steps plus what to return. Calling it
on a graph builds the query; `str(recipe)` writes the same chain as Python, so
a failing case can be pasted into a shell. Everything is drawn from one
`random.Random(seed)`, so a seed names a case for good.

The generator keeps away from forms where the database answers differently
from openCypher and no translation can be exact (found by trying them on the
database itself):

- `'a' + 1`, `[1] + 2`: the database has no `+` for a text and a number or a
  list and a scalar; a float's text is `'1.000000'` there, `'1.0'` here.
- `1 = '1'` is true there (the text is cast), false here; `'a' < 1` fails.
  Comparisons here always take two values of one kind.
- `[1, 2] = [null, 2]` and `2 IN [1, null]` are false there, null here.
  IN lists hold no null.
- `toUpper('ß')` differs (one capital there, 'SS' here): texts are ASCII.
- Integer `/` and `%` by zero fail in both but with other errors; `0.0 % 0`
  is nan there. Divisors are non-zero literals.
- 64-bit overflow raises there, Python ints grow here: values stay small.
- `(-8) ^ (1/3)`: nan there, a complex number in Python. Powers take small
  integer exponents.
- ORDER BY a list or a node is refused there: lists are never order keys
  (a node or edge key orders by its uid, which the translation writes).
"""
from __future__ import annotations

import random
from dataclasses import dataclass, field

from velarto import Application, Edge, Graph, Node, Term, Variable

ATOMS = [chr(ord("A") + i) for i in range(12)]          # A .. L
EDGE_TYPES = ["knows", "likes", "owns"]
NAMES = ["Ann", "ann", "Bob", "Cy", "Dee", "Abe", "bo", "Al", "eve", "Zed"]
TAGS = ["red", "blue", "green", "x"]
NODE_KEYS = {"age": "int", "score": "float", "name": "text", "flag": "bool", "tags": "texts", "nums": "ints"}
EDGE_KEYS = {"w": "int", "weight": "float", "note": "text", "flag": "bool"}


def _value(rng: random.Random, kind: str):
    if kind == "int":
        return rng.randint(-5, 20)
    if kind == "float":
        return rng.randint(-12, 40) / 4        # quarters: sums stay exact enough to compare
    if kind == "text":
        return rng.choice(NAMES)
    if kind == "bool":
        return rng.random() < 0.5
    if kind == "texts":
        return rng.sample(TAGS, rng.randint(0, 3))
    return [rng.randint(-3, 9) for _ in range(rng.randint(0, 3))]


def _properties(rng: random.Random, keys: dict[str, str]) -> dict:
    made = {}
    for key, kind in keys.items():
        roll = rng.random()
        if roll < 0.12:
            continue                            # absent: reads null
        made[key] = None if roll < 0.2 else _value(rng, kind)
    return made


def random_graph(seed: int) -> Graph:
    """A few dozen nodes of distinct types and about twice as many edges."""
    rng = random.Random(seed)
    atoms = [Variable(name) for name in ATOMS]
    types = list(atoms)
    pairs = [(a, b) for a in atoms[:6] for b in atoms[:6]]
    for left, right in rng.sample(pairs, 14):
        types.append(Application(left, right))
    for _ in range(6):                          # nested on either side
        inner = Application(rng.choice(atoms[:4]), rng.choice(atoms[:4]))
        outer = rng.choice(atoms[:4])
        types.append(Application(inner, outer) if rng.random() < 0.5 else Application(outer, inner))
    graph = Graph()
    nodes = []
    for node_type in types:
        node = Node(node_type, _properties(rng, NODE_KEYS))
        if node.uid() not in graph.nodes:
            graph.nodes[node.uid()] = node
            nodes.append(node)
    for k in range(rng.randint(2 * len(nodes), 3 * len(nodes))):
        start = rng.choice(nodes)
        end = start if rng.random() < 0.08 else rng.choice(nodes)
        roll = rng.random()
        if roll < 0.5:
            term_type = Variable(rng.choice(EDGE_TYPES))
        elif roll < 0.8:
            term_type = Application(start.type, end.type)
        else:
            term_type = Application(rng.choice(atoms[:3]), rng.choice(atoms[:3]))
        edge = Edge(Term(f"e{k}", term_type), start, end, _properties(rng, EDGE_KEYS))
        graph.edges[edge.uid()] = edge
    for _ in range(4):                          # parallel edges: same ends, other terms
        edge = rng.choice(list(graph.edges.values()))
        twin = Edge(Term(edge.term.name + "p", edge.term.type), edge.start, edge.end, _properties(rng, EDGE_KEYS))
        graph.edges[twin.uid()] = twin
    return graph


@dataclass
class Recipe:
    """One query: builder steps, the items returned and how rows are to be compared."""
    seed: int
    steps: list = field(default_factory=list)      # (method, args, kwargs)
    items: tuple = ()                               # empty: return_count()
    distinct: bool = False
    ordered: tuple = ()                             # result columns the rows must follow in order
    bags: tuple = ()                                # columns holding collect(...) lists

    def __call__(self, graph: Graph):
        query = graph.query()
        for method, args, kwargs in self.steps:
            query = getattr(query, method)(*args, **kwargs)
        return query, self.items, self.distinct

    def __str__(self) -> str:
        text = "graph.query()"
        for method, args, kwargs in self.steps:
            parts = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
            text += f".{method}({', '.join(parts)})"
        if not self.items:
            return text + ".return_count()"
        ending = "return_distinct" if self.distinct else "return_"
        return text + f".{ending}({', '.join(repr(i) for i in self.items)})"


class _Scope:
    """The variables a query has bound so far, by kind, and the parameters it uses."""

    def __init__(self, rng: random.Random):
        self.rng = rng
        self.nodes: list[str] = []
        self.edges: list[str] = []
        self.chains: list[str] = []     # variable-length edges: lists of edges
        self.values: dict[str, str] = {}  # with_ aliases and their kinds
        self.params: dict[str, object] = {}

    def param(self, value) -> str:
        name = f"p{len(self.params)}"
        self.params[name] = value
        return "$" + name

    def element(self) -> tuple[str, dict[str, str]]:
        """A node or an edge variable and the keys it has."""
        pool = [(n, NODE_KEYS) for n in self.nodes] + [(e, EDGE_KEYS) for e in self.edges]
        return self.rng.choice(pool)


# -- expressions ---------------------------------------------------------------------------

def _literal(rng: random.Random, kind: str) -> str:
    value = _value(rng, kind)
    if kind == "float":
        return repr(float(value))
    if kind == "bool":
        return "true" if value else "false"
    if kind == "text":
        return repr(value)
    return repr(value)


def _prop(scope: _Scope, kind: str) -> str | None:
    """`v.key` of the given kind from a bound element, or an alias of that kind."""
    rng = scope.rng
    choices = [f"{v}.{k}" for v in scope.nodes for k, kk in NODE_KEYS.items() if kk == kind]
    choices += [f"{v}.{k}" for v in scope.edges for k, kk in EDGE_KEYS.items() if kk == kind]
    choices += [alias for alias, kk in scope.values.items() if kk == kind]
    return rng.choice(choices) if choices else None


def number(scope: _Scope, kind: str, depth: int = 0) -> str:
    rng = scope.rng
    base = _prop(scope, kind) or _literal(rng, kind)
    roll = rng.random()
    if depth > 1 or roll < 0.4:
        return base
    if roll < 0.55:
        return f"{base} {rng.choice(['+', '-', '*'])} {number(scope, kind, depth + 1)}"
    if roll < 0.65:
        return f"{base} {rng.choice(['/', '%'])} {rng.choice([2, 3, -2, 7]) if kind == 'int' else rng.choice([2.0, -0.5, 4.0])}"
    if roll < 0.7:
        return f"abs({base})"
    if roll < 0.77:
        return f"coalesce({base}, {_literal(rng, kind)})"
    if roll < 0.85 and kind == "int":
        sized = [f"{v}.name" for v in scope.nodes] + [f"{v}.tags" for v in scope.nodes] + scope.chains
        return f"size({rng.choice(sized)})" if sized else base
    if roll < 0.92:
        return f"CASE WHEN {condition(scope, depth + 1)} THEN {base} ELSE {_literal(rng, kind)} END"
    if kind == "float":
        return f"{base} ^ 2"
    return f"-{base}"


def text(scope: _Scope, depth: int = 0) -> str:
    rng = scope.rng
    roll = rng.random()
    if roll < 0.4 or not (scope.nodes or scope.edges):
        return _prop(scope, "text") or _literal(rng, "text")
    if roll < 0.5:
        return f"{rng.choice(['toUpper', 'toLower'])}({_prop(scope, 'text')})"
    if roll < 0.6:
        return f"{_prop(scope, 'text')} + {_literal(rng, 'text')}"
    if roll < 0.7:
        return f"type({rng.choice(scope.nodes + scope.edges)})"
    if roll < 0.78 and scope.edges:
        return f"name({rng.choice(scope.edges)})"
    if roll < 0.85:
        return f"uid({rng.choice(scope.nodes + scope.edges)})"
    if roll < 0.92:
        return f"coalesce({_prop(scope, 'text')}, 'none')"
    return (f"CASE {_prop(scope, 'text')} WHEN {_literal(rng, 'text')} THEN 'hit' "
            f"WHEN {_literal(rng, 'text')} THEN 'near' ELSE 'miss' END")


def _comparison(scope: _Scope, depth: int) -> str:
    rng = scope.rng
    kind = rng.choice(["int", "int", "float", "text"])
    left = text(scope, depth) if kind == "text" else number(scope, kind, depth)
    op = rng.choice(["=", "<>", "<", "<=", ">", ">="])
    if rng.random() < 0.2:
        right = scope.param(_value(rng, kind))
    elif kind == "text":
        right = _literal(rng, "text") if rng.random() < 0.7 else text(scope, depth + 1)
    else:
        right = _literal(rng, kind) if rng.random() < 0.6 else number(scope, kind, depth + 1)
    return f"{left} {op} {right}"


def _exists(scope: _Scope) -> str:
    rng = scope.rng
    anchor = rng.choice(scope.nodes)
    arrow = rng.choice(["-[]->", "<-[]-", "-[]->", "<-[]-", "-[]-"])
    other = rng.choice(["()", "(:A)", "(:$* -> *$)", f"({rng.choice(scope.nodes)})"])
    pattern = f"({anchor}){arrow}{other}"
    if rng.random() < 0.3:
        pattern = f"({anchor}){rng.choice(['-[:knows]->', '-[:$* -> *$]-'])}()"
    return f"{'NOT ' if rng.random() < 0.5 else ''}exists({pattern})"


def condition(scope: _Scope, depth: int = 0) -> str:
    rng = scope.rng
    roll = rng.random()
    if depth < 2 and roll < 0.22:
        op = rng.choice(["AND", "OR", "XOR", "AND", "OR"])
        return f"({condition(scope, depth + 1)}) {op} ({condition(scope, depth + 1)})"
    if depth < 2 and roll < 0.3:
        return f"NOT ({condition(scope, depth + 1)})"
    if roll < 0.55:
        return _comparison(scope, depth)
    if roll < 0.62:
        key = _prop(scope, rng.choice(["int", "text", "float", "bool"]))
        return f"{key} IS {rng.choice(['', 'NOT '])}NULL" if key else _comparison(scope, depth)
    if roll < 0.7:
        kind = rng.choice(["int", "text"])
        key = _prop(scope, kind)
        if key is None:
            return _comparison(scope, depth)
        values = [_literal(rng, kind) for _ in range(rng.randint(0, 3))]
        if rng.random() < 0.3:
            return f"{key} IN {scope.param([_value(rng, kind) for _ in range(3)])}"
        return f"{key} IN [{', '.join(values)}]"
    if roll < 0.78:
        op = rng.choice(["STARTS WITH", "ENDS WITH", "CONTAINS"])
        return f"{text(scope, depth + 1)} {op} {rng.choice(['A', 'a', 'n', 'e', 'Ann', '('])!r}"
    if roll < 0.83:
        key = _prop(scope, "bool")
        return key if key else _comparison(scope, depth)
    if roll < 0.87 and scope.nodes:
        node = rng.choice(scope.nodes)
        return f"{rng.choice(TAGS)!r} IN {node}.tags"
    if roll < 0.92 and len(scope.nodes) >= 2:
        a, b = rng.sample(scope.nodes, 2)
        return f"uid({a}) {rng.choice(['<', '<>', '='])} uid({b})"
    if scope.nodes:
        return _exists(scope)
    return _comparison(scope, depth)


# -- patterns ------------------------------------------------------------------------------

NODE_LABELS = [""] * 30 + [":A", ":B", ":*", ":$A -> *$", ":$* -> B$", ":$* -> *$",
               ":$(cap:*) -> B$", ":$A -> (cap:*)$", ":$C -> (A -> B)$"]
EDGE_LABELS = [""] * 12 + [":knows", ":likes", ":$* -> *$", ":$A -> *$"]
# Not `*0..2`: there the database drops the zero-length path of a start node that a
# two-hop trail returns to, and gives that trail twice instead.
RANGES = ["*1..3", "*0..1", "*2", "*..2", "*1..2", "*0..0"]


def _node_map(scope: _Scope) -> str:
    rng = scope.rng
    roll = rng.random()
    if roll < 0.93:
        return ""
    if roll < 0.94:
        return f" {{age: {rng.randint(-5, 20)}}}"
    if roll < 0.97:
        return f" {{name: {scope.param(rng.choice(NAMES))}}}"
    return f" {{flag: {rng.choice(['true', 'false'])}}}"


def _pattern(scope: _Scope) -> str:
    rng = scope.rng
    hops = rng.choice([0, 1, 1, 1, 2, 2, 3])
    node_names = ["a", "b", "c", "d"][: hops + 1]
    if hops >= 2 and rng.random() < 0.3:
        node_names[-1] = "a"                      # a cycle back to the start
    chain_at = rng.randrange(hops) if hops and hops <= 2 and rng.random() < 0.35 else -1
    text = ""
    for i, name in enumerate(node_names):
        label = rng.choice(NODE_LABELS) if name not in scope.nodes else ""
        text += f"({name}{label}{_node_map(scope) if name not in scope.nodes else ''})"
        if name not in scope.nodes:
            scope.nodes.append(name)
        if i < hops:
            var = ["r", "s", "t"][i]
            # Either-way edges sparingly: the database's dialect refuses them (it gives a
            # self-loop twice), so each costs a compared query there.
            direction = rng.choices(range(3), [5, 4, 1])[0]
            # The pattern parser refuses an arrow inside the label of a `<-` edge
            # (`<-[r:$A -> *$]-`), so backward edges take labels without one.
            labels = EDGE_LABELS if direction != 1 else [lab for lab in EDGE_LABELS if "->" not in lab]
            label = rng.choice(labels)
            edge_map = f" {{w: {rng.randint(-5, 20)}}}" if rng.random() < 0.08 else ""
            body = f"{var}{label}{RANGES[rng.randrange(len(RANGES))] if i == chain_at else ''}{edge_map}"
            (scope.chains if i == chain_at else scope.edges).append(var)
            text += [f"-[{body}]->", f"<-[{body}]-", f"-[{body}]-"][direction]
    return text


# -- whole queries -------------------------------------------------------------------------

def _aggregate(scope: _Scope, alias: str) -> tuple[str, bool]:
    """An aggregate item and whether it is a collect (compared as a multiset)."""
    rng = scope.rng
    roll = rng.random()
    if roll < 0.25:
        return f"count(*) AS {alias}", False
    if roll < 0.4:
        return f"count({rng.choice(['', 'DISTINCT '])}{_prop(scope, rng.choice(['int', 'text']))}) AS {alias}", False
    if roll < 0.5 and scope.nodes:
        return f"count(DISTINCT {rng.choice(scope.nodes)}) AS {alias}", False
    if roll < 0.65:
        return f"{rng.choice(['sum', 'avg'])}({number(scope, rng.choice(['int', 'float']), 2)}) AS {alias}", False
    if roll < 0.8:
        kind = rng.choice(["int", "float", "text"])
        return f"{rng.choice(['min', 'max'])}({_prop(scope, kind)}) AS {alias}", False
    kind = rng.choice(["int", "text"])
    return f"collect({rng.choice(['', 'DISTINCT '])}{_prop(scope, kind)}) AS {alias}", True


def make_recipe(seed: int) -> Recipe:
    rng = random.Random(seed)
    scope = _Scope(rng)
    recipe = Recipe(seed)
    steps = recipe.steps
    if rng.random() < 0.1:
        kwargs = {"node": "n"}
        if rng.random() < 0.5:
            kwargs["properties"] = {"flag": rng.random() < 0.5}
        steps.append(("match", (), kwargs))
        scope.nodes.append("n")
    else:
        steps.append(("match", (_pattern(scope),), {}))
    for _ in range(rng.choice([0, 0, 1, 1, 2])):
        steps.append(("where", (condition(scope),), {}))

    grouped = False
    if rng.random() < 0.2:
        kept = rng.sample(scope.nodes, rng.randint(1, len(scope.nodes)))
        if rng.random() < 0.5:
            steps.append(("with_", tuple(kept), {}))
            scope.edges, scope.chains = [], []
        else:
            grouped = rng.random() < 0.6
            if grouped:
                item, _ = _aggregate(scope, "k")
                kind = "int" if item.startswith("count") else None
            else:
                kind = rng.choice(["int", "text"])
                item = f"{number(scope, 'int') if kind == 'int' else text(scope)} AS k"
            steps.append(("with_", (*kept, item), {}))
            scope.edges, scope.chains, scope.nodes = [], [], kept
            if kind:
                scope.values["k"] = kind
            if rng.random() < 0.4 and kind:
                steps.append(("where", (condition(scope),), {}))
        scope.nodes = kept

    # what to return
    items: list[str] = []
    bags: list[str] = []
    aggregating = False
    roll = rng.random()
    if roll < 0.08:
        pass                                        # return_count()
    elif roll < 0.3:
        keys = rng.sample(scope.nodes + scope.edges, rng.randint(1, min(2, len(scope.nodes + scope.edges))))
        items = [rng.choice([k, f"{k}.{rng.choice(list(NODE_KEYS if k in scope.nodes else EDGE_KEYS))}"]) for k in keys]
        for n, _ in enumerate(range(rng.randint(1, 2))):
            item, bag = _aggregate(scope, f"g{n}")
            items.append(item)
            if bag:
                bags.append(f"g{n}")
        # A grouped return holding collect() beside a DISTINCT aggregate corrupts the
        # database's heap (the next query crashes it): no DISTINCT beside a collect.
        if bags:
            items = [item.replace("(DISTINCT ", "(") for item in items]
        aggregating = True
    else:
        pool = scope.nodes + scope.edges + scope.chains + list(scope.values)
        items = rng.sample(pool, rng.randint(1, min(3, len(pool))))
        for n in range(rng.randint(0, 2)):
            var, keys = scope.element()
            if rng.random() < 0.5:
                items.append(f"{var}.{rng.choice(list(keys))}")
            else:
                kind = rng.choice(["int", "float", "text", "bool"])
                body = (text(scope) if kind == "text" else condition(scope) if kind == "bool"
                        else number(scope, kind))
                items.append(f"{body} AS x{n}")
    items = list(dict.fromkeys(items))

    # ordering: only where the engine's rows can follow it (not before an aggregating return)
    ordered: list[str] = []
    if items and not aggregating and rng.random() < 0.4:
        paging = rng.random() < 0.5 and not scope.chains
        keys = []
        for _ in range(rng.randint(1, 2)):
            var, props = scope.element() if (scope.nodes or scope.edges) else (None, {})
            if var is None:
                break
            key = rng.choice([k for k, kind in props.items() if kind in ("int", "float", "text", "bool")])
            keys.append((var, key))
        if "k" in scope.values and rng.random() < 0.5:
            keys.insert(0, ("k", ""))
        if paging:                                   # a total order, so a page is one set of rows
            keys += [(v, "") for v in scope.edges + scope.nodes]
        for var, key in dict.fromkeys(keys):
            steps.append(("order_by", (var, key) if rng.random() < 0.6 else (var, key, False), {}))
            column = f"{var}.{key}" if key else var
            if column not in items:
                items.append(column)
            ordered.append(column)
        if paging:
            if rng.random() < 0.5:
                steps.append(("skip", (rng.randint(0, 5),), {}))
            steps.append(("limit", (rng.randint(1, 12),), {}))
    if scope.params:
        steps.append(("params", (), dict(scope.params)))
    recipe.items = tuple(items)
    recipe.distinct = bool(items) and not aggregating and rng.random() < 0.2
    # DISTINCT rows come in the database's order: the translation claims the sort's order
    # only for rows it returns as they are
    recipe.ordered = () if recipe.distinct else tuple(ordered)
    recipe.bags = tuple(bags)
    return recipe
