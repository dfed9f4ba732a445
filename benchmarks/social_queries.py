"""The nine questions of bench_social, asked of each holder of social_graph.

Every holder answers with the same rows (or the same count) as velarto, so
the work compared is the same; bench_social checks the counts before timing.
The point questions (1 to 3) take one person's name, query 4 a list of 100
names. Each function returns {question: callable(argument) -> rows or count}.

Matching keeps edges distinct within a path and lets nodes repeat, so a
friend of a friend may be the person asked about, and "within three hops"
includes the person when a cycle of at most three edges comes back to them.
With no self-loop and no parallel edge, every walk of at most three edges
that a breadth-first search follows is also such a path, so the peers'
searches and velarto's chains reach the same persons.
"""
from __future__ import annotations

from operator import itemgetter

FRIENDS = "(p {name: $name})-[:knows]->(f)"
FRIENDS_OF_FRIENDS = "(p {name: $name})-[:knows]->()-[:knows]->(f)"
WITHIN_THREE = "(p {name: $name})-[:knows*1..3]->(f)"


def velarto_queries(g) -> dict:
    def q(): return g.query()
    return {
        1: lambda name: q().match(FRIENDS).params(name=name).return_("f"),
        2: lambda name: q().match(FRIENDS_OF_FRIENDS).params(name=name).return_count(),
        3: lambda name: q().match(WITHIN_THREE).params(name=name).return_distinct("f"),
        4: lambda names: q().match("(p)-[:knows*1..3]->(f)").where("p.name IN $names").params(names=names)
                            .return_distinct("p", "f"),
        5: lambda _: q().match("(p)-[:knows]->()-[:knows]->(f)").return_count(),
        6: lambda _: q().match("(p)-[:lives_in]->(c)").return_("c.name", "avg(p.age) AS a"),
        7: lambda _: q().match("(p)-[:knows]->(q)").where("p.age > 30 AND p.city = q.city").order_by("p", "name")
                        .return_("p.name", "q.name"),
        8: lambda _: q().match(node="p", properties={"kind": "person"}).where("NOT exists((p)-[:likes]->())")
                        .return_count(),
        9: lambda _: q().match("(a)-[:knows]->(b)-[:knows]->(c)-[:knows]->(a)").return_count(),
    }


def within_three(successors, start: int) -> set:
    """The persons reached from `start` by one to three edges (breadth first,
    each person expanded once, at its shortest distance; `start` itself only
    when a cycle leads back to it)."""
    seen: set = set()
    frontier = [start]
    for _ in range(3):
        reached = []
        for u in frontier:
            for v in successors(u):
                if v not in seen:
                    seen.add(v)
                    reached.append(v)
        frontier = reached
    return seen


def averages(pairs) -> dict:
    """{group: mean} of (group, value) pairs, groups in order of first appearance."""
    totals: dict = {}
    for key, value in pairs:
        entry = totals.get(key)
        if entry is None:
            totals[key] = [value, 1]
        else:
            entry[0] += value
            entry[1] += 1
    return {key: total / count for key, (total, count) in totals.items()}


BY_P_NAME = itemgetter("p.name")


def plain_queries(s) -> dict:
    """social_graph.PlainSocial: lists by id and adjacency lists."""
    out, person, id_of, name = s.out_knows, s.person, s.id_of, s.name

    def successors(u):
        return out[u]

    def within(names):
        rows = []
        for who in names:
            i = id_of[who]
            rows.extend({"p": person[i], "f": person[j]} for j in within_three(successors, i))
        return rows

    def same_city():
        age, city = s.age, s.city_of
        rows = [{"p.name": name[a], "q.name": name[b]}
                for a in range(len(out)) if age[a] > 30 for b in out[a] if city[b] == city[a]]
        rows.sort(key=BY_P_NAME)
        return rows

    def per_city():
        means = averages(zip(s.city_of, s.age))
        return [{"c.name": s.city_names[c], "a": mean} for c, mean in means.items()]

    out_set, in_set = s.out_set, s.in_set
    return {
        1: lambda who: [{"f": person[j]} for j in out[id_of[who]]],
        2: lambda who: sum(len(out[j]) for j in out[id_of[who]]),
        3: lambda who: [{"f": person[j]} for j in within_three(successors, id_of[who])],
        4: within,
        5: lambda _: sum(len(i) * len(o) for i, o in zip(s.in_knows, out)),
        6: lambda _: per_city(),
        7: lambda _: same_city(),
        8: lambda _: sum(1 for tags in s.likes_of if not tags),
        9: lambda _: sum(len(out_set[b] & in_set[a]) for a in range(len(out)) for b in out[a]),
    }


