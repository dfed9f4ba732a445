// exists(<pattern>) in a condition: is there a chain of the pattern with the
// row's bound variables fixed to the row's values?
//
// A pattern variable that has an entry in the row is fixed: a node position
// then accepts only that node (its type is made the position's exact type,
// since a node is its type), an edge position only that edge (its term), and
// a variable-length edge bound to an edge list exactly that list's edges, in
// order. Every other variable is free and binds nothing. The search goes
// through the path matcher's probe, anchored where it is cheap: at the first
// node when that is fixed, else at the last node (on the reversed path), else
// at an end of the fixed first or last edge. A pattern of one edge without
// property maps, with one end fixed and nothing else, reads marks made in one
// pass over the edges instead (exists_one_hop.hpp). A pattern with nothing fixed
// gives the same answer on every row while the graph is unchanged, and is
// searched again only when it changed. Only a pattern fixed in its middle
// alone is searched from every edge.
//
// A node variable written at several places stands for one node at all of
// them, bound or free. An edge variable written twice and free in the row
// matches nothing (the one edge would be used twice); bound, it is fixed to
// the row's value at each place, as any bound variable is.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "path_pattern.hpp"
#include "query/bindings.hpp"
#include "query/exists_one_hop.hpp"
#include "query/path_matcher.hpp"

namespace velarto::py::query {

class ExistsProbe {
public:
    ExistsProbe(const PathPatternValue& pattern, const Bindings& bindings, QueryState& state);

    // False with an exception set on failure.
    bool test(std::size_t row, bool& found);

private:
    // The graph's dict versions when an answer that holds for every row was
    // found: it stands while both are unchanged.
    struct Versions {
        std::uint64_t nodes = 0, edges = 0;
        bool operator==(const Versions&) const = default;
    };

    void fix(std::size_t row, bool& possible);
    void fix_list(std::size_t segment, const EdgeListValue& list, bool& possible);
    bool search_chain(bool& found);
    bool side_by_side(bool& found);
    bool versions_now(Versions& out) const;
    bool one_hop(std::size_t row, bool& handled, bool& found);
    const EdgeValue* end_edge(bool last) const;

    PathPatternValue original_;
    PathPatternValue forward_, backward_; // narrowed copies for the probes
    std::vector<FixedSegment> forward_fixed_, backward_fixed_; // their segments fixed to edge lists
    QueryState& state_;
    std::vector<const ResultList*> node_lists_, edge_lists_; // per position: the bound list, if any
    std::vector<const NodeValue*> fixed_nodes_;
    std::vector<const EdgeValue*> fixed_edges_;
    std::vector<const EdgeListValue*> fixed_lists_;
    std::vector<std::size_t> repeated_edges_; // places of edge variables written twice or more
    std::unique_ptr<ChainProbe> forward_probe_, backward_probe_;
    std::unique_ptr<OneHopMarks> one_hop_; // one edge, one end fixed (exists_one_hop.hpp)
    bool any_fixed_ = false;
    // Answers that hold for every row, kept while the graph is unchanged; only
    // for a pattern without property maps, whose values are read live.
    bool keeps_answers_ = true;
    std::optional<bool> unanchored_; // the answer when nothing is fixed
    std::vector<std::optional<bool>> free_nodes_; // side by side: whether a free position finds a node
    Versions kept_at_;
};

} // namespace velarto::py::query
