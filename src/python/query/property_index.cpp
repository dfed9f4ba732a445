// Building, checking and reading the property indexes of a topology.
#include "query/property_index.hpp"

#include <algorithm>

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "prefetch.hpp"
#include "query/edge_topology.hpp"

namespace velarto::py::query {

bool judged_by_hash(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type ||
           value == Py_None;
}

namespace {

enum class Held { Value, Missing, Unjudged };

// What `dict` holds under `key`, found by walking the dict: a look-up could
// call the `==` of a str subclass key. `out` is borrowed from the dict.
Held read_value(PyObject* dict, PyObject* key, Py_hash_t key_hash, PyObject*& out) {
    Held held = Held::Missing;
    Py_ssize_t position = 0;
    PyObject *entry_key, *value;
    while (PyDict_Next(dict, &position, &entry_key, &value)) {
        if (!PyUnicode_CheckExact(entry_key)) return Held::Unjudged;
        if (entry_key != key && (PyObject_Hash(entry_key) != key_hash || PyUnicode_Compare(entry_key, key) != 0)) continue;
        if (value == Py_None) {
            out = value;
            held = Held::Missing; // and indexed under None's hash, for a map that asks for None
            continue;
        }
        if (!judged_by_hash(value)) return Held::Unjudged;
        out = value;
        held = Held::Value;
    }
    return held;
}

} // namespace

DictOwners end_node_dicts(const EdgeTopology& topology) {
    // Each node's dict as the first edge end shows it; the ends whose copy
    // holds another dict are rarer.
    std::vector<PyObject*> first(topology.index.node_count(), nullptr);
    DictOwners others;
    for (std::size_t i = 0; i < topology.edges.size(); ++i) {
        const EdgeCore& core = *reinterpret_cast<EdgeObject*>(topology.edges[i])->value.read().core;
        const std::pair<std::uint32_t, PyObject*> ends[2] = {{topology.index.start_id(i), core.start.properties.get()},
                                                             {topology.index.end_id(i), core.end.properties.get()}};
        for (const auto& [id, dict] : ends) {
            if (!first[id]) {
                first[id] = dict;
            } else if (first[id] != dict) {
                others.emplace_back(id, dict);
            }
        }
    }
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    DictOwners owners;
    owners.reserve(first.size() + others.size());
    for (std::uint32_t id = 0; id < first.size(); ++id) {
        if (first[id]) owners.emplace_back(id, first[id]);
    }
    owners.insert(owners.end(), others.begin(), others.end());
    return owners;
}

PropertyIndex::PropertyIndex(const DictOwners& owners, PyObject* key, bool node_objects)
    : node_objects_(node_objects), node_writes_(node_value_writes) {
    const Py_hash_t key_hash = PyObject_Hash(key); // an exact str: cached, cannot fail
    for (const auto& [id, dict] : owners) {
        dicts_.push_back(dict);
        PyObject* value = nullptr;
        switch (read_value(dict, key, key_hash, value)) {
        case Held::Unjudged: unjudged_.push_back(id); break;
        case Held::Missing:
            missing_.push_back(id);
            if (value) by_hash_.emplace_back(PyObject_Hash(value), id); // None
            break;
        case Held::Value: by_hash_.emplace_back(PyObject_Hash(value), id); break; // judged: cannot fail
        }
    }
    std::sort(by_hash_.begin(), by_hash_.end());
    for (auto* ids : {&unjudged_, &missing_}) {
        std::sort(ids->begin(), ids->end());
        ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
    }
    std::sort(dicts_.begin(), dicts_.end());
    dicts_.erase(std::unique(dicts_.begin(), dicts_.end()), dicts_.end());
    versions_.reserve(dicts_.size());
    for (PyObject* dict : dicts_) versions_.push_back(dict_version(dict));
    if (std::find(versions_.begin(), versions_.end(), 0) != versions_.end()) {
        // A dict that cannot be watched: the index can never be trusted again.
        PyErr_Clear();
        everyone_ = true;
        dicts_.clear();
        versions_.clear();
        unjudged_.clear();
        for (const auto& owner : owners) unjudged_.push_back(owner.first);
        std::sort(unjudged_.begin(), unjudged_.end());
        unjudged_.erase(std::unique(unjudged_.begin(), unjudged_.end()), unjudged_.end());
    }
    writes_ = dict_write_mark();
}

bool PropertyIndex::current() {
    if (node_objects_ && node_writes_ != node_value_writes) return false;
    if (everyone_) return true; // every node a candidate: never stale
    if (no_dict_written_since(writes_)) return true;
#if PY_VERSION_HEX < 0x030C0000
    // The version tags, read in place: one load a dict, asked for ahead
    // (they lie in address order, but a page or more apart).
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < dicts_.size(); ++i) {
        if (i + kAhead < dicts_.size()) prefetch(dicts_[i + kAhead]);
        if (reinterpret_cast<PyDictObject*>(dicts_[i])->ma_version_tag != versions_[i]) return false;
    }
#else
    for (std::size_t i = 0; i < dicts_.size(); ++i) {
        if (dict_version(dicts_[i]) != versions_[i]) return false;
    }
#endif
    return true; // and the mark has moved to now
}

void PropertyIndex::add_candidates(Py_hash_t hash, std::vector<std::uint32_t>& out) const {
    auto first = std::lower_bound(by_hash_.begin(), by_hash_.end(), std::pair<Py_hash_t, std::uint32_t>{hash, 0});
    for (auto at = first; at != by_hash_.end() && at->first == hash; ++at) out.push_back(at->second);
    out.insert(out.end(), unjudged_.begin(), unjudged_.end());
}

void PropertyIndex::add_missing(std::vector<std::uint32_t>& out) const {
    out.insert(out.end(), missing_.begin(), missing_.end());
}

std::size_t PropertyIndex::bytes() const {
    return by_hash_.capacity() * sizeof(by_hash_[0]) +
           (unjudged_.capacity() + missing_.capacity()) * sizeof(std::uint32_t) +
           dicts_.capacity() * sizeof(PyObject*) + versions_.capacity() * sizeof(std::uint64_t);
}

std::unique_ptr<PropertyIndex>* PropertyIndexes::find(PyObject* key) {
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &length);
    if (!utf8) {
        PyErr_Clear(); // a lone surrogate: no index, the scan decides
        return nullptr;
    }
    const std::string name(utf8, static_cast<std::size_t>(length));
    auto found = std::find_if(kept_.begin(), kept_.end(), [&](const auto& entry) { return entry.first == name; });
    if (found != kept_.end()) {
        std::rotate(kept_.begin(), found, found + 1);
        return &kept_[0].second;
    }
    constexpr std::size_t kKeys = 8; // the keys a program looks nodes up by are few
    if (kept_.size() == kKeys) kept_.pop_back();
    kept_.insert(kept_.begin(), {name, nullptr});
    return &kept_[0].second;
}

std::size_t PropertyIndexes::bytes() const {
    std::size_t total = 0;
    for (const auto& entry : kept_) total += entry.second->bytes();
    return total;
}

} // namespace velarto::py::query
