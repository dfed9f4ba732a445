// Graph.to_cypher(): the graph as (statement, parameters) pairs that create it
// in an empty database, in batches of `UNWIND $rows AS row ...`.
//
// Every value travels as a parameter, never as text, so no property can
// change a statement. The layout is fixed: nodes are `VNode` with
// `velarto_uid`, `velarto_type`, `velarto_shape` and their properties under
// their own keys, edges `VEdge` with `velarto_name` too.
//
// The export reads a snapshot: the two dicts' values first, then each
// element's properties as a list of items, copied into plain objects
// (cypher_values.hpp). Nothing it reads is borrowed across a step that could
// run Python code (a signal handler, a finalizer run by a collection), and no
// user method is ever called, so a graph changed meanwhile cannot crash it.
// Every refusal is raised before any statement is made.
//
// The "ladybug" dialect writes for a schema-first engine: two CREATE TABLE
// statements whose columns are gathered from the data (cypher_columns.hpp),
// then rows that carry every column. That engine's parameter reader turns a
// null list inside a row into an empty list, so a row leaves out the list
// columns it holds null for, and each batch is split by the columns left out:
// one statement for each such set, in the order the sets first appear.
// Elements whose uid was seen already are skipped (the first wins); an edge
// end missing from the node dict is exported as a node without properties,
// so that every edge finds both its ends.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "args.hpp"
#include "core/type_shape.hpp"
#include "query/cypher_translation.hpp"
#include "cypher_columns.hpp"
#include "cypher_values.hpp"
#include "errors.hpp"
#include "graph.hpp"
#include "interrupts.hpp"

namespace velarto::py {

namespace {

using cypher::Columns;

// Elements a batch: a few megabytes of parameters, and few round trips.
constexpr std::size_t kCypherBatchSize = 5000;

struct DigestKey {
    std::size_t operator()(const core::Digest& digest) const {
        std::size_t value = 0;
        for (int i = 0; i < 8; ++i) value = (value << 8) | digest[i];
        return value;
    }
};

// `velarto_type` and `velarto_shape` of each type met, made once.
class TypeTexts {
public:
    struct Texts {
        Ref display; // str
        Ref shape;   // tuple of str, copied into a new list for each row
    };

    const Texts* of(const core::TypeRef& type) {
        auto found = cache_.find(type.get());
        if (found != cache_.end()) return &found->second.second;
        Texts texts{Ref::steal(to_python_str(core::display(*type))), Ref()};
        std::vector<std::string> parts = core::type_shape(*type);
        texts.shape = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(parts.size())));
        if (!texts.display || !texts.shape) return nullptr;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            PyObject* part = to_python_str(parts[i]);
            if (!part) return nullptr;
            PyTuple_SET_ITEM(texts.shape.get(), static_cast<Py_ssize_t>(i), part);
        }
        return &cache_.emplace(type.get(), std::make_pair(type, std::move(texts))).first->second.second;
    }

private:
    std::unordered_map<const core::TypeNode*, std::pair<core::TypeRef, Texts>> cache_;
};

// A new list for each row: the rows share no mutable object.
PyObject* shape_list(const TypeTexts::Texts& texts) { return PySequence_List(texts.shape.get()); }

bool set_field(PyObject* fields, const char* key, PyObject* value) {
    return value && PyDict_SetItemString(fields, key, value) == 0;
}

bool set_owned_field(PyObject* fields, const char* key, PyObject* value) {
    Ref held = Ref::steal(value);
    return set_field(fields, key, held.get());
}

class CypherExport {
public:
    explicit CypherExport(bool ladybug) : ladybug_(ladybug), node_columns_(ladybug), edge_columns_(ladybug) {}

