// A few recently used structures made from dicts (the edge index of an edge
// dict, the table of a node dict), found by dict address and version.
//
// A version changes on every write and is never repeated by another dict,
// even one at the same address after the first is freed (dict_version.hpp).
// So an entry names its dict by address and version only and owns nothing
// of Python's: while the version matches, the dict itself holds every object
// the entry points at. Entries are dropped when their dict is freed (as far
// as the interpreter lets that be heard) and trimmed to a budget in bytes:
// the most recently used stays whatever its size, since it is what makes the
// next query on a big graph quick; the others go, least recently used first.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "dict_version.hpp"

namespace velarto::py::query {

// `Made` has `std::size_t bytes() const`.
template <class Made>
class KeptPerDict {
public:
    // What is kept for `dict` as it is now, else `make(dict)` (nullptr with
    // an exception set on failure), kept while the dict can be watched.
    // `forget` is the function that calls this cache's `forget`.
    template <class Make>
    std::shared_ptr<Made> current(PyObject* dict, Make make, DictFreedListener forget) {
        const std::uint64_t version = dict_version(dict);
        if (version == 0) {
            PyErr_Clear(); // the dict cannot be watched: nothing can be kept for it
            return make(dict);
        }
        if (std::shared_ptr<Made> found = find(dict, version)) return found;
        std::shared_ptr<Made> made = make(dict);
        if (!made) return nullptr;
        on_dict_freed(forget);
        keep(dict, version, made);
        return made;
    }

    // The entry of `dict` at `version`, now the most recently used; nullptr
    // when none is kept.
    std::shared_ptr<Made> find(PyObject* dict, std::uint64_t version) {
        for (std::size_t i = 0; i < kept_.size(); ++i) {
            if (kept_[i].dict == dict && kept_[i].version == version) {
                std::rotate(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(i),
                            kept_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                trim(); // a search may have grown an entry since the last trim
                return kept_[0].made;
            }
        }
        return nullptr;
    }

    // Keeps `made` as the most recently used; a stale entry of the same dict
    // goes first, then the least recently used.
    void keep(PyObject* dict, std::uint64_t version, std::shared_ptr<Made> made) {
        auto slot = std::find_if(kept_.begin(), kept_.end(), [&](const Entry& entry) { return entry.dict == dict; });
        if (slot == kept_.end()) slot = kept_.end() - 1;
        std::rotate(kept_.begin(), slot, slot + 1);
        kept_[0] = Entry{dict, version, std::move(made)};
        trim();
    }

    // The dict is being freed: its entries can never match again (a new dict
    // at its address gets another version), and would only hold memory.
    // Frees C++ memory only.
    void forget(PyObject* dict) {
        for (Entry& entry : kept_) {
            if (entry.dict == dict) entry = Entry{};
        }
    }

private:
    struct Entry {
        PyObject* dict = nullptr; // identity only: never dereferenced
        std::uint64_t version = 0;
        std::shared_ptr<Made> made;
    };

    // What all entries but the first may hold together.
    static constexpr std::size_t kKeptBytes = std::size_t{256} << 20;

    void trim() {
        auto bytes = [](const Entry& entry) { return entry.made ? entry.made->bytes() : 0; };
        std::size_t total = 0;
        for (std::size_t i = 1; i < kept_.size(); ++i) total += bytes(kept_[i]);
        for (std::size_t i = kept_.size() - 1; i > 0 && total > kKeptBytes; --i) {
            total -= bytes(kept_[i]);
            kept_[i] = Entry{};
        }
    }

    // Most programs query one or two graphs.
    std::array<Entry, 4> kept_;
};

} // namespace velarto::py::query
