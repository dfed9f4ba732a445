// A walk over a node dict that runs a few entries ahead of its caller and
// asks the processor to fetch what the caller is about to read.
//
// Every node has its own properties dict and often its own type, allocated
// wherever they were made; a scan that reads or counts them waits on a cache
// miss for each, then another for the dict's table. Issued early enough, the
// loads overlap with the work on the nodes before. Only the parts the caller
// reads are asked for: a needless fetch takes memory bandwidth from the rest.
//
// The values handed out are borrowed from the dict, read before the caller's
// work on the entries in front of them. That holds only while the dict is
// unchanged: a caller that runs Python code must check the dict (DictWatch)
// before asking for the next entry. The walk checks for signals itself, at
// the same pace as SignalCheck: a handler is Python code and may change the
// dict, so after each check the entries read ahead are read again from the
// dict as it is now, just as a plain PyDict_Next loop would go on.
#pragma once

#include <Python.h>

#include <cstdint>

#include "classes.hpp"
#include "graph_elements.hpp"
#include "prefetch.hpp"

namespace velarto::py {

class NodeLookahead {
public:
    struct Parts {
        bool type = false;       // the type's node: its digest (a type test)
        bool type_name = false;  // and its name, in the next line (a schema test)
        bool properties = false; // the properties dict (a property test)
        bool table = false;      // the dict's table (a property test looks keys up)
    };

    NodeLookahead(PyObject* dict, Parts parts) : dict_(dict), parts_(parts) {}

    // The next value of the dict, borrowed, or nullptr past the last one or
    // when a signal handler raised (then `failed()`); its key (borrowed) goes
    // to `key` when given.
    PyObject* next(PyObject** key = nullptr) {
        if ((++steps_ & kSignalMask) == 0) {
            if (PyErr_CheckSignals() != 0) {
                failed_ = true;
                return nullptr;
            }
            if (count_ != 0) { // read again from the head's place
                position_ = positions_[head_];
                count_ = 0;
                exhausted_ = false;
            }
        }
        while (count_ < kDepth && !exhausted_) {
            const Py_ssize_t at = position_;
            PyObject *entry_key, *value;
            if (!PyDict_Next(dict_, &position_, &entry_key, &value)) {
                exhausted_ = true;
                break;
            }
            const unsigned slot = (head_ + count_) & kMask;
            ring_[slot] = value;
            keys_[slot] = entry_key;
            positions_[slot] = at;
            ++count_;
            prefetch(value);
        }
        if (count_ == 0) return nullptr;
        if (key) *key = keys_[head_];
        PyObject* value = ring_[head_];
        head_ = (head_ + 1) & kMask;
        --count_;
        // Each load is issued once the one it depends on has had a third of
        // the ring to arrive: the Node, then its parts, then the dict's table.
        if (count_ > 2 * kStage) fetch_parts(node_at(2 * kStage));
        if (parts_.table && count_ > kStage) fetch_table(node_at(kStage));
        return value;
    }

    bool failed() const { return failed_; }

private:
    static constexpr unsigned kStage = 8;
    static constexpr unsigned kDepth = 32;
    static constexpr unsigned kMask = kDepth - 1;
    static constexpr std::uint32_t kSignalMask = 4095; // as SignalCheck

    // Only hints: nothing here may fail or raise (an entry that is not a Node
    // raises when the caller reaches it, in order).
    const NodeValue* node_at(unsigned ahead) const {
        PyObject* value = ring_[(head_ + ahead) & kMask];
        return Py_TYPE(value) == NodeType ? &as<NodeObject>(value)->value.read() : nullptr;
    }

    void fetch_parts(const NodeValue* node) const {
        if (!node) return;
        if (parts_.type) prefetch(node->type.get());
        if (parts_.type_name) prefetch(reinterpret_cast<const char*>(node->type.get()) + 64);
        if (parts_.properties) prefetch(node->properties.get());
    }

    static void fetch_table(const NodeValue* node) {
        PyObject* properties = node ? node->properties.get() : nullptr;
        if (!properties || !PyDict_Check(properties)) return;
        const char* table = reinterpret_cast<const char*>(reinterpret_cast<PyDictObject*>(properties)->ma_keys);
        prefetch(table);
        prefetch(table + 64);
    }

    PyObject* dict_;
    Parts parts_;
    Py_ssize_t position_ = 0;
    PyObject* ring_[kDepth] = {};
    PyObject* keys_[kDepth] = {};
    Py_ssize_t positions_[kDepth] = {};
    std::uint32_t steps_ = 0;
    bool failed_ = false;
    unsigned head_ = 0;
    unsigned count_ = 0;
    bool exhausted_ = false;
};

} // namespace velarto::py
