// Chains counted by degrees: the second hops from each node are counted once,
// then each first hop adds the count at the node it reaches, less the first
// hop's own edge when that edge could also be its second hop. O(edges).
//
// Node tests read only types here (no property maps), so a test is decided
// once per node id: every node with that id has the same type.
//
// A counted match binds a table whose rows are listed, by the same search
// over the values the count saw, only when a step reads them (`pending`).
#include "prefetch.hpp"
#include "query/chain_count.hpp"

#include <cstdint>
#include <unordered_map>

#include "query/chain_matcher.hpp"

namespace velarto::py::query {

namespace {

// One edge taken one way round: the node ids it leaves and reaches.
struct Orientation {
    std::uint32_t from, to;
    bool reversed;
};

enum class Way { Forward, Backward, Any };

Way way_of(const EdgePatternValue& pattern) {
    if (pattern.direction == "backward") return Way::Backward;
    return pattern.direction == "any" ? Way::Any : Way::Forward;
}

// The ways round an edge is taken by a hop written `way`: forward start to
// end, backward end to start, undirected both, a self-loop once.
int orientations(Way way, const EdgeIndex& index, std::size_t edge, Orientation out[2]) {
    const std::uint32_t start = index.start_id(edge), end = index.end_id(edge);
    if (way == Way::Backward) {
        out[0] = {end, start, true};
        return 1;
    }
    out[0] = {start, end, false};
    if (way == Way::Forward || start == end) return 1;
    out[1] = {end, start, true};
    return 2;
}

// A node test decided once per node id.
class NodeTest {
public:
    NodeTest(const NodePatternValue& pattern, std::uint32_t nodes)
        : pattern_(pattern), open_(!pattern.type_obj && !pattern.type_schema), known_(open_ ? 0 : nodes, -1) {}

    bool accepts(std::uint32_t id, const NodeValue& node) {
        if (open_) return true;
        if (known_[id] < 0) known_[id] = node_matches(pattern_, node) == MatchResult::Match;
        return known_[id] == 1;
    }

private:
    const NodePatternValue& pattern_;
    bool open_;
    std::vector<std::int8_t> known_;
};

const NodeValue& end_node(const EdgeValue& edge, bool reversed, bool arriving) {
    return arriving != reversed ? edge.core->end : edge.core->start;
}

// A schema test reads the edge's core, then its term's type; both lie
// wherever the edge was made. Asked for ahead, the loads overlap. Without a
// schema nothing is asked for: the test may not read them at all.
void fetch_ahead(const EdgePatternValue& pattern, const std::vector<const EdgeValue*>& edges, std::size_t e) {
    constexpr std::size_t kCore = 16, kType = 8;
    if (!pattern.term_type_schema) return;
    if (e + kCore < edges.size()) prefetch(edges[e + kCore]->core.get());
    if (e + kType < edges.size()) prefetch(edges[e + kType]->core->term.type.get());
}

} // namespace

std::size_t count_chains(const PathPatternValue& path, EdgeTopology& topology, const std::vector<const EdgeValue*>& edges,
                         const std::vector<std::int32_t>& same_place) {
    const EdgeIndex& index = topology.index;
    auto edges_of = [&](const EdgePatternValue& pattern) {
        const core::TypeNode* type = exact_term_type(pattern);
        return type ? topology.edges_of_term_type(*type) : nullptr;
    };
    const std::uint32_t nodes = index.node_count();
    const bool two_hops = path.edges.size() == 2;
    // Places that must hold one node: the first place of each one's variable.
    auto first_place = [&](std::size_t place) {
        return place < same_place.size() && same_place[place] >= 0 ? static_cast<std::size_t>(same_place[place]) : place;
    };
    const bool same01 = first_place(1) == 0;
    const bool same12 = two_hops && first_place(2) == first_place(1);
    // A cycle back to the first node (but not through one node throughout):
    // second hops are counted per pair of ends, not per node they leave.
    const bool by_pair = two_hops && first_place(2) == 0 && !same01;
    std::unordered_map<std::uint64_t, std::size_t> pair_hops;
    auto pair = [](std::uint32_t from, std::uint32_t to) { return std::uint64_t{from} << 32 | to; };
    const Way first_way = way_of(path.edges[0]), second_way = two_hops ? way_of(path.edges[1]) : Way::Forward;
    NodeTest first(path.nodes[0], nodes), middle(path.nodes[1], nodes);
    std::vector<NodeTest> last;
    if (two_hops) last.emplace_back(path.nodes[2], nodes);
    // Per edge, whether the second hop's edge test takes it; per node, the
    // second hops leaving it that reach an accepted last node.
    std::vector<std::uint8_t> second_edge;
    std::vector<std::size_t> second_hops;
    Orientation ways[2];
    if (two_hops) {
        second_edge.resize(edges.size());
        second_hops.assign(nodes, 0);
        // Each edge, or each of the one term type the pattern allows.
        const std::vector<std::uint32_t>* only = edges_of(path.edges[1]);
        const std::size_t count = only ? only->size() : edges.size();
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t e = only ? (*only)[k] : k;
            if (!only) fetch_ahead(path.edges[1], edges, e);
            second_edge[e] = edge_accepts(path.edges[1], *edges[e]) == MatchResult::Match;
            if (!second_edge[e]) continue;
            for (int k = orientations(second_way, index, e, ways); k-- > 0;) {
                const Orientation& hop = ways[k];
                if (same12 && hop.from != hop.to) continue;
                if (!last[0].accepts(hop.to, end_node(*edges[e], hop.reversed, true))) continue;
                if (by_pair) {
                    ++pair_hops[pair(hop.from, hop.to)];
                } else {
                    ++second_hops[hop.from];
                }
            }
        }
    }
    std::size_t chains = 0;
    Orientation again[2];
    const std::vector<std::uint32_t>* only = edges_of(path.edges[0]);
    const std::size_t count = only ? only->size() : edges.size();
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t e = only ? (*only)[k] : k;
        if (!only) fetch_ahead(path.edges[0], edges, e);
        if (edge_accepts(path.edges[0], *edges[e]) != MatchResult::Match) continue;
        for (int k = orientations(first_way, index, e, ways); k-- > 0;) {
            const Orientation& hop = ways[k];
            if (same01 && hop.from != hop.to) continue;
            if (!first.accepts(hop.from, end_node(*edges[e], hop.reversed, false)) ||
                !middle.accepts(hop.to, end_node(*edges[e], hop.reversed, true))) {
                continue;
            }
            if (!two_hops) {
                ++chains;
                continue;
            }
            std::size_t onward = 0;
            if (by_pair) {
                auto found = pair_hops.find(pair(hop.to, hop.from));
                if (found != pair_hops.end()) onward = found->second;
            } else {
                onward = second_hops[hop.to];
            }
            if (second_edge[e]) { // the same edge cannot be taken twice
                for (int j = orientations(second_way, index, e, again); j-- > 0;) {
                    const Orientation& back = again[j];
                    if (back.from == hop.to && (!same12 || back.to == back.from) &&
                        last[0].accepts(back.to, end_node(*edges[e], back.reversed, true))) {
                        --onward;
                    }
                }
            }
            chains += onward;
        }
    }
    return chains;
}

