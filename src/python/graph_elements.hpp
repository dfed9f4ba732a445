// Node and edge values and their Python classes.
//
// A node value is a shared type plus an owned reference to a properties dict;
// an edge value shares an immutable core (term, start node, end node, and the
// edge's digest once computed) plus its own properties reference. Copying
// either copies references, never dicts: a copy sees writes into the same
// properties dict, while assigning a new dict to one holder leaves the other.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "core/term.hpp"
#include "classes.hpp"
#include "core/type.hpp"
#include "held_value.hpp"
#include "ref.hpp"

namespace velarto::py {

struct NodeValue {
    core::TypeRef type;
    Ref properties;

    const core::Digest& digest() const; // SHA-256 of "node:" + uid(type), kept by the type
};

struct EdgeCore {
    core::Term term;
    NodeValue start;
    NodeValue end;
    mutable core::Digest edge_digest{}; // all zeros until computed

    const core::Digest& digest() const; // SHA-256 of "edge:" + uid(term)
};

// A shared, immutable edge core: an intrusive count in front of the core, in
// one block from Python's small-object allocator (no allocator header), and a
// handle one pointer wide, so that an Edge object is 32 bytes.
class EdgeCoreRef {
public:
    EdgeCoreRef() = default;
    EdgeCoreRef(const EdgeCoreRef& other) : block_(other.block_) {
        if (block_) ++block_->refs;
    }
    EdgeCoreRef(EdgeCoreRef&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    EdgeCoreRef& operator=(EdgeCoreRef other) noexcept {
        std::swap(block_, other.block_);
        return *this;
    }
    ~EdgeCoreRef() { release(); }

    // A new core holding `core`; an empty handle (with MemoryError set) when
    // memory runs out.
    static EdgeCoreRef make(EdgeCore core);
    // A core made elsewhere as a shared_ptr is copied into a block of its own
    // (empty, with MemoryError set, when memory runs out).
    template <class Core>
    EdgeCoreRef(const std::shared_ptr<Core>& made) : EdgeCoreRef(make(*made)) {} // NOLINT: converts
    template <class Core>
    EdgeCoreRef& operator=(const std::shared_ptr<Core>& made) {
        return *this = make(*made);
    }

    explicit operator bool() const { return block_ != nullptr; }
    const EdgeCore& operator*() const { return block_->core; }
    const EdgeCore* operator->() const { return &block_->core; }
    const EdgeCore* get() const { return block_ ? &block_->core : nullptr; }

private:
    struct Block {
        std::uint32_t refs;
        EdgeCore core;
    };
    void release() noexcept {
        Block* block = std::exchange(block_, nullptr);
        if (block && --block->refs == 0) destroy(block);
    }
    static void destroy(Block* last) noexcept;

    Block* block_ = nullptr;
};

struct EdgeValue {
    EdgeCoreRef core;
    Ref properties;

    const core::Digest& digest() const { return core->digest(); }
};

struct NodeObject {
    PyObject_HEAD
    HeldValue<NodeValue> value;
};

struct EdgeObject {
    PyObject_HEAD
    HeldValue<EdgeValue> value;
};

PyObject* node_to_python(const NodeValue& node);
PyObject* edge_to_python(const EdgeValue& edge);
// New objects that read `node` / `edge` in place, in a table that `keeper`
// keeps alive (held_value.hpp).
PyObject* shared_node_to_python(const NodeValue* node, ValueKeeper* keeper);
PyObject* shared_edge_to_python(const EdgeValue* edge, ValueKeeper* keeper);

// Called before an Edge's `properties` is assigned: query tables that read
// Edge objects instead of copies of their values copy them now.
void take_pending_edge_values();
void take_pending_node_values();

// How many times a Node's value was written (its `properties` assigned):
// what a kept index of node objects' dicts checks before it trusts itself.
extern std::uint64_t node_value_writes;

// Borrowed access to the value inside an object of the exact class, or
// nullptr with the conversion TypeError set.
// Inline: scans call them once per element.
const NodeValue* not_a_node(PyObject* object); // raises TypeError, returns nullptr
const EdgeValue* not_an_edge(PyObject* object);
inline const NodeValue* node_value(PyObject* object) {
    return Py_TYPE(object) == NodeType ? &reinterpret_cast<NodeObject*>(object)->value.read() : not_a_node(object);
}
inline const EdgeValue* edge_value(PyObject* object) {
    return Py_TYPE(object) == EdgeType ? &reinterpret_cast<EdgeObject*>(object)->value.read() : not_an_edge(object);
}

// Uid texts.
PyObject* node_uid_to_python(const NodeValue& node);
PyObject* edge_uid_to_python(const EdgeValue& edge);

} // namespace velarto::py
