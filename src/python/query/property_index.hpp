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

namespace velarto::py::query {

struct EdgeTopology;

// Whether the index can judge `value`: its hash and `==` run no Python code.
bool judged_by_hash(PyObject* value);

class PropertyIndex {
public:
    // Reads the value under `key` (an exact str) of every end node's dict.
    // Runs no Python code; can fail only for memory.
    PropertyIndex(const EdgeTopology& topology, PyObject* key);

    // Whether no dict it read was written since it was built.
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
};

// The property indexes one topology keeps, most recently used first, at most
// a few keys.
class PropertyIndexes {
public:
    // The current index of `key` (an exact str), built when missing or stale;
    // nullptr (no exception) when the key cannot be read as UTF-8.
    PropertyIndex* of(const EdgeTopology& topology, PyObject* key);
    std::size_t bytes() const;

private:
    std::vector<std::pair<std::string, std::unique_ptr<PropertyIndex>>> kept_;
};

} // namespace velarto::py::query