namespace {

// What a counted match keeps to list its rows when they are first read.
struct FrozenChains {
    PathPatternValue path;
    std::shared_ptr<EdgeTopology> topology;
    std::size_t cap;
    bool joined; // repeated variables joined
};

} // namespace

std::shared_ptr<ChainTable> ChainMatcher::counted_table() {
    if (path_.edges.size() > 2 || !load_edges() || !tables_fit()) return nullptr;
    // The search records rows until it has `cap` of them (at least one).
    const std::size_t found = matches_nothing() ? 0 : count_chains(path_, *topology_, values_, same_place_);
    const std::size_t rows = std::min(found, std::max<std::size_t>(cap, 1));
    auto table = std::make_shared<ChainTable>();
    table->hops = path_.edges.size();
    if (rows == 0) return table;
    table->counted = rows;
    auto frozen = std::make_shared<const FrozenChains>(FrozenChains{path_, topology_, cap, joined_});
    table->pending = [frozen](ChainTable& listing, bool interruptible) {
        // The values as the count saw them: the held objects', or the copies
        // made when some Edge's properties were assigned since.
        std::vector<const EdgeValue*> values;
        if (!listing.edge_objects.empty()) {
            values.reserve(listing.edge_objects.size());
            for (const Ref& object : listing.edge_objects) values.push_back(edge_value(object.get()));
        } else {
            values.reserve(listing.store->values.size());
            for (const EdgeValue& value : listing.store->values) values.push_back(&value);
        }
        ChainMatcher lister(frozen->path, frozen->topology, std::move(values));
        lister.cap = frozen->cap;
        if (frozen->joined) lister.join_repeated_variables();
        lister.chains = std::shared_ptr<ChainTable>(std::shared_ptr<ChainTable>(), &listing); // not owned
        lister.interruptible = interruptible;
        return lister.run(); // no Python code, no dict: only a signal (when checked) or memory can fail
    };
    table->hold_edge_objects(std::move(edges_)); // after `pending` is set: it is read
    return table;
}

} // namespace velarto::py::query
