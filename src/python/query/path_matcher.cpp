// Chains of edges, depth-first.
//
// The first hop scans the edge dict in its order (each edge forward, or
// backward, or both for an undirected pattern). Later hops start from the
// node the previous hop ended at and look its edges up in per-run indexes by
// start and by end node, built once on first need, so a run costs
// O(edges + results) rather than a nested scan. Nodes are keyed by the digest
// of their type: two nodes have equal uids exactly when their types do.
//
// Python code can run inside a hop (a property's `__eq__`); every edge is
// copied before it is tested and the edge dict is watched, so a change to it
// ends the scan with a RuntimeError.
#include "query/path_matcher.hpp"

#include <cstring>
#include <unordered_map>

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

class ChainMatcher {
public:
    ChainMatcher(QueryState& state, PathPatternValue& path)
        : path_(path), edges_dict_(state.graph.edges.get()), watch_(edges_dict_) {}

    bool run();

    std::vector<ResultList> node_lists;
    std::vector<ResultList> edge_lists;

private:
    bool load_edges();
    bool build_indexes();
    const EdgeValue* edge_at(std::uint32_t index);
    struct FirstSteps {
        Step steps[2];
        int count;
        const Step* begin() const { return steps; }
        const Step* end() const { return steps + count; }
    };
    FirstSteps first_hop_steps(std::uint32_t index) const;
    bool candidates_from(std::size_t hop, const core::Digest& from, std::vector<Step>& out);
    int try_step(std::size_t hop, const Step& step); // 1 taken, 0 refused, -1 error
    void record_chain();

    const NodeValue& from_node(const Step& step) const {
        return step.reversed ? edges_[step.edge].core->end : edges_[step.edge].core->start;
    }
    const NodeValue& to_node(const Step& step) const {
        return step.reversed ? edges_[step.edge].core->start : edges_[step.edge].core->end;
    }

    PathPatternValue& path_;
    PyObject* edges_dict_;
    Ref held_dict_ = Ref::borrow(edges_dict_);
    DictWatch watch_;
    std::vector<EdgeValue> edges_; // the edge dict's values, in its order
    bool indexed_ = false;
    std::unordered_map<core::Digest, std::vector<std::uint32_t>, DigestHash> by_start_, by_end_;
    std::vector<Step> chain_;
};

bool ChainMatcher::load_edges() {
    edges_.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(edges_dict_)));
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(edges_dict_, &position, &key, &value)) {
        const EdgeValue* edge = edge_value(value);
        if (!edge) return false;
        edges_.push_back(*edge);
    }
    return true;
}

bool ChainMatcher::build_indexes() {
    for (std::uint32_t i = 0; i < edges_.size(); ++i) {
        by_start_[edges_[i].core->start.type->digest()].push_back(i);
        by_end_[edges_[i].core->end.type->digest()].push_back(i);
    }
    indexed_ = true;
    return true;
}

ChainMatcher::FirstSteps ChainMatcher::first_hop_steps(std::uint32_t index) const {
    switch (direction_of(path_.edges[0])) {
    case Direction::Forward: return {{{index, false}, {}}, 1};
    case Direction::Backward: return {{{index, true}, {}}, 1};
    case Direction::Any: break;
    }
    const EdgeCore& edge = *edges_[index].core;
    if (edge.start.type->digest() == edge.end.type->digest()) return {{{index, false}, {}}, 1}; // a self-loop once
    return {{{index, false}, {index, true}}, 2};
}

bool ChainMatcher::candidates_from(std::size_t hop, const core::Digest& from, std::vector<Step>& out) {
    if (!indexed_ && !build_indexes()) return false;
    static const std::vector<std::uint32_t> none;
    auto lookup = [&](auto& index) -> const std::vector<std::uint32_t>& {
        auto found = index.find(from);
        return found == index.end() ? none : found->second;
    };
    const auto& starting = lookup(by_start_);
    const auto& ending = lookup(by_end_);
    Direction direction = direction_of(path_.edges[hop]);
    if (direction == Direction::Forward) {
        for (std::uint32_t e : starting) out.push_back({e, false});
    } else if (direction == Direction::Backward) {
        for (std::uint32_t e : ending) out.push_back({e, true});
    } else {
        // Merge both lists in dict order; an edge in both is a self-loop, taken once.
        std::size_t a = 0, b = 0;
        while (a < starting.size() || b < ending.size()) {
            if (b == ending.size() || (a < starting.size() && starting[a] < ending[b])) {
                out.push_back({starting[a++], false});
            } else if (a == starting.size() || ending[b] < starting[a]) {
                out.push_back({ending[b++], true});
            } else {
                out.push_back({starting[a++], false});
                ++b;
            }
        }
    }
    return true;
}

int ChainMatcher::try_step(std::size_t hop, const Step& step) {
    for (const Step& used : chain_) {
        if (used.edge == step.edge) return 0; // no edge twice in one chain
    }
    EdgeValue edge = edges_[step.edge]; // held while Python code runs
    MatchResult accepted = edge_accepts(path_.edges[hop], edge);
    if (accepted == MatchResult::Match && hop == 0) {
        accepted = node_matches(path_.nodes[0], from_node(step));
    }
    if (accepted == MatchResult::Match) accepted = node_matches(path_.nodes[hop + 1], to_node(step));
    if (accepted == MatchResult::Error || !watch_.unchanged()) return -1;
    return accepted == MatchResult::Match ? 1 : 0;
}

void ChainMatcher::record_chain() {
    node_lists[0].emplace_back(from_node(chain_[0]));
    for (std::size_t hop = 0; hop < chain_.size(); ++hop) {
        edge_lists[hop].emplace_back(edges_[chain_[hop].edge]);
        node_lists[hop + 1].emplace_back(to_node(chain_[hop]));
    }
}

bool ChainMatcher::run() {
    if (!load_edges()) return false;
    std::size_t hops = path_.edges.size();
    node_lists.resize(hops + 1);
    edge_lists.resize(hops);
    // Depth-first with an explicit stack of candidate lists, one per hop.
    struct Frame {
        std::vector<Step> candidates;
        std::size_t next = 0;
    };
    std::vector<Frame> frames;
    for (std::uint32_t first = 0; first < edges_.size(); ++first) {
        for (const Step& step : first_hop_steps(first)) {
            chain_.clear();
            int taken = try_step(0, step);
            if (taken < 0) return false;
            if (taken == 0) continue;
            chain_.assign(1, step);
            if (hops == 1) {
                record_chain();
                continue;
            }
            frames.clear();
            frames.emplace_back();
            if (!candidates_from(1, to_node(step).type->digest(), frames.back().candidates)) return false;
            while (!frames.empty()) {
                Frame& frame = frames.back();
                std::size_t hop = frames.size(); // the hop this frame's candidates are for
                if (frame.next == frame.candidates.size()) {
                    frames.pop_back();
                    chain_.pop_back();
                    continue;
                }
                Step candidate = frame.candidates[frame.next++];
                int ok = try_step(hop, candidate);
                if (ok < 0) return false;
                if (ok == 0) continue;
                chain_.push_back(candidate);
                if (hop + 1 == hops) {
                    record_chain();
                    chain_.pop_back();
                    continue;
                }
                Frame next;
                if (!candidates_from(hop + 1, to_node(candidate).type->digest(), next.candidates)) return false;
                frames.push_back(std::move(next));
            }
        }
    }
    return true;
}

} // namespace

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
