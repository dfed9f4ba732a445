"""A tour of velarto: types, terms, a graph, schemas, patterns and queries.

Run it after installing the package:  pip install . && python examples/tour.py
"""
import velarto
from velarto import (Application, Edge, Graph, Node, PathPattern, Term, TypeSchema,
                     Variable)


def section(title: str) -> None:
    print(f"\n== {title} ==")


section("Types and terms")
person, city, text = Variable("Person"), Variable("City"), Variable("Text")
lives_in_type = Application(person, city)
print("a function type:", lives_in_type, "| repr:", repr(lives_in_type))
print("uid of Person:", person.uid())
name_of = Term("name_of", Application(person, text))
alice_term = Term("alice", person)
print("applying a term:", name_of(alice_term))
try:
    name_of(Term("paris", city))
except TypeError as error:
    print("type checking:", error)

section("A graph keyed by uid")
graph = Graph()
alice = Node(person, {"name": "Alice", "age": 34})
paris = Node(city, {"name": "Paris"})
graph.nodes[alice.uid()] = alice
graph.nodes[paris.uid()] = paris
lives_in = Edge(Term("lives_in", lives_in_type), alice, paris, {"since": 2019})
graph.edges[lives_in.uid()] = lives_in
print(graph, "|", lives_in)

section("Type schemas")
schema = TypeSchema("$(input:*) -> City$")
print(schema, "matches", lives_in_type, "->", schema.matches(lives_in_type))
print("captures:", schema.capture(lives_in_type))
print("$Person$ matches City ->", TypeSchema("$Person$").matches(city))

section("Pattern strings")
path = PathPattern("(p:Person)-[r:$Person -> City$]->(c:City)")
print(path, [repr(n) for n in path.nodes], [e.direction for e in path.edges])
try:
    PathPattern("(a)-e->(b)")
except ValueError as error:
    print("a malformed pattern:", error)

section("Queries")
rows = graph.query().match("(p:Person)-[r]->(c:City)").return_("p", "r", "c")
for row in rows:
    print({name: str(value) for name, value in row.items()})
print("people:", graph.query().match(node="p", type=person).return_count())

section("Building a model with queries")
model = Graph()
company = Variable("Company")
(model.query()
    .create(node="p", type=person, properties={"name": "Bob"})
    .create(node="c", type=company, properties={"name": "Acme"})
    .execute())
works_at = Term("works_at", Application(person, company))
(model.query()
    .match(node="p", type=person)
    .match(node="c", type=company)
    .create(edge="w", start="p", end="c", term=works_at, properties={"role": "engineer"})
    .execute())
model.query().match(node="p", type=person).set("p", {"age": 41}).execute()
merged = model.query().merge(node="x", type=city, properties={"name": "Berlin"})
merged.execute()
print(model)
for row in model.query().match("(p)-[w]->(c)").return_("p", "w", "c"):
    print(row["p"].properties, "-", row["w"].term, "->", row["c"].properties)

section("Multi-hop paths")
located_in = Term("located_in", Application(company, city))
model.query().match(node="c", type=company).match(node="b", type=city) \
    .create(edge="l", start="c", end="b", term=located_in).execute()
for row in model.query().match("(p:Person)-[w]->(c:Company)-[l]->(b:City)").return_("p", "c", "b"):
    print(" -> ".join(str(row[k].type) for k in ("p", "c", "b")))
print("undirected hops from Acme:",
      model.query().match("(c:Company)-[e]-(other)").return_count())

section("Filtering, ordering and paging rows")
staff = Graph()
for name, age in [("Ann", 35), ("Bea", 28), ("Abe", 52), ("Al", 35), ("Ada", 61)]:
    staff.query().create(node="p", type=Variable(name), properties={"name": name, "age": age}).execute()
page = (staff.query().match(node="n")
        .where("n.age > 30 AND n.name STARTS WITH 'A'")
        .order_by("n", "age", ascending=False).order_by("n", "name")
        .skip(1).limit(2)
        .return_("n.name", "n.age"))
print("second page of A-people over 30, oldest first:", page)
print("distinct ages:", staff.query().match(node="n").return_distinct("n.age"))

print("\nvelarto exposes:", ", ".join(velarto.__all__))
