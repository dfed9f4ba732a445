// The kept edge topologies, and what they make on first use.
#include "query/edge_topology.hpp"

#include <algorithm>

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "interrupts.hpp"
#include "query/kept_per_dict.hpp"

namespace velarto::py::query {

namespace {

KeptPerDict<EdgeTopology> kept_topologies;

void forget_freed_topology(PyObject* dict) { kept_topologies.forget(dict); }

std::shared_ptr<EdgeTopology> make_topology(PyObject* dict) {
    auto topology = std::make_shared<EdgeTopology>();
    topology->edges.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!edge_value(value)) return nullptr;
        topology->edges.push_back(value);
    }
    const std::vector<PyObject*>& edges = topology->edges;
    auto core_of = [&](std::size_t i) -> const EdgeCore& { return *reinterpret_cast<EdgeObject*>(edges[i])->value.read().core; };
    topology->index.build(
        edges.size(), [&](std::size_t i) -> const core::Digest& { return core_of(i).start.type->digest(); },
        [&](std::size_t i) -> const core::Digest& { return core_of(i).end.type->digest(); });
    return topology;
}

} // namespace

std::shared_ptr<EdgeTopology> edge_topology(PyObject* dict) {
    return kept_topologies.current(dict, make_topology, forget_freed_topology);
}

const std::vector<std::uint32_t>* EdgeTopology::edges_of_term_type(const core::TypeNode& type) {
    if (term_types == TermTypes::Unknown) {
        // Worth it only when each type has many edges on average.
        const std::size_t most_types = std::max<std::size_t>(64, edges.size() / 16);
        const core::TypeNode* last_type = nullptr;
        std::vector<std::uint32_t>* last = nullptr;
        term_types = TermTypes::Known;
        for (std::size_t i = 0; i < edges.size(); ++i) {
            const core::TypeNode* term_type = reinterpret_cast<EdgeObject*>(edges[i])->value.read().core->term.type.get();
            if (term_type != last_type) {
                last_type = term_type;
                last = &by_term_type[term_type->digest()];
                if (by_term_type.size() > most_types) {
                    term_types = TermTypes::TooMany;
                    by_term_type.clear();
                    break;
                }
            }
            last->push_back(static_cast<std::uint32_t>(i));
        }
        for (const auto& [digest, positions] : by_term_type) term_type_bytes += positions.capacity() * sizeof(std::uint32_t) + 64;
    }
    if (term_types == TermTypes::TooMany) return nullptr;
    static const std::vector<std::uint32_t> none;
    auto found = by_term_type.find(type.digest());
    return found == by_term_type.end() ? &none : &found->second;
}

const core::TypeNode* exact_term_type(const EdgePatternValue& pattern) {
    if (pattern.term) return pattern.term->type.get();
    if (pattern.term_type_schema) return pattern.term_type_schema->tree().exact_type().get();
    return nullptr;
}

} // namespace velarto::py::query
