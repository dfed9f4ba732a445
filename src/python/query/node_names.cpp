// Node ids by uid and by display form, made on first use.
#include "query/node_names.hpp"

#include <cstring>

#include "graph_elements.hpp"
#include "query/edge_topology.hpp"

namespace velarto::py::query {

namespace {

std::uint64_t leading_word(const core::Digest& digest) {
    std::uint64_t word;
    std::memcpy(&word, digest.data(), sizeof word);
    return word;
}

} // namespace

void NodeNames::learn_types(const EdgeTopology& topology) {
    if (!types_.empty() || topology.edges.empty()) return;
    types_.assign(topology.index.node_count(), nullptr);
    for (std::size_t i = 0; i < topology.edges.size(); ++i) {
        const EdgeCore& core = *reinterpret_cast<EdgeObject*>(topology.edges[i])->value.read().core;
        types_[topology.index.start_id(i)] = core.start.type.get();
        types_[topology.index.end_id(i)] = core.end.type.get();
    }
    bytes_ += types_.capacity() * sizeof(types_[0]);
}

const std::vector<std::uint32_t>* NodeNames::with_uid(const EdgeTopology& topology, const core::Digest& digest) {
    if (!uids_known_) {
        learn_types(topology);
        for (std::uint32_t id = 0; id < types_.size(); ++id) {
            by_uid_[leading_word(types_[id]->node_digest())].push_back(id);
        }
        uids_known_ = true;
        bytes_ += by_uid_.size() * 48;
    }
    auto found = by_uid_.find(leading_word(digest));
    return found == by_uid_.end() ? nullptr : &found->second; // a superset: the search tests each node
}

const std::vector<std::uint32_t>* NodeNames::with_display(const EdgeTopology& topology, const std::string& text) {
    if (!displays_known_) {
        learn_types(topology);
        for (std::uint32_t id = 0; id < types_.size(); ++id) {
            std::string shown = core::display(*types_[id]);
            bytes_ += shown.capacity() + 64;
            by_display_[std::move(shown)].push_back(id);
        }
        displays_known_ = true;
    }
    auto found = by_display_.find(text);
    return found == by_display_.end() ? nullptr : &found->second;
}

} // namespace velarto::py::query