def networkx_queries(nx, knows, other, id_of) -> dict:
    nodes = knows.nodes

    def within(i):
        lengths = nx.single_source_shortest_path_length(knows, i, cutoff=3)
        reached = set(lengths)
        reached.discard(i)
        if any(lengths.get(u, 3) <= 2 for u in knows.predecessors(i)):
            reached.add(i)
        return reached

    def from_many(names):
        rows = []
        for who in names:
            i = id_of[who]
            rows.extend({"p": nodes[i], "f": nodes[j]} for j in within(i))
        return rows

    def per_city():
        means = averages((c, nodes[p]["age"]) for p, c, label in other.edges(data="label") if label == "lives_in")
        return [{"c.name": other.nodes[c]["name"], "a": mean} for c, mean in means.items()]

    def same_city():
        rows = []
        for a, b in knows.edges():
            pa = nodes[a]
            if pa["age"] > 30:
                pb = nodes[b]
                if pa["city"] == pb["city"]:
                    rows.append({"p.name": pa["name"], "q.name": pb["name"]})
        rows.sort(key=BY_P_NAME)
        return rows

    def no_likes():
        adj = other.adj
        return sum(1 for p, kind in other.nodes(data="kind") if kind == "person"
                   and not any(d["label"] == "likes" for d in adj[p].values()))

    succ, pred = knows._succ, knows._pred  # the dicts under knows.succ / knows.pred

    return {
        1: lambda who: [{"f": nodes[j]} for j in knows.successors(id_of[who])],
        2: lambda who: sum(knows.out_degree(j) for j in knows.successors(id_of[who])),
        3: lambda who: [{"f": nodes[j]} for j in within(id_of[who])],
        4: from_many,
        5: lambda _: sum(d * knows.out_degree(n) for n, d in knows.in_degree()),
        6: lambda _: per_city(),
        7: lambda _: same_city(),
        8: lambda _: no_likes(),
        9: lambda _: sum(len(succ[b].keys() & pred[a].keys()) for a, b in knows.edges()),
    }


def rustworkx_queries(knows, other, id_of, persons: int) -> dict:
    def successors(u):
        return knows.successor_indices(u)

    def from_many(names):
        rows = []
        for who in names:
            i = id_of[who]
            rows.extend({"p": knows[i], "f": knows[j]} for j in within_three(successors, i))
        return rows

    def per_city():
        means = averages((c, knows[p]["age"]) for p, c, label in other.weighted_edge_list() if label == "lives_in")
        return [{"c.name": other[c]["name"], "a": mean} for c, mean in means.items()]

    def same_city():
        rows = []
        for a, b in knows.edge_list():
            pa = knows[a]
            if pa["age"] > 30:
                pb = knows[b]
                if pa["city"] == pb["city"]:
                    rows.append({"p.name": pa["name"], "q.name": pb["name"]})
        rows.sort(key=BY_P_NAME)
        return rows

    def triangles():
        indices = knows.node_indices()
        succ = {n: set(knows.successor_indices(n)) for n in indices}
        pred = {n: set(knows.predecessor_indices(n)) for n in indices}
        return sum(len(succ[b] & pred[a]) for a, b in knows.edge_list())

    return {
        1: lambda who: [{"f": knows[j]} for j in knows.successor_indices(id_of[who])],
        2: lambda who: sum(knows.out_degree(j) for j in knows.successor_indices(id_of[who])),
        3: lambda who: [{"f": knows[j]} for j in within_three(successors, id_of[who])],
        4: from_many,
        5: lambda _: sum(knows.in_degree(n) * knows.out_degree(n) for n in knows.node_indices()),
        6: lambda _: per_city(),
        7: lambda _: same_city(),
        8: lambda _: sum(1 for p in range(persons) if not any(w == "likes" for _, _, w in other.out_edges(p))),
        9: lambda _: triangles(),
    }


WITHIN_THREE_SQL = """
WITH start AS ({start}),
hop1 AS (SELECT DISTINCT s.src, k.dst FROM start s JOIN knows k ON k.src = s.src),
hop2 AS (SELECT DISTINCT h.src, k.dst FROM hop1 h JOIN knows k ON k.src = h.dst),
hop3 AS (SELECT DISTINCT h.src, k.dst FROM hop2 h JOIN knows k ON k.src = h.dst),
reached AS (SELECT * FROM hop1 UNION SELECT * FROM hop2 UNION SELECT * FROM hop3)
SELECT {columns} FROM reached r JOIN persons f ON f.id = r.dst {more}
"""

SQL = {
    1: "SELECT f.* FROM persons p JOIN knows k ON k.src = p.id JOIN persons f ON f.id = k.dst WHERE p.name = ?",
    2: "SELECT count(*) FROM persons p JOIN knows k1 ON k1.src = p.id JOIN knows k2 ON k2.src = k1.dst "
       "WHERE p.name = ?",
    3: WITHIN_THREE_SQL.format(start="SELECT id AS src FROM persons WHERE name = ?", columns="f.*", more=""),
    4: WITHIN_THREE_SQL.format(start="SELECT id AS src FROM persons WHERE name IN (SELECT unnest(?::VARCHAR[]))",
                               columns="p.*, f.*", more="JOIN persons p ON p.id = r.src"),
    5: "SELECT count(*) FROM knows a JOIN knows b ON b.src = a.dst",
    6: "SELECT c.name, avg(p.age) AS a FROM lives_in l JOIN persons p ON p.id = l.person "
       "JOIN cities c ON c.id = l.city GROUP BY c.name",
    7: "SELECT p.name, q.name FROM knows k JOIN persons p ON p.id = k.src JOIN persons q ON q.id = k.dst "
       "WHERE p.age > 30 AND p.city = q.city ORDER BY p.name",
    8: "SELECT count(*) FROM persons p WHERE NOT EXISTS (SELECT 1 FROM likes l WHERE l.person = p.id)",
    9: "SELECT count(*) FROM knows a JOIN knows b ON b.src = a.dst JOIN knows c ON c.src = b.dst AND c.dst = a.src",
}
COUNTS = (2, 5, 8, 9)


def duckdb_queries(con) -> dict:
    """Each question in SQL, every row fetched into Python."""
    def ask(number):
        sql = SQL[number]
        takes_argument = "?" in sql
        if number in COUNTS:
            return lambda arg: con.execute(sql, [arg] if takes_argument else None).fetchone()[0]
        return lambda arg: con.execute(sql, [arg] if takes_argument else None).fetchall()
    return {number: ask(number) for number in SQL}
