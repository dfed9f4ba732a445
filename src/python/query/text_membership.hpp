// Whether a text is in a list of texts, by hash: `x IN $names` tested row
// after row reads the list once, not once a row.
//
// Python code can run between rows and change the list, so the items are
// compared by identity with those the lookup was made from before each use
// (one memcmp of pointers), and a change makes it again. Only exact str
// items and an exact str needle are decided here: their equality runs no
// Python code and is what a test item by item would find.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "ref.hpp"

namespace velarto::py::query {

class TextMembership {
public:
    // 1 when `text` (an exact str) is an item of `sequence` (a list or
    // tuple), 0 when not, -1 when some item is not an exact str.
    int contains(PyObject* sequence, PyObject* text) {
        const auto size = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence));
        PyObject** items = PySequence_Fast_ITEMS(sequence);
        if (sequence != sequence_.get() || size != items_.size() ||
            (size && std::memcmp(items, items_.data(), size * sizeof(PyObject*)) != 0)) {
            make(sequence, items, size);
        }
        if (!texts_) return -1;
        const Py_hash_t hash = PyObject_Hash(text); // an exact str: cannot fail
        auto at = std::lower_bound(by_hash_.begin(), by_hash_.end(), std::pair<Py_hash_t, PyObject*>{hash, nullptr});
        for (; at != by_hash_.end() && at->first == hash; ++at) {
            if (at->second == text || PyUnicode_Compare(at->second, text) == 0) return 1;
        }
        return 0;
    }

private:
    void make(PyObject* sequence, PyObject** items, std::size_t size) {
        sequence_ = Ref::borrow(sequence); // held: the items checked above stay its own
        items_.assign(items, items + size);
        by_hash_.clear();
        texts_ = std::all_of(items_.begin(), items_.end(), [](PyObject* item) { return PyUnicode_CheckExact(item); });
        if (!texts_) return;
        for (PyObject* item : items_) by_hash_.emplace_back(PyObject_Hash(item), item);
        std::sort(by_hash_.begin(), by_hash_.end());
    }

    Ref sequence_;
    std::vector<PyObject*> items_; // borrowed: the held sequence's items when made
    std::vector<std::pair<Py_hash_t, PyObject*>> by_hash_;
    bool texts_ = false;
};

} // namespace velarto::py::query
