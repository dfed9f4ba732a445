// A few recently used edge topologies, found by dict address and version,
// dropped when their dict is freed and trimmed to a budget in bytes.
#include "query/edge_topology.hpp"

#include <algorithm>
#include <array>

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "interrupts.hpp"

namespace velarto::py::query {

namespace {

struct KeptTopology {
    PyObject* dict = nullptr; // identity only: never dereferenced
    std::uint64_t version = 0;
    std::shared_ptr<EdgeTopology> topology;
};

// Most programs query one or two graphs; the least recently used entry goes.
std::array<KeptTopology, 4> kept;

// What all entries but the first may hold together. An index takes about a
// quarter of the memory of its graph (130 MB for a million edges).
constexpr std::size_t kKeptBytes = std::size_t{256} << 20;

// Drops the least recently used entries while they hold more than the budget.
// Frees C++ memory only: the entries own nothing of Python's.
void trim_kept() {
    auto bytes = [](const KeptTopology& entry) { return entry.topology ? entry.topology->bytes() : 0; };
    std::size_t total = 0;
    for (std::size_t i = 1; i < kept.size(); ++i) total += bytes(kept[i]);
    for (std::size_t i = kept.size() - 1; i > 0 && total > kKeptBytes; --i) {
        total -= bytes(kept[i]);
        kept[i] = KeptTopology{};
    }
}

// The dict is being freed: its entries can never match again (a new dict at
// its address gets another version), and would only hold memory.
void forget_freed(PyObject* dict) {
    for (KeptTopology& entry : kept) {
        if (entry.dict == dict) entry = KeptTopology{};
    }
}

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
    const std::uint64_t version = dict_version(dict);
    if (version == 0) {
        // The dict cannot be watched: nothing can be kept for it.
        PyErr_Clear();
        return make_topology(dict);
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i].dict == dict && kept[i].version == version) {
            std::rotate(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(i),
                        kept.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            trim_kept(); // a search may have grown an entry since the last trim
            return kept[0].topology;
        }
    }
    std::shared_ptr<EdgeTopology> made = make_topology(dict);
    if (!made) return nullptr;
    on_dict_freed(forget_freed);
    // A stale entry of the same dict goes first, then the least recently used.
    auto slot = std::find_if(kept.begin(), kept.end(), [&](const KeptTopology& k) { return k.dict == dict; });
    if (slot == kept.end()) slot = kept.end() - 1;
    std::rotate(kept.begin(), slot, slot + 1);
    kept[0] = KeptTopology{dict, version, made};
    trim_kept();
    return made;
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