    bool add_nodes(PyObject* nodes) {
        Ref values = Ref::steal(PyDict_Values(nodes));
        if (!values) return false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
            if (!signals_.tick()) return false;
            const NodeValue* found = node_value(PyList_GET_ITEM(values.get(), i));
            if (!found) return false;
            NodeValue node = *found; // our own references from here on
            if (!add_node(node, true)) return false;
        }
        return true;
    }

    bool add_edges(PyObject* edges) {
        Ref values = Ref::steal(PyDict_Values(edges));
        if (!values) return false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
            if (!signals_.tick()) return false;
            const EdgeValue* found = edge_value(PyList_GET_ITEM(values.get(), i));
            if (!found) return false;
            EdgeValue edge = *found;
            if (!add_edge(edge)) return false;
        }
        return true;
    }

    PyObject* statements() {
        Ref out = Ref::steal(PyList_New(0));
        if (!out) return nullptr;
        if (ladybug_) {
            if (!append(out.get(), node_columns_.node_table_statement(), nullptr)) return nullptr;
            if (!append(out.get(), edge_columns_.edge_table_statement(), nullptr)) return nullptr;
            if (!ladybug_batches(out.get(), node_rows_, node_columns_, false)) return nullptr;
            if (!ladybug_batches(out.get(), edge_rows_, edge_columns_, true)) return nullptr;
            return out.release();
        }
        Ref node_statement = Ref::steal(PyUnicode_FromString("UNWIND $rows AS row CREATE (n:VNode) SET n = row"));
        Ref edge_statement = Ref::steal(PyUnicode_FromString(
            "UNWIND $rows AS row MATCH (s:VNode {velarto_uid: row.start}), (t:VNode {velarto_uid: row.end}) "
            "CREATE (s)-[r:VEdge]->(t) SET r = row.properties"));
        if (!node_statement || !edge_statement) return nullptr;
        if (!plain_batches(out.get(), node_statement.get(), node_rows_, false)) return nullptr;
        if (!plain_batches(out.get(), edge_statement.get(), edge_rows_, true)) return nullptr;
        return out.release();
    }

