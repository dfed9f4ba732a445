// Chains of edges, depth-first.
//
// The first hop scans the edge dict in its order (each edge forward, or
// backward, or both for an undirected pattern). Later hops start from the
// node the previous hop ended at and look its edges up in per-run indexes by
// start and by end node, built once on first need, so a run costs
// O(edges + results) rather than a nested scan. Nodes are keyed by the digest
// of their type: two nodes have equal uids exactly when their types do.
//
// Python code can run inside a hop (a property's `__eq__`): the matcher holds
// a strong reference to every edge of the dict for the whole run, so nothing
// it reads can be freed under it, and the edge dict is watched, so a change
// to it ends the scan with a RuntimeError.
#include "query/path_matcher.hpp"

#include <cstring>
#include <unordered_map>

#include "classes.hpp"
#include "interrupts.hpp"

namespace velarto::py::query {

namespace {

struct DigestHash {
    std::size_t operator()(const core::Digest& digest) const {
        std::size_t value;
        std::memcpy(&value, digest.data(), sizeof value);
        return value;
    }
};

enum class Direction { Forward, Backward, Any };

Direction direction_of(const EdgePatternValue& pattern) {
    if (pattern.direction == "backward") return Direction::Backward;
    if (pattern.direction == "any") return Direction::Any;
    return Direction::Forward;
}

// One edge taken in one orientation.
struct Step {
    std::uint32_t edge;
    bool reversed;
};

using EdgeIndex = std::unordered_map<core::Digest, std::vector<std::uint32_t>, DigestHash>;

// The candidates of one hop from one node: the edges leaving it (forward),
// entering it (backward) or both merged in dict order (undirected, a
// self-loop once). Walks the index lists in place; nothing is copied.
class HopCandidates {
public:
    HopCandidates(Direction direction, const std::vector<std::uint32_t>* starting,
                  const std::vector<std::uint32_t>* ending)
        : direction_(direction), starting_(starting), ending_(ending) {}

    bool next(Step& out) {
        std::size_t a_end = starting_ ? starting_->size() : 0, b_end = ending_ ? ending_->size() : 0;
        if (direction_ == Direction::Forward) {
            if (a_ == a_end) return false;
            out = {(*starting_)[a_++], false};
            return true;
        }
        if (direction_ == Direction::Backward) {
            if (b_ == b_end) return false;
            out = {(*ending_)[b_++], true};
            return true;
        }
        if (a_ == a_end && b_ == b_end) return false;
        if (b_ == b_end || (a_ < a_end && (*starting_)[a_] < (*ending_)[b_])) {
            out = {(*starting_)[a_++], false};
        } else if (a_ == a_end || (*ending_)[b_] < (*starting_)[a_]) {
            out = {(*ending_)[b_++], true};
        } else { // in both lists: a self-loop, taken once
            out = {(*starting_)[a_++], false};
            ++b_;
        }
        return true;
    }

private:
    Direction direction_;
    const std::vector<std::uint32_t>* starting_;
    const std::vector<std::uint32_t>* ending_;
    std::size_t a_ = 0, b_ = 0;
};

} // namespace

class ChainMatcher {
public:
    ChainMatcher(QueryState& state, PathPatternValue& path)
        : path_(path), edges_dict_(state.graph.edges.get()), watch_(edges_dict_) {
        runs_python_ = false;
        for (const NodePatternValue& node : path.nodes) runs_python_ |= !node.properties.empty();
        for (const EdgePatternValue& edge : path.edges) runs_python_ |= !edge.properties.empty();
    }

    bool run();

    // Probing (exists()): stop at the first chain, recording nothing; with an
    // anchor, first hops start from the anchor's edges only.
    bool probing = false;
    const NodeValue* anchor = nullptr;
    bool found = false;

    std::vector<ResultList> node_lists;
    std::vector<ResultList> edge_lists;

private:
    bool load_edges();
    void build_indexes();
    HopCandidates candidates_from(std::size_t hop, const core::Digest& from);
    int try_step(std::size_t hop, const Step& step); // 1 taken, 0 refused, -1 error
    void record_chain();
    bool follow(const Step& first); // every chain that starts with this step

    const EdgeValue& edge(std::uint32_t index) const { return as<EdgeObject>(edges_[index].get())->value; }
    const NodeValue& from_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.end : parts.start;
    }
    const NodeValue& to_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.start : parts.end;
    }

    PathPatternValue& path_;
    PyObject* edges_dict_;
    Ref held_dict_ = Ref::borrow(edges_dict_);
    DictWatch watch_;
    bool runs_python_;
    // The edge dict's values, in its order, held for the whole run.
    std::vector<Ref> edges_;
    SignalCheck signals_;
    bool loaded_ = false, indexed_ = false;
    EdgeIndex by_start_, by_end_;
    std::vector<Step> chain_;
};

bool ChainMatcher::load_edges() {
    loaded_ = true;
    edges_.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(edges_dict_)));
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(edges_dict_, &position, &key, &value)) {
        if (!edge_value(value)) return false;
        edges_.push_back(Ref::borrow(value));
    }
    return true;
}

void ChainMatcher::build_indexes() {
    for (std::uint32_t i = 0; i < edges_.size(); ++i) {
        const EdgeCore& parts = *edge(i).core;
        by_start_[parts.start.type->digest()].push_back(i);
        by_end_[parts.end.type->digest()].push_back(i);
    }
    indexed_ = true;
}

