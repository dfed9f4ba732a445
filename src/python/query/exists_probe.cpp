// exists(<pattern>): fixing the row's values into the pattern, then one probe.
//
// The pattern is narrowed in place, row by row, on two private copies (the
// path as written and reversed); the probes hold them by reference. A fixed
// value that the pattern's own type or term already refuses makes the
// answer false without a search.
#include "query/exists_probe.hpp"

#include "query/node_scan.hpp"

namespace velarto::py::query {

namespace {

PathPatternValue reversed(const PathPatternValue& path) {
    PathPatternValue out;
    out.nodes.assign(path.nodes.rbegin(), path.nodes.rend());
    out.edges.assign(path.edges.rbegin(), path.edges.rend());
    for (EdgePatternValue& edge : out.edges) {
        if (edge.direction == "forward") edge.direction = "backward";
        else if (edge.direction == "backward") edge.direction = "forward";
    }
    return out;
}

template <class T>
const T* entry_of(const ResultList* list, std::size_t row, bool& other_kind) {
    other_kind = false;
    if (!list || row >= list->size()) return nullptr;
    const T* value = std::get_if<T>(&(*list)[row]);
    other_kind = !value;
    return value;
}

} // namespace

ExistsProbe::ExistsProbe(const PathPatternValue& pattern, const Bindings& bindings, QueryState& state)
    : original_(pattern), forward_(pattern), backward_(reversed(pattern)), state_(state),
      fixed_nodes_(pattern.nodes.size(), nullptr), fixed_edges_(pattern.edges.size(), nullptr), free_nodes_(pattern.nodes.size()) {
    for (const NodePatternValue& node : pattern.nodes) {
        node_lists_.push_back(node.variable ? bindings.find(*node.variable) : nullptr);
    }
    for (const EdgePatternValue& edge : pattern.edges) {
        edge_lists_.push_back(edge.variable ? bindings.find(*edge.variable) : nullptr);
    }
}

// Narrows both copies to the row's values; `possible` false when a fixed
// value cannot stand at its place.
bool ExistsProbe::fix(std::size_t row, bool& possible) {
    possible = true;
    any_fixed_ = false;
    std::size_t n = original_.nodes.size(), m = original_.edges.size();
    for (std::size_t i = 0; i < n; ++i) {
        bool other_kind;
        const NodeValue* node = entry_of<NodeValue>(node_lists_[i], row, other_kind);
        const core::TypeRef& written = original_.nodes[i].type_obj;
        fixed_nodes_[i] = node;
        if (other_kind || (node && written && !core::equal(*written, *node->type))) possible = false;
        forward_.nodes[i].type_obj = node ? node->type : written;
        backward_.nodes[n - 1 - i].type_obj = forward_.nodes[i].type_obj;
        any_fixed_ |= node != nullptr;
    }
    for (std::size_t h = 0; h < m; ++h) {
        bool other_kind;
        const EdgeValue* edge = entry_of<EdgeValue>(edge_lists_[h], row, other_kind);
        const std::optional<core::Term>& written = original_.edges[h].term;
        fixed_edges_[h] = edge;
        if (other_kind || (edge && written && !core::equal(*written, edge->core->term))) possible = false;
        if (edge) forward_.edges[h].term = edge->core->term;
        else forward_.edges[h].term = written;
        backward_.edges[m - 1 - h].term = forward_.edges[h].term;
        any_fixed_ |= edge != nullptr;
    }
    return true;
}

bool ExistsProbe::test(std::size_t row, bool& found) {
    found = false;
    std::size_t n = original_.nodes.size(), m = original_.edges.size();
    if (m > 0 && n != m + 1) return true; // no other shape of path has a meaning
    bool possible;
    if (!fix(row, possible)) return false;
    if (!possible) return true;
    if (m == 0) return side_by_side(found);
    return search_chain(found);
}

bool ExistsProbe::search_chain(bool& found) {
    auto probe = [&](std::unique_ptr<ChainProbe>& slot, PathPatternValue& path, const NodeValue* anchor) {
        if (!slot) slot = std::make_unique<ChainProbe>(state_, path);
        return slot->exists(anchor, found);
    };
    if (fixed_nodes_.front()) return probe(forward_probe_, forward_, fixed_nodes_.front());
    if (fixed_nodes_.back()) return probe(backward_probe_, backward_, fixed_nodes_.back());
    // A fixed end edge: the chain starts at one of its two nodes.
    for (bool backward : {false, true}) {
        const EdgeValue* edge = backward ? fixed_edges_.back() : fixed_edges_.front();
        if (!edge) continue;
        for (const NodeValue* end : {&edge->core->start, &edge->core->end}) {
            if (!probe(backward ? backward_probe_ : forward_probe_, backward ? backward_ : forward_, end)) return false;
            if (found) return true;
        }
        return true;
    }
    if (any_fixed_) return probe(forward_probe_, forward_, nullptr);
    if (!unanchored_) {
        if (!probe(forward_probe_, forward_, nullptr)) return false;
        unanchored_ = found;
    }
    found = *unanchored_;
    return true;
}

// Node patterns side by side: each must accept some node (its fixed one).
bool ExistsProbe::side_by_side(bool& found) {
    for (std::size_t i = 0; i < forward_.nodes.size(); ++i) {
        NodePatternValue& pattern = forward_.nodes[i];
        if (fixed_nodes_[i]) {
            MatchResult result = node_matches(pattern, *fixed_nodes_[i]);
            if (result == MatchResult::Error) return false;
            if (result == MatchResult::NoMatch) return true;
            continue;
        }
        if (!free_nodes_[i]) {
            bool any = false;
            bool ok = for_each_accepted_node(state_.graph.nodes.get(), pattern, [&](const NodeValue&, PyObject*) {
                any = true;
                return false;
            });
            if (!ok) return false;
            free_nodes_[i] = any;
        }
        if (!*free_nodes_[i]) return true;
    }
    found = true;
    return true;
}

} // namespace velarto::py::query