private:
    struct Row {
        Ref fields; // velarto_* then the properties, plain objects
        Ref start;  // edges: the end points' uids
        Ref end;
    };

    // The uid text of `node`, exporting it first (without properties) when
    // the node dict did not hold it.
    PyObject* end_uid(const NodeValue& node) {
        auto found = node_uids_.find(node.digest());
        if (found == node_uids_.end()) {
            if (!add_node(node, false)) return nullptr;
            found = node_uids_.find(node.digest());
        }
        return found->second.get();
    }

    bool add_node(const NodeValue& node, bool with_properties) {
        if (node_uids_.count(node.digest())) return true;
        Ref uid = Ref::steal(node_uid_to_python(node));
        const TypeTexts::Texts* texts = types_.of(node.type);
        Ref fields = Ref::steal(PyDict_New());
        if (!uid || !texts || !fields) return false;
        if (!set_field(fields.get(), "velarto_uid", uid.get()) ||
            !set_field(fields.get(), "velarto_type", texts->display.get()) ||
            !set_owned_field(fields.get(), "velarto_shape", shape_list(*texts)))
            return false;
        if (with_properties && node.properties) {
            auto name = [&] {
                return "node " + std::string(PyUnicode_AsUTF8(uid.get())) + " (" + core::display(*node.type) + ")";
            };
            if (!node_columns_.add_properties(node.properties.get(), fields.get(), name)) return false;
        }
        node_uids_.emplace(node.digest(), uid);
        node_rows_.push_back(Row{std::move(fields), Ref(), Ref()});
        return true;
    }

    bool add_edge(const EdgeValue& edge) {
        if (!edge_uids_.emplace(edge.digest(), true).second) return true;
        Ref start = Ref::borrow(end_uid(edge.core->start));
        if (!start) return false;
        Ref end = Ref::borrow(end_uid(edge.core->end));
        if (!end) return false;
        Ref uid = Ref::steal(edge_uid_to_python(edge));
        const TypeTexts::Texts* texts = types_.of(edge.core->term.type);
        Ref fields = Ref::steal(PyDict_New());
        if (!uid || !texts || !fields) return false;
        if (!set_field(fields.get(), "velarto_uid", uid.get()) ||
            !set_owned_field(fields.get(), "velarto_name", to_python_str(edge.core->term.name)) ||
            !set_field(fields.get(), "velarto_type", texts->display.get()) ||
            !set_owned_field(fields.get(), "velarto_shape", shape_list(*texts)))
            return false;
        if (edge.properties) {
            auto name = [&] {
                return "edge " + std::string(PyUnicode_AsUTF8(uid.get())) + " (" + edge.core->term.name + ")";
            };
            if (!edge_columns_.add_properties(edge.properties.get(), fields.get(), name)) return false;
        }
        edge_rows_.push_back(Row{std::move(fields), std::move(start), std::move(end)});
        return true;
    }

    static bool append(PyObject* out, PyObject* statement, PyObject* rows) {
        Ref text = Ref::steal(statement);
        Ref parameters = Ref::steal(rows ? Py_BuildValue("{s:O}", "rows", rows) : PyDict_New());
        if (!text || !parameters) return false;
        Ref pair = Ref::steal(PyTuple_Pack(2, text.get(), parameters.get()));
        return pair && PyList_Append(out, pair.get()) == 0;
    }

    // The plain rows: a node's fields, an edge's {start, end, properties}.
    bool plain_batches(PyObject* out, PyObject* statement, const std::vector<Row>& rows, bool edges) {
        for (std::size_t first = 0; first < rows.size(); first += kCypherBatchSize) {
            std::size_t last = std::min(rows.size(), first + kCypherBatchSize);
            Ref batch = Ref::steal(PyList_New(static_cast<Py_ssize_t>(last - first)));
            if (!batch) return false;
            for (std::size_t i = first; i < last; ++i) {
                if (!signals_.tick()) return false;
                const Row& row = rows[i];
                PyObject* item = edges ? Py_BuildValue("{s:O,s:O,s:O}", "start", row.start.get(), "end",
                                                       row.end.get(), "properties", row.fields.get())
                                       : Py_NewRef(row.fields.get());
                if (!item) return false;
                PyList_SET_ITEM(batch.get(), static_cast<Py_ssize_t>(i - first), item);
            }
            if (!append(out, Py_NewRef(statement), batch.get())) return false;
        }
        return true;
    }

    // Rows carrying every column, split by the list columns they leave null.
    bool ladybug_batches(PyObject* out, std::vector<Row>& rows, Columns& columns, bool edges) {
        for (std::size_t first = 0; first < rows.size(); first += kCypherBatchSize) {
            std::size_t last = std::min(rows.size(), first + kCypherBatchSize);
            std::vector<std::pair<std::string, Ref>> groups; // left-out columns -> rows
            for (std::size_t i = first; i < last; ++i) {
                if (!signals_.tick()) return false;
                Row& row = rows[i];
                std::string left_out;
                Ref complete = columns.complete_row(row.fields.get(), left_out);
                if (!complete) return false;
                if (edges && (!set_field(complete.get(), "velarto_start", row.start.get()) ||
                              !set_field(complete.get(), "velarto_end", row.end.get())))
                    return false;
                row.fields = std::move(complete); // the first draft goes now, not at the end
                auto group = groups.begin();
                while (group != groups.end() && group->first != left_out) ++group;
                if (group == groups.end()) {
                    groups.emplace_back(std::move(left_out), Ref::steal(PyList_New(0)));
                    group = groups.end() - 1;
                    if (!group->second) return false;
                }
                if (PyList_Append(group->second.get(), row.fields.get()) < 0) return false;
            }
            for (auto& [left_out, group_rows] : groups) {
                PyObject* statement = edges ? columns.edge_create_statement(left_out) : columns.node_create_statement(left_out);
                if (!append(out, statement, group_rows.get())) return false;
            }
        }
        return true;
    }

    bool ladybug_;
    SignalCheck signals_;
    TypeTexts types_;
    Columns node_columns_;
    Columns edge_columns_;
    std::unordered_map<core::Digest, Ref, DigestKey> node_uids_;
    std::unordered_map<core::Digest, bool, DigestKey> edge_uids_;
    std::vector<Row> node_rows_;
    std::vector<Row> edge_rows_;
};

const Signature kToCypher{"to_cypher", {"dialect"}, 1, 0};

} // namespace

PyObject* graph_to_cypher(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    if (!bind(kToCypher, args, nargs, kwnames, bound)) return nullptr;
    query::Dialect dialect;
    if (!query::dialect_argument(kToCypher, 0, bound[0], dialect)) return nullptr;
    const bool ladybug = dialect == query::Dialect::Ladybug;
    GraphDicts dicts = as<GraphObject>(self)->value; // held across the signal checks
    CypherExport export_(ladybug);
    if (!export_.add_nodes(dicts.nodes.get()) || !export_.add_edges(dicts.edges.get())) return nullptr;
    return export_.statements();
}

} // namespace velarto::py
