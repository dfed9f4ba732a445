// The node ids of a kept edge index by uid and by display form: what a
// search that starts from `uid(p) = '...'` or `type(p) = 'Person'` looks up.
//
// Made on first use from the edges' ends (one pass, no Python code) and kept
// with the topology, which keeps the edges and so the types named here.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/type.hpp"

namespace velarto::py::query {

struct EdgeTopology;

class NodeNames {
public:
    // The ids of the nodes whose uid is `digest`: none or one.
    const std::vector<std::uint32_t>* with_uid(const EdgeTopology& topology, const core::Digest& digest);
    // The ids of the nodes whose type displays as `text`.
    const std::vector<std::uint32_t>* with_display(const EdgeTopology& topology, const std::string& text);
    std::size_t bytes() const { return bytes_; }

private:
    void learn_types(const EdgeTopology& topology);

    std::vector<const core::TypeNode*> types_; // per node id
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> by_uid_; // by the uid's first 8 bytes
    std::unordered_map<std::string, std::vector<std::uint32_t>> by_display_;
    bool uids_known_ = false, displays_known_ = false;
    std::size_t bytes_ = 0;
};

} // namespace velarto::py::query