HopCandidates ChainMatcher::candidates_from(std::size_t hop, const core::Digest& from) {
    if (!indexed_) build_indexes();
    auto lookup = [&](EdgeIndex& index) -> const std::vector<std::uint32_t>* {
        auto found = index.find(from);
        return found == index.end() ? nullptr : &found->second;
    };
    return HopCandidates(direction_of(path_.edges[hop]), lookup(by_start_), lookup(by_end_));
}

int ChainMatcher::try_step(std::size_t hop, const Step& step) {
    for (const Step& used : chain_) {
        if (used.edge == step.edge) return 0; // no edge twice in one chain
    }
    if (!signals_.tick()) return -1;
    MatchResult accepted = edge_accepts(path_.edges[hop], edge(step.edge));
    if (accepted == MatchResult::Match && hop == 0) {
        accepted = node_matches(path_.nodes[0], from_node(step));
        if (runs_python_ && !watch_.unchanged()) return -1;
    }
    if (accepted == MatchResult::Match) accepted = node_matches(path_.nodes[hop + 1], to_node(step));
    if (accepted == MatchResult::Error) return -1;
    if (runs_python_ && !watch_.unchanged()) return -1;
    return accepted == MatchResult::Match ? 1 : 0;
}

void ChainMatcher::record_chain() {
    if (probing) {
        found = true;
        return;
    }
    node_lists[0].emplace_back(from_node(chain_[0]));
    for (std::size_t hop = 0; hop < chain_.size(); ++hop) {
        edge_lists[hop].emplace_back(edge(chain_[hop].edge));
        node_lists[hop + 1].emplace_back(to_node(chain_[hop]));
    }
}

bool ChainMatcher::run() {
    if (loaded_) {
        if (!watch_.unchanged()) return false;
    } else if (!load_edges()) {
        return false;
    }
    std::size_t hops = path_.edges.size();
    node_lists.resize(hops + 1);
    edge_lists.resize(hops);
    found = false;
    if (anchor) {
        HopCandidates first_hops = candidates_from(0, anchor->type->digest());
        Step step;
        while (!found && first_hops.next(step)) {
            if (!follow(step)) return false;
        }
        return true;
    }
    Direction first_direction = direction_of(path_.edges[0]);
    for (std::uint32_t first = 0; first < edges_.size() && !found; ++first) {
        Step steps[2] = {{first, first_direction == Direction::Backward}, {first, true}};
        int count = 1;
        if (first_direction == Direction::Any) {
            const EdgeCore& parts = *edge(first).core;
            if (parts.start.type->digest() != parts.end.type->digest()) count = 2; // a self-loop once
        }
        for (int k = 0; k < count && !found; ++k) {
            if (!follow(steps[k])) return false;
        }
    }
    return true;
}

bool ChainMatcher::follow(const Step& step) {
    std::size_t hops = path_.edges.size();
    chain_.clear();
    int taken = try_step(0, step);
    if (taken < 0) return false;
    if (taken == 0) return true;
    chain_.assign(1, step);
    if (hops == 1) {
        record_chain();
        return true;
    }
    std::vector<HopCandidates> frames; // depth-first: one frame per hop after the first
    frames.push_back(candidates_from(1, to_node(step).type->digest()));
    while (!frames.empty() && !found) {
        std::size_t hop = frames.size(); // the hop the top frame's candidates are for
        Step candidate;
        if (!frames.back().next(candidate)) {
            frames.pop_back();
            chain_.pop_back();
            continue;
        }
        int ok = try_step(hop, candidate);
        if (ok < 0) return false;
        if (ok == 0) continue;
        chain_.push_back(candidate);
        if (hop + 1 == hops) {
            record_chain();
            chain_.pop_back();
            continue;
        }
        frames.push_back(candidates_from(hop + 1, to_node(candidate).type->digest()));
    }
    return true;
}

MatchResult edge_accepts(EdgePatternValue& pattern, const EdgeValue& edge) {
    const EdgeCore& parts = *edge.core;
    if (pattern.term_type_schema && !pattern.term_type_schema->matches(*parts.term.type)) {
        return MatchResult::NoMatch;
    }
    if (pattern.term && !core::equal(*pattern.term, parts.term)) return MatchResult::NoMatch;
    if (pattern.properties.empty()) return MatchResult::Match;
    Ref properties = edge.properties;
    return properties_match(pattern.properties, properties.get());
}

ChainProbe::ChainProbe(QueryState& state, PathPatternValue& path)
    : matcher_(std::make_unique<ChainMatcher>(state, path)) {
    matcher_->probing = true;
}

ChainProbe::~ChainProbe() = default;

bool ChainProbe::exists(const NodeValue* anchor, bool& found) {
    matcher_->anchor = anchor;
    bool ok = matcher_->run();
    found = ok && matcher_->found;
    return ok;
}

bool match_chains(QueryState& state, PathPatternValue& path) {
    ChainMatcher matcher(state, path);
    if (!matcher.run()) return false;
    // Bind in path order: n0, e0, n1, e1, ...; a name used twice keeps the later place.
    Bindings& bindings = state.writable_bindings();
    for (std::size_t i = 0; i < path.nodes.size(); ++i) {
        if (path.nodes[i].variable) bindings.replace(*path.nodes[i].variable, std::move(matcher.node_lists[i]));
        if (i < path.edges.size() && path.edges[i].variable) {
            bindings.replace(*path.edges[i].variable, std::move(matcher.edge_lists[i]));
        }
    }
    return true;
}

} // namespace velarto::py::query
