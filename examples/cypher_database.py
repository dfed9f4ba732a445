"""A velarto graph in a Cypher database: export it, run one translated query there.

`Graph.to_cypher("ladybug")` gives the statements that create the graph in an
empty embedded database; `Query.to_cypher(...)` gives one query whose rows over
that database are the rows velarto's own `return_` gives. Needs
`pip install real-ladybug`; without it the example says so and stops.
"""
import sys
import tempfile

from velarto import Application, Edge, Graph, Node, Term, Variable

try:
    import real_ladybug
except ImportError:
    print("real_ladybug is not installed (pip install real-ladybug): nothing to show")
    sys.exit(0)
if not hasattr(Graph, "to_cypher"):
    print("this build of velarto has no Graph.to_cypher yet: nothing to show")
    sys.exit(0)

person, city = Variable("Person"), Variable("City")
graph = Graph()
ann, paris = Node(person, {"name": "Ann", "age": 35}), Node(city, {"name": "Paris"})
for node in (ann, paris):
    graph.nodes[node.uid()] = node
home = Edge(Term("lives_in", Application(person, city)), ann, paris, {"since": 2019})
graph.edges[home.uid()] = home

with tempfile.TemporaryDirectory() as directory:
    connection = real_ladybug.Connection(real_ladybug.Database(f"{directory}/graph"))
    for statement, parameters in graph.to_cypher("ladybug"):
        connection.execute(statement, parameters)

    # Translate before running: a run leaves bindings the translation refuses.
    query = graph.query().match("(p:Person)-[r]->(c)").where("r.since < 2020")
    text, parameters = query.to_cypher("p.name", "c.name", dialect="ladybug")
    result = connection.execute(text, parameters)
    assert not isinstance(result, list)  # one statement, one result
    columns = result.get_column_names()
    rows = []
    while result.has_next():
        rows.append(dict(zip(columns, result.get_next())))

    print(text)
    print(rows)                               # [{'p.name': 'Ann', 'c.name': 'Paris'}]
    print(rows == query.return_("p.name", "c.name"))   # True
