// The list of values bound to one variable.
//
// Most lists hold their values. The lists that a chain match binds share one
// table of the chains instead: per row, one 32-bit step per hop (which edge,
// which way round), and each edge's value once. A row's nodes are the ends of
// its steps. Values are made only when read: a count needs the length only, a
// projection makes each row's objects straight from the table, and `skip` and
// `limit` narrow the rows read. Any other reader (conditions, ordering,
// writes) asks for the values, which are then made once, in place, and the
// list behaves as a plain one from there on.
//
// The table holds copies of the edge values taken when the chains were found,
// so a list reads the same whenever it is read, as a list made at once would.
//
// Stores and tables are read in place by runs and by row objects: they are
// freed, and their steps renumbered, only while no run is on the stack; what
// they let go of in the middle of a run waits for its end (reading_runs.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "graph_elements.hpp"

namespace velarto::py::query {

struct EdgeListValue {
    std::vector<EdgeValue> edges;
};

// A value that a computed `with_` item bound: any Python object, None for
// null. It has no uid; the evaluator reads it as the object itself.
struct PlainValue {
    Ref object;
};

using QueryResult = std::variant<NodeValue, EdgeValue, EdgeListValue, PlainValue>;

// The edge values that a chain table's rows use. Objects made for the rows
// keep these alive (through `keeper`), not the table: a row kept from a big
// result holds the edges it may read, never the steps of every row.
struct EdgeValueStore {
    std::vector<EdgeValue> values;
    ValueKeeper* keeper = nullptr; // while objects read from it
};

// The nodes a node match found, in order: lists read them in place, and so do
// the objects made for rows (kept alive through `keeper`).
//
// A match over the node dict holds the dict's objects (`objects`) until first
// read, instead of copies of their values: a count reads only how many there
// are. An assignment of a Node's `properties` anywhere first makes every such
// store copy its values (`take_pending_node_values`), so what is read later is
// what the match saw.
struct NodeValueStore {
    std::vector<NodeValue> values;
    std::vector<Ref> objects;      // until the values are copied
    ValueKeeper* keeper = nullptr; // while objects read from it

    NodeValueStore() = default;
    NodeValueStore(const NodeValueStore&) = delete;
    NodeValueStore& operator=(const NodeValueStore&) = delete;
    ~NodeValueStore();

    std::size_t size() const { return objects.empty() ? values.size() : objects.size(); }
    const NodeValue& value(std::size_t i) {
        copy_values();
        return values[i];
    }
    // Node i, read in place (valid until the store changes): a reader of a
    // few nodes, or of one key of each, copies no values.
    const NodeValue& peek(std::size_t i) const;
    PyObject* properties(std::size_t i) const { return peek(i).properties.get(); }
    void hold_objects(std::vector<Ref> held);
    void copy_values(); // runs no Python code
};

// The chains of one match with fixed hops: row-major steps, `hops` per row.
// A table may be counted before it is listed (`pending` lists it, over its
// values as they were when counted); readers call `list_rows` first.
//
// Until first read, a table holds the edge dict's objects (`edge_objects`,
// and its steps name edges by their position there) instead of copies of
// their values: an edge's parts never change, and an assignment of an Edge's
// `properties` anywhere first makes every such table copy its values
// (`take_pending_edge_values`), so what is read later is what the match saw.
// A count reads nothing, so it copies nothing.
struct ChainTable {
    ChainTable() = default;
    ChainTable(const ChainTable&) = delete;
    ChainTable& operator=(const ChainTable&) = delete;
    ~ChainTable();

    // Each used edge once; or, copied in the middle of a run, by position (the
    // unused ones empty).
    std::shared_ptr<EdgeValueStore> store = std::make_shared<EdgeValueStore>();
    std::vector<std::uint32_t> steps;  // value index (or position) << 1 | 1 when the hop runs end to start
    std::size_t hops = 1;
    // Lists the rows; false (interrupted, with the exception set) leaves the
    // table as it was, still pending. Without `interruptible` it cannot fail.
    mutable std::function<bool(ChainTable&, bool interruptible)> pending;
    std::size_t counted = 0;           // the rows while pending
    std::vector<Ref> edge_objects;     // until the values are copied

    // Holds `objects` until the rows are listed or an Edge's properties change.
    void hold_edge_objects(std::vector<Ref> objects);
    void copy_edge_values() const;

private:
    bool list(bool interruptible) const;
    mutable bool listing_ = false; // while `list` writes the steps

public:

