// A chain search that starts from the anchors a plan chose (anchor_plan.hpp).
//
// From anchors at the first place, the first hops are the anchors' edges,
// merged into dict order. From anchors at a later place, the hops before it
// are found walking back from the anchors, one segment at a time (they are
// fixed hops): per segment, the steps each node may take toward the anchors.
// The search then runs forward as usual, taking only those steps before the
// anchor place, so chains come in exactly the order of the scan: first hops
// in dict order, each later hop in dict order.
//
// Such a run reads only the edges it walks. It holds each edge before
// reading it, and stops with a RuntimeError when Python code it ran (a
// property's `==`, a signal handler) changed the edge dict, since the edges
// it has not met yet are then borrowed from a dict that may have let them go.
#include <algorithm>

#include "query/chain_matcher.hpp"

namespace velarto::py::query {

namespace {

std::uint64_t step_key(const Step& step) { return std::uint64_t{step.edge} << 1 | static_cast<std::uint64_t>(step.reversed); }

void sort_steps(std::vector<Step>& steps) {
    std::sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return step_key(a) < step_key(b); });
}

} // namespace

void ChainMatcher::start_from(std::shared_ptr<EdgeTopology> topology, Anchors anchors) {
    topology_ = std::move(topology);
    anchors_ = std::move(anchors);
    lazy_ = true;
    writes_.emplace();
    // Short chains test edge use on the chain itself: no table as long as the edges.
    std::uint64_t longest = 0;
    for (std::uint32_t most : max_) longest += most;
    linear_used_ = longest <= 64;
    if (!linear_used_) used_.assign(topology_->edges.size(), 0);
}

// The steps before the anchor place, walking back from the anchors. Runs no
// Python code: an edge pattern with a property map is left to the search.
void ChainMatcher::plan_anchored_steps() {
    const EdgeIndex& index = topology_->index;
    const std::size_t place = anchors_->place;
    first_steps_.clear();
    toward_anchor_.clear();
    if (place == 0) {
        for (std::uint32_t id : anchors_->ids) {
            HopCandidates hops = candidates_from(0, id);
            Step step;
            while (hops.next(step)) first_steps_.push_back(step);
        }
        sort_steps(first_steps_);
        return;
    }
    toward_anchor_.resize(place);
    std::vector<std::uint32_t> reached = anchors_->ids;
    for (std::size_t segment = place; segment-- > 0;) {
        const EdgePatternValue& pattern = path_.edges[segment];
        const Direction direction = direction_of(pattern);
        const bool tested = pattern.properties.empty();
        auto& steps_from = toward_anchor_[segment];
        auto add = [&](std::uint32_t edge_index, bool reversed, std::uint32_t from) {
            if (tested && edge_accepts(pattern, edge(edge_index)) != MatchResult::Match) return;
            steps_from[from].push_back({edge_index, reversed});
        };
        for (std::uint32_t node : reached) {
            if (direction != Direction::Backward) {
                const EdgeSpan arriving = index.ending_at_id(node);
                for (std::size_t k = 0; k < arriving.size; ++k) add(arriving.begin[k], false, index.start_id(arriving.begin[k]));
            }
            if (direction != Direction::Forward) {
                const EdgeSpan leaving = index.starting_at_id(node);
                for (std::size_t k = 0; k < leaving.size; ++k) {
                    const std::uint32_t edge_index = leaving.begin[k];
                    // An undirected self-loop is taken once, forward.
                    if (direction == Direction::Any && index.start_id(edge_index) == index.end_id(edge_index)) continue;
                    add(edge_index, true, index.end_id(edge_index));
                }
            }
        }
        reached.clear();
        for (auto& [from, steps] : steps_from) {
            sort_steps(steps);
            reached.push_back(from);
        }
        std::sort(reached.begin(), reached.end());
    }
    for (const auto& [from, steps] : toward_anchor_[0]) first_steps_.insert(first_steps_.end(), steps.begin(), steps.end());
    sort_steps(first_steps_);
}

bool ChainMatcher::anchored_first_hops() {
    for (const Step& step : first_steps_) {
        if (found) break;
        hold(step.edge);
        if (!first_hop(step)) return false;
    }
    return true;
}

} // namespace velarto::py::query
