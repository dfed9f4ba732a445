// Node ids of a kept edge index by the value of one property: where a search
// that starts from `{name: 'Ann'}` finds its first nodes without a scan.
//
// A chain search tests the nodes it meets at the edges' ends, and an edge's
// end holds its own copy of the node, whose properties dict is usually the
// node's but need not be (the node's dict may have been replaced since). So
// the index reads the dicts of the edges' ends, every distinct (node, dict)
// pair once, and answers with node ids: a superset of the nodes that can pass
// the test, which the search still makes in full.
//
// Only values whose hash and equality run no Python code and agree with each
// other are indexed: exact str, int, float, bool and None. Equal numbers of
// different kinds hash alike (1, 1.0 and True), so looking up by hash alone
// finds every candidate; collisions only add candidates. A node whose value is
// of any other kind, or whose dict has a key that is not an exact str (whose
// `==` could run code), is a candidate for every value.
//
// The index owns nothing of Python's: it is built and read only while its
// topology is current (the edge dict unchanged, so its edges hold every dict
// it names), and it is current only while no dict it read has been written:
// first asked of the interpreter's count of dict writes as a whole (one
// number), and only when that moved, of each dict's own version.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dict_version.hpp"
#include "graph_elements.hpp"

namespace velarto::py::query {

struct EdgeTopology;

// Whether the index can judge `value`: its hash and `==` run no Python code.
bool judged_by_hash(PyObject* value);

// Who holds which dict: (id, dict) pairs, an id per node (several dicts
// may share an id, several ids a dict). Borrowed dicts, see above.
using DictOwners = std::vector<std::pair<std::uint32_t, PyObject*>>;

// The dicts of the nodes at the edges' ends, each (node, dict) pair once.
DictOwners end_node_dicts(const EdgeTopology& topology);

class PropertyIndex {
public:
    // Reads the value under `key` (an exact str) of every owner's dict.
    // Runs no Python code; can fail only for memory. `node_objects`: the
    // dicts were read from Node objects, whose `properties` may be assigned
    // without any dict being written.
    PropertyIndex(const DictOwners& owners, PyObject* key, bool node_objects);

    // Whether no dict it read was written (nor, with node objects, any
    // Node's `properties` assigned) since it was built.
    bool current();

    // Adds to `out` the ids of every node whose value may equal a value of
    // hash `hash`, and of every node the index cannot judge.
    void add_candidates(Py_hash_t hash, std::vector<std::uint32_t>& out) const;
    // Adds the ids of nodes that lack the key or hold None (a test of
    // `x.key = ...` is null there, not false).
    void add_missing(std::vector<std::uint32_t>& out) const;

    std::size_t bytes() const;

private:
    std::vector<std::pair<Py_hash_t, std::uint32_t>> by_hash_; // sorted
    std::vector<std::uint32_t> unjudged_, missing_;
    std::vector<PyObject*> dicts_; // borrowed: see above
    std::vector<std::uint64_t> versions_;
    std::uint64_t writes_ = 0;
    bool everyone_ = false; // some dict could not be watched: every node a candidate
    bool node_objects_ = false;
    std::uint64_t node_writes_ = 0;
};

// Whether properties may have been written since a run started: a dict
// written (3.12+: a watched one; 3.11: any) or a Node's `properties`
// assigned. A run that found its nodes through an index and then ran
// Python code asks this before it trusts what the index told it.
class PropertyWrites {
public:
    PropertyWrites() : mark_(dict_write_mark()), node_writes_(node_value_writes) {}
    bool quiet() { return node_writes_ == node_value_writes && no_dict_written_since(mark_); }

private:
    std::uint64_t mark_;
    std::uint64_t node_writes_;
};

// The property indexes one topology keeps, most recently used first, at most
// a few keys.
class PropertyIndexes {
public:
    // The current index of `key` (an exact str), built from `owners()` when
    // missing or stale; nullptr (no exception) when the key cannot be read
    // as UTF-8. The pointer holds until the next call.
    template <class Owners>
    PropertyIndex* of(PyObject* key, Owners owners, bool node_objects) {
        std::unique_ptr<PropertyIndex>* slot = find(key);
        if (!slot) return nullptr;
        if (!*slot || !(*slot)->current()) *slot = std::make_unique<PropertyIndex>(owners(), key, node_objects);
        return slot->get();
    }
    std::size_t bytes() const;

private:
    // The entry of `key`, moved to the front (made empty when new).
    std::unique_ptr<PropertyIndex>* find(PyObject* key);

    std::vector<std::pair<std::string, std::unique_ptr<PropertyIndex>>> kept_;
};

} // namespace velarto::py::query