    std::size_t rows() const { return pending ? counted : steps.size() / hops; }
    // Readers list the rows first. Runs list them earlier, between steps,
    // where a long listing can be interrupted (`list_rows_interruptibly`);
    // a reader that still finds the table pending lists it without a check.
    void list_rows() const {
        if (edge_objects.empty() && !pending) return;
        if (pending) list(false);
        copy_edge_values(); // the edges the rows use, if still read from the objects
    }
    // False, with the exception set, when interrupted (the table stays pending).
    bool list_rows_interruptibly() const {
        if (pending && !list(true)) return false;
        list_rows();
        return true;
    }
    const EdgeValue& edge(std::size_t row, std::size_t hop) const { return store->values[steps[row * hops + hop] >> 1]; }
    // Place 0 is where the first hop leaves from, place k where hop k - 1 arrives.
    const NodeValue& node(std::size_t row, std::size_t place) const {
        const bool first = place == 0;
        const std::uint32_t step = steps[row * hops + (first ? 0 : place - 1)];
        const EdgeCore& parts = *store->values[step >> 1].core;
        const bool reversed = step & 1;
        return first != reversed ? parts.start : parts.end;
    }
};

class ResultList {
public:
    ResultList() = default;
    ResultList(std::initializer_list<QueryResult> values) : items_(values) {}

    // The values of one place of the table's chains: node place k is column
    // 2k, the edge of hop k is column 2k + 1.
    static ResultList chain_column(std::shared_ptr<const ChainTable> table, std::size_t column) {
        ResultList list;
        list.count_ = table->rows();
        list.column_ = column;
        list.table_ = std::move(table);
        return list;
    }

    // The nodes of a node match.
    static ResultList node_column(std::shared_ptr<NodeValueStore> nodes) {
        ResultList list;
        list.count_ = nodes->size();
        list.nodes_ = std::move(nodes);
        return list;
    }

    std::size_t size() const { return viewing() ? count_ : items_.size(); }
    bool empty() const { return size() == 0; }

    // Reading without making the list's values.
    PyObject* to_python(std::size_t i) const; // a new Node, Edge or list of Edge objects
    PyObject* properties_at(std::size_t i) const; // borrowed; nullptr for an edge list

    // The values themselves, made first if the list still reads a table.
    const std::vector<QueryResult>& values() const {
        if (viewing()) make_values();
        return items_;
    }
    std::vector<QueryResult>& values() {
        if (viewing()) make_values();
        return items_;
    }
    const QueryResult& operator[](std::size_t i) const { return values()[i]; }
    QueryResult& operator[](std::size_t i) { return values()[i]; }
    std::vector<QueryResult>::const_iterator begin() const { return values().begin(); }
    std::vector<QueryResult>::const_iterator end() const { return values().end(); }

    template <class... Args>
    QueryResult& emplace_back(Args&&... args) {
        return values().emplace_back(std::forward<Args>(args)...);
    }
    void push_back(QueryResult value) { values().push_back(std::move(value)); }
    void reserve(std::size_t n) { values().reserve(n); }

    // Drops the first `n` values (all when fewer), or all from position `n` on.
    void drop_front(std::size_t n);
    void truncate(std::size_t n);

    // The entries at `rows` (ascending or not), those past the end skipped;
    // a list that reads a table makes only those values.
    ResultList pick(const std::vector<std::size_t>& rows) &&;

    // Whether an entry is a plain value (never for a list that reads a table).
    bool holds_values() const;

    // Lists the rows of a counted table this list reads, checking for
    // interruption; false with the exception set.
    bool list_pending_rows() const { return !table_ || table_->list_rows_interruptibly(); }

private:
    void make_values() const;
    PyObject* shared_object(std::size_t row) const;
    bool reads_node() const { return column_ % 2 == 0; }
    bool viewing() const { return table_ || nodes_; }

    mutable std::vector<QueryResult> items_;
    // While one is set, the list is rows [first_, first_ + count_) of this
    // table's column, or of these nodes.
    mutable std::shared_ptr<const ChainTable> table_;
    mutable std::shared_ptr<NodeValueStore> nodes_;
    std::size_t column_ = 0, first_ = 0, count_ = 0;
};

// A new Node or Edge object, a new list of new Edge objects, or the plain
// value itself (a new reference).
PyObject* result_to_python(const QueryResult& value);

// The properties dict of a node or an edge, or a plain value that is a dict
// (borrowed); nullptr for an edge list or any other plain value.
inline PyObject* properties_of(const QueryResult& value) {
    if (auto* node = std::get_if<NodeValue>(&value)) return node->properties.get();
    if (auto* edge = std::get_if<EdgeValue>(&value)) return edge->properties.get();
    if (auto* plain = std::get_if<PlainValue>(&value)) {
        return PyDict_Check(plain->object.get()) ? plain->object.get() : nullptr;
    }
    return nullptr;
}

} // namespace velarto::py::query
