// The edges of an edge dict in dict order, with their index by start and end
// node, kept between runs while the dict is unchanged.
//
// Building the index hashes every edge's two end points; a graph that is
// queried again and again without being changed pays that once. It is kept
// per dict address and version (kept_per_dict.hpp): while the version
// matches, the dict holds every object the topology points at.
//
// Only the structure is kept. Properties can change without the dict
// changing, so every test reads them live, from the objects (or through a
// property index that knows when its dicts were written).
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "patterns.hpp"
#include "query/edge_index.hpp"
#include "query/node_names.hpp"
#include "query/property_index.hpp"

namespace velarto::py::query {

struct DigestHash {
    std::size_t operator()(const core::Digest& digest) const {
        std::size_t word;
        std::memcpy(&word, digest.data(), sizeof word);
        return word;
    }
};

struct EdgeTopology {
    std::vector<PyObject*> edges; // the dict's Edge objects, in its order: borrowed (see above)
    EdgeIndex index;
    // Per direction (0 along the edges, 1 against them), the longest walks from
    // each node, made when a search first needs them.
    std::vector<std::uint32_t> longest_walks[2];
    bool walks_known[2] = {false, false};
    // The same ignoring directions (longest_trails.hpp).
    std::vector<std::uint32_t> longest_trails;
    bool trails_known = false;
    // Where anchored searches find their first nodes, made on first use.
    PropertyIndexes property_indexes;
    NodeNames node_names;
    // Per node, its out-edges ordered by end node and its in-edges by start
    // node (each run in dict order): the look-up of the edges between two
    // nodes that closes a cycle. Made when a search first needs it.
    std::vector<std::uint32_t> out_by_end, out_end_ids, in_by_start, in_start_ids;
    bool pairs_known = false;
    void know_pairs() {
        if (pairs_known) return;
        index.out_by_end(out_by_end, out_end_ids);
        index.in_by_start(in_by_start, in_start_ids);
        pairs_known = true;
    }

    // The positions of the edges whose term has type `type`, in dict order;
    // nullptr when the terms have too many types for that to narrow a scan.
    // Made on first use.
    const std::vector<std::uint32_t>* edges_of_term_type(const core::TypeNode& type);
    std::unordered_map<core::Digest, std::vector<std::uint32_t>, DigestHash> by_term_type;
    enum class TermTypes { Unknown, Known, TooMany } term_types = TermTypes::Unknown;
    std::size_t term_type_bytes = 0;

    std::size_t bytes() const {
        return edges.capacity() * sizeof(PyObject*) + index.bytes() + property_indexes.bytes() + node_names.bytes() +
               term_type_bytes +
               (out_by_end.capacity() + out_end_ids.capacity() + in_by_start.capacity() + in_start_ids.capacity()) * sizeof(std::uint32_t) +
               (longest_walks[0].capacity() + longest_walks[1].capacity() + longest_trails.capacity()) *
                   sizeof(std::uint32_t);
    }
};

// The topology of `dict` as it is now: the kept one when the dict has not
// changed since it was made, else made anew (and kept). nullptr with
// TypeError set when a value of the dict is not an Edge.
std::shared_ptr<EdgeTopology> edge_topology(PyObject* dict);

// The one type an edge pattern's term must have (its term's, or an exact
// type schema's), or nullptr.
const core::TypeNode* exact_term_type(const EdgePatternValue& pattern);

} // namespace velarto::py::query
