// Hops that close a cycle: `(a)-[]->(b)-[]->(c)-[]->(a)`.
//
// Where a node variable comes back, the node it must reach is known before
// the search gets there. The last hop of the cycle then looks up the edges
// between two bound nodes (each node's edges ordered by the node at their
// other end) instead of walking every edge of the node it is at; and the hop
// before it takes only edges to nodes with such an edge, found by
// intersecting two sorted neighbour lists, so no open path is walked to be
// thrown away. Both only narrow the candidates: every test still runs.
// Both keep dict order: a run of edges between two nodes is in dict order,
// and the narrowed hop is sorted back into it.
#include <algorithm>

#include "query/chain_matcher.hpp"

namespace velarto::py::query {

namespace {

// The edges of a run (`size` edges from `offset` in a pair order) whose
// other end is `other`.
EdgeSpan edges_to(const std::vector<std::uint32_t>& edges, const std::vector<std::uint32_t>& ids, std::uint32_t offset,
                  std::size_t size, std::uint32_t other) {
    const std::uint32_t* first = ids.data() + offset;
    auto [low, high] = std::equal_range(first, first + size, other);
    return {edges.data() + (low - ids.data()), static_cast<std::size_t>(high - low)};
}

bool in_dict_order(const Step& a, const Step& b) {
    return a.edge != b.edge ? a.edge < b.edge : a.reversed < b.reversed;
}

} // namespace

const NodeValue* ChainMatcher::joined_node(std::size_t place, std::size_t before) const {
    if (place >= same_place_.size() || same_place_[place] < 0) return nullptr;
    const auto earlier = static_cast<std::size_t>(same_place_[place]);
    if (earlier > before) return nullptr;
    return earlier == 0 ? start_ : segment_end_[earlier - 1];
}

HopCandidates ChainMatcher::closing_candidates(std::size_t segment, std::uint32_t from) {
    const Direction direction = direction_of(path_.edges[segment]);
    const EdgeIndex& index = topology_->index;
    auto walk = [&] { return HopCandidates(direction, index.starting_at_id(from), index.ending_at_id(from)); };
    if (direction == Direction::Any) return walk();
    EdgeTopology& topology = *topology_;
    if (const NodeValue* target = joined_node(segment + 1, segment)) {
        const std::int64_t to = id_of(*target);
        if (to < 0) return HopCandidates(Direction::Forward, {}, {});
        topology.know_pairs();
        const auto other = static_cast<std::uint32_t>(to);
        if (direction == Direction::Forward) {
            return HopCandidates(direction, edges_to(topology.out_by_end, topology.out_end_ids, index.starting_offset(from),
                                                     index.starting_at_id(from).size, other), {});
        }
        return HopCandidates(direction, {}, edges_to(topology.in_by_start, topology.in_start_ids, index.ending_offset(from),
                                                     index.ending_at_id(from).size, other));
    }
    const std::size_t next = segment + 1;
    if (next < path_.edges.size() && !path_.edges[next].range && direction_of(path_.edges[next]) != Direction::Any &&
        !joined_node(next, segment)) {
        if (const NodeValue* target = joined_node(next + 1, segment)) return narrowed_candidates(segment, from, *target);
    }
    return walk();
}

// The hop from `from` to some node c that has an edge of the next hop to
// `target`: the intersection of this hop's neighbours of `from` and the next
// hop's neighbours of `target`, walking the shorter list and searching the
// longer one from where the last search ended.
HopCandidates ChainMatcher::narrowed_candidates(std::size_t segment, std::uint32_t from, const NodeValue& target) {
    const std::int64_t to = id_of(target);
    if (to < 0) return HopCandidates(Direction::Forward, {}, {});
    const auto target_id = static_cast<std::uint32_t>(to);
    EdgeTopology& topology = *topology_;
    topology.know_pairs();
    const EdgeIndex& index = topology.index;
    // This hop's edges from `from`, by the node they reach.
    const bool forward = direction_of(path_.edges[segment]) == Direction::Forward;
    const std::vector<std::uint32_t>& here_edges = forward ? topology.out_by_end : topology.in_by_start;
    const std::uint32_t here_offset = forward ? index.starting_offset(from) : index.ending_offset(from);
    const std::size_t here_size = forward ? index.starting_at_id(from).size : index.ending_at_id(from).size;
    const std::uint32_t* here = (forward ? topology.out_end_ids : topology.in_start_ids).data() + here_offset;
    // The next hop's edges that reach `target`, by the node they leave.
    const bool next_forward = direction_of(path_.edges[segment + 1]) == Direction::Forward;
    const std::uint32_t there_offset = next_forward ? index.ending_offset(target_id) : index.starting_offset(target_id);
    const std::size_t there_size = next_forward ? index.ending_at_id(target_id).size : index.starting_at_id(target_id).size;
    const std::uint32_t* there = (next_forward ? topology.in_start_ids : topology.out_end_ids).data() + there_offset;

    std::vector<Step>& listed = listed_[segment];
    listed.clear();
    auto take = [&](const std::uint32_t* at) {
        listed.push_back({here_edges[here_offset + static_cast<std::size_t>(at - here)], !forward});
    };
    const bool walk_here = here_size <= there_size;
    const std::uint32_t* walked = walk_here ? here : there;
    const std::uint32_t* walked_end = walked + (walk_here ? here_size : there_size);
    const std::uint32_t* searched = walk_here ? there : here;
    const std::uint32_t* searched_end = searched + (walk_here ? there_size : here_size);
    for (const std::uint32_t* at = walked; at < walked_end;) {
        const std::uint32_t node = *at;
        const std::uint32_t* run_end = std::upper_bound(at, walked_end, node);
        searched = std::lower_bound(searched, searched_end, node);
        if (searched == searched_end) break;
        if (*searched == node) {
            const std::uint32_t* found_end = std::upper_bound(searched, searched_end, node);
            if (walk_here) {
                for (const std::uint32_t* edge = at; edge < run_end; ++edge) take(edge);
            } else {
                for (const std::uint32_t* edge = searched; edge < found_end; ++edge) take(edge);
            }
            searched = found_end;
        }
        at = run_end;
    }
    std::sort(listed.begin(), listed.end(), in_dict_order);
    return HopCandidates(listed.data(), listed.size());
}

} // namespace velarto::py::query
