"""The social graph of bench_social: its records, and the same data in each holder.

One seeded generator (`random.Random(7)`) makes plain records; every holder is
built from them, so that each one answers the same questions about the same
people. Persons know about seven others on average, with a heavy tail both
ways: how many a person knows is drawn from a Pareto law (a few know
hundreds), and whom is chosen preferentially (half of the time the end of a
random earlier `knows` edge, else anyone), so a few persons are known by
thousands. No self-loop and no parallel edge: networkx's DiGraph keeps one
edge per pair, and every holder must count the same paths.

Holders:
- velarto: one node per person, city, company and tag (an individual is a
  type of its own), one edge per record, each with a term of its own;
- plain Python: what a good programmer would keep for these questions (a dict
  name -> id, lists by id, adjacency lists and sets);
- networkx and rustworkx: the `knows` relation as one directed graph over the
  persons (payloads name, age, city), the other relations as a second graph
  with a `label` on each edge, so that traversals of `knows` need no filter;
- duckdb: tables persons, cities, knows, lives_in, works_at, likes.
Each holder also gets the dict name -> id where its library has no index by
property (networkx, rustworkx); duckdb has an index on persons(name).
"""
from __future__ import annotations

import random
from dataclasses import dataclass, field

from velarto import Edge, Graph, Node, Term, Variable

TAGS = 30


@dataclass
class Records:
    persons: list = field(default_factory=list)   # (i, age, city index)
    cities: int = 0
    companies: int = 0
    tags: int = TAGS
    knows: list = field(default_factory=list)     # (src, dst)
    lives_in: list = field(default_factory=list)  # (person, city)
    works_at: list = field(default_factory=list)  # (person, company)
    likes: list = field(default_factory=list)     # (person, tag)

    @property
    def edge_count(self) -> int:
        return len(self.knows) + len(self.lives_in) + len(self.works_at) + len(self.likes)


