// What a Query object holds, and the pieces of a run shared by its steps.
//
// A query holds the graph's two dicts (shared with the Graph and every other
// query made from it), its binding table and its operation list. Copies share
// the binding table until one of them runs (copy on write) and share the
// links of the operation list for good. `busy` refuses a second entry into
// the same query while one of its calls runs Python code.
#pragma once

#include <Python.h>

#include <memory>

#include "graph.hpp"
#include "query/bindings.hpp"
#include "query/operations.hpp"

namespace velarto::py::query {

struct QueryState {
    GraphDicts graph;
    std::shared_ptr<const Bindings> bindings = std::make_shared<const Bindings>();
    OperationList operations;
    // The values of `params`: a dict that is never changed once made (a
    // `params` call makes a new one), so copies share it safely. Empty: none.
    Ref params;
    bool busy = false;
    bool counting = false; // the run ends in return_count
    bool few_rows_read = false; // the match running now is sorted and cut: few of its rows are read

    // The binding table, made private to this query before it is written.
    Bindings& writable_bindings() {
        if (bindings.use_count() != 1) bindings = std::make_shared<const Bindings>(*bindings);
        return const_cast<Bindings&>(*bindings);
    }
};

struct QueryObject {
    PyObject_HEAD
    QueryState value;
};

// Runs the whole queue from its first operation; false with the exception of
// the failing step set. What steps did before a failure stays.
bool execute_operations(QueryState& state);

// Watches a dict that a scan walks while Python code may run (a property's
// `__eq__`): any change ends the scan with a RuntimeError instead of reading
// entries that may be gone.
class DictWatch {
public:
    explicit DictWatch(PyObject* dict);
    // False, with RuntimeError set, when the dict changed since construction.
    bool unchanged() const;
    // The same test, raising nothing: for a reader that can start again.
    bool same() const;

private:
    PyObject* dict_;
    Py_ssize_t size_;
    std::uint64_t version_;
};

// Steps, one file each.
// `row_cap`: at most this many rows can survive the operations right after
// the match (a `limit`), so a search that runs no Python code may stop there.
// `where`: the condition of a `where` right after the match (may be null),
// which may narrow where its search starts.
bool run_match(QueryState& state, const MatchOp& match, std::size_t row_cap = SIZE_MAX, const Condition* where = nullptr);
bool run_create(QueryState& state, const CreateOp& create);
bool run_merge(QueryState& state, const MergeOp& merge);
bool run_set(QueryState& state, const SetOp& set);
bool run_delete(QueryState& state, const DeleteOp& del);

// Node candidates of a pattern, as match and merge take them: the nodes of its
// type through the lookup by type, or every value of the node dict. `visit`
// gets each accepted node, with its object in the dict (borrowed; nullptr for
// the candidates of the lookup by type, which are copies), and returns false
// to stop early; `copies` says that it copies each one. False with an
// exception set on failure.
template <class Visit>
bool for_each_accepted_node(PyObject* nodes, const NodePatternValue& pattern, Visit&& visit, bool copies = false);

} // namespace velarto::py::query

#include "query/node_scan.hpp"