def records(persons: int, seed: int = 7) -> Records:
    rng = random.Random(seed)
    rec = Records(cities=max(5, persons // 2000), companies=persons // 5000 + 10)
    for i in range(persons):
        rec.persons.append((i, 18 + rng.randrange(60), rng.randrange(rec.cities)))
    cap = max(10, persons // 20)
    targets: list[int] = []  # the end of every knows edge so far: picking one is picking by in-degree
    for i in range(persons):
        want = min(int(rng.paretovariate(2.0) * 3.75), cap)
        chosen: set[int] = set()
        while len(chosen) < want:
            j = targets[rng.randrange(len(targets))] if targets and rng.random() < 0.5 else rng.randrange(persons)
            if j != i:
                chosen.add(j)
        for j in chosen:
            rec.knows.append((i, j))
            targets.append(j)
    for i, _, city in rec.persons:
        rec.lives_in.append((i, city))
        rec.works_at.append((i, rng.randrange(rec.companies)))
        for tag in rng.sample(range(rec.tags), rng.randrange(4)):
            rec.likes.append((i, tag))
    return rec


def person_name(i: int) -> str:
    return f"p{i}"


def city_name(j: int) -> str:
    return f"c{j}"


# --- velarto ---------------------------------------------------------------------------------

def build_velarto(rec: Records) -> Graph:
    graph = Graph()
    nodes, edges = graph.nodes, graph.edges

    def add_node(type_name: str, properties: dict) -> Node:
        node = Node(Variable(type_name), properties)
        nodes[node.uid()] = node
        return node

    people = [add_node(f"P{i}", {"kind": "person", "name": person_name(i), "age": age, "city": city_name(city)})
              for i, age, city in rec.persons]
    cities = [add_node(f"City{j}", {"kind": "city", "name": city_name(j)}) for j in range(rec.cities)]
    companies = [add_node(f"Co{j}", {"kind": "company", "name": f"co{j}"}) for j in range(rec.companies)]
    tags = [add_node(f"Tag{j}", {"kind": "tag", "name": f"t{j}"}) for j in range(rec.tags)]
    n = 0
    for prefix, relation, pairs, ends in (("k", "knows", rec.knows, people), ("l", "lives_in", rec.lives_in, cities),
                                          ("w", "works_at", rec.works_at, companies),
                                          ("t", "likes", rec.likes, tags)):
        relation_type = Variable(relation)
        for i, j in pairs:
            edge = Edge(Term(f"{prefix}{n}", relation_type), people[i], ends[j])
            edges[edge.uid()] = edge
            n += 1
    return graph


# --- plain Python ----------------------------------------------------------------------------

class PlainSocial:
    """Lists by person id, a dict name -> id, adjacency lists both ways and, for
    the triangles, adjacency sets."""

    def __init__(self, rec: Records):
        count = len(rec.persons)
        self.name = [person_name(i) for i in range(count)]
        self.id_of = {name: i for i, name in enumerate(self.name)}
        self.age = [age for _, age, _ in rec.persons]
        self.city_of = [city for _, _, city in rec.persons]
        self.city_names = [city_name(j) for j in range(rec.cities)]
        self.person = [{"kind": "person", "name": self.name[i], "age": age, "city": city_name(city)}
                       for i, age, city in rec.persons]
        self.out_knows: list[list[int]] = [[] for _ in range(count)]
        self.in_knows: list[list[int]] = [[] for _ in range(count)]
        for i, j in rec.knows:
            self.out_knows[i].append(j)
            self.in_knows[j].append(i)
        self.out_set = [set(f) for f in self.out_knows]
        self.in_set = [set(f) for f in self.in_knows]
        self.likes_of: list[list[int]] = [[] for _ in range(count)]
        for i, tag in rec.likes:
            self.likes_of[i].append(tag)


# --- networkx, rustworkx, duckdb -------------------------------------------------------------

def networkx_graphs(nx, rec: Records):
    """(knows graph over the persons, graph of the other relations)."""
    knows = nx.DiGraph()
    for i, age, city in rec.persons:
        knows.add_node(i, name=person_name(i), age=age, city=city_name(city))
    knows.add_edges_from(rec.knows)
    other = nx.DiGraph()
    other.add_nodes_from(range(len(rec.persons)), kind="person")
    other.add_nodes_from((("city", j) for j in range(rec.cities)), kind="city")
    for j in range(rec.cities):
        other.nodes[("city", j)]["name"] = city_name(j)
    other.add_edges_from(((i, ("city", j)) for i, j in rec.lives_in), label="lives_in")
    other.add_edges_from(((i, ("company", j)) for i, j in rec.works_at), label="works_at")
    other.add_edges_from(((i, ("tag", j)) for i, j in rec.likes), label="likes")
    return knows, other


def rustworkx_graphs(rx, rec: Records):
    """(knows graph, other graph, index of the first city node in the other graph);
    node index i is person i in both."""
    knows = rx.PyDiGraph(multigraph=False)
    knows.add_nodes_from([{"name": person_name(i), "age": age, "city": city_name(city)}
                          for i, age, city in rec.persons])
    knows.add_edges_from_no_data(rec.knows)
    other = rx.PyDiGraph(multigraph=False)
    count = len(rec.persons)
    other.add_nodes_from([{"kind": "person"}] * count)
    first_city = count
    other.add_nodes_from([{"kind": "city", "name": city_name(j)} for j in range(rec.cities)])
    first_company = count + rec.cities
    other.add_nodes_from([{"kind": "company"}] * rec.companies)
    first_tag = first_company + rec.companies
    other.add_nodes_from([{"kind": "tag"}] * rec.tags)
    other.add_edges_from([(i, first_city + j, "lives_in") for i, j in rec.lives_in])
    other.add_edges_from([(i, first_company + j, "works_at") for i, j in rec.works_at])
    other.add_edges_from([(i, first_tag + j, "likes") for i, j in rec.likes])
    return knows, other, first_city


def duckdb_connection(duckdb, pandas, rec: Records):
    """An in-memory database; tables loaded from pandas frames."""
    con = duckdb.connect(":memory:")
    frames = {
        "persons_df": pandas.DataFrame({"id": [i for i, _, _ in rec.persons],
                                        "name": [person_name(i) for i, _, _ in rec.persons],
                                        "age": [age for _, age, _ in rec.persons],
                                        "city": [city_name(c) for _, _, c in rec.persons]}),
        "cities_df": pandas.DataFrame({"id": range(rec.cities), "name": [city_name(j) for j in range(rec.cities)]}),
        "knows_df": pandas.DataFrame(rec.knows, columns=["src", "dst"]),
        "lives_in_df": pandas.DataFrame(rec.lives_in, columns=["person", "city"]),
        "works_at_df": pandas.DataFrame(rec.works_at, columns=["person", "company"]),
        "likes_df": pandas.DataFrame(rec.likes, columns=["person", "tag"]),
    }
    for view, frame in frames.items():
        con.register(view, frame)
        con.execute(f"CREATE TABLE {view[:-3]} AS SELECT * FROM {view}")
        con.unregister(view)
    con.execute("CREATE UNIQUE INDEX persons_name ON persons(name)")
    return con
