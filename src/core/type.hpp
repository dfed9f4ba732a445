// The type value: a variable (a name) or an application (left -> right).
//
// A `TypeNode` is immutable once built and shared through `TypeRef`, an
// intrusive, non-atomic reference count (every access holds the interpreter
// lock). Because the value never changes, its SHA-256 digest may be computed
// once and kept inside the node; nobody can tell, and every uid derived from
// it becomes cheap.
//
// Trees can be arbitrarily deep (a loop of a million nested applications), so
// no function here recurses on depth: traversals use explicit stacks, and the
// last reference to a tree frees it iteratively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "sha256.hpp"

namespace velarto::core {

enum class TypeTag : std::uint8_t { Variable = 0, Application = 1 };

class TypeNode;

class TypeRef {
public:
    TypeRef() = default;
    TypeRef(const TypeRef& other) : node_(other.node_) { retain(); }
    TypeRef(TypeRef&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
    TypeRef& operator=(TypeRef other) noexcept {
        std::swap(node_, other.node_);
        return *this;
    }
    ~TypeRef() { release(); }

    static TypeRef variable(std::string name);
    static TypeRef application(TypeRef left, TypeRef right);

    explicit operator bool() const { return node_ != nullptr; }
    const TypeNode& operator*() const { return *node_; }
    const TypeNode* operator->() const { return node_; }
    const TypeNode* get() const { return node_; }

private:
    explicit TypeRef(TypeNode* adopted) : node_(adopted) {}
    // Counting is inline (a copy is one increment); freeing a tree is not.
    inline void retain() const;
    inline void release() noexcept;
    static void destroy(TypeNode* last) noexcept;

    TypeNode* node_ = nullptr;
    friend class TypeNode;
    friend class TypeInterner;
};

// One node is 112 bytes: the name of a variable and the children of an
// application share their storage, and the kept-state bits share one byte.
// Where values are stored, equal types are shared through the intern table
// (type_intern.hpp).
class TypeNode {
public:
    TypeTag tag() const { return tag_; }
    bool is_variable() const { return tag_ == TypeTag::Variable; }
    bool is_application() const { return tag_ == TypeTag::Application; }
    const std::string& name() const { return name_; }             // variables only
    const TypeRef& left() const { return children_.left; }       // applications only
    const TypeRef& right() const { return children_.right; }     // applications only

    // SHA-256 digest of the uid text ("var:" + name, or "app:" + uid(left) +
    // ":" + uid(right)); computed on first use, iteratively, then kept.
    const Digest& digest() const { return has_digest() ? digest_ : make_digest(); }
    bool has_digest() const { return flags_ & kHasDigest; }

    // SHA-256 of "node:" + uid: the uid of every node of this type, kept too.
    const Digest& node_digest() const;

    // Whether this node is the shared value of the intern table.
    bool interned() const { return flags_ & kInterned; }

    TypeNode(const TypeNode&) = delete;
    TypeNode& operator=(const TypeNode&) = delete;

    static void* operator new(std::size_t size);
    static void operator delete(void* memory) noexcept;

private:
    enum : std::uint8_t { kHasDigest = 1, kHasNodeDigest = 2, kHasObjectHash = 4, kInterned = 8 };
    struct Children {
        TypeRef left, right;
    };

    const Digest& make_digest() const;

    explicit TypeNode(std::string name) : tag_(TypeTag::Variable), name_(std::move(name)) {}
    TypeNode(TypeRef left, TypeRef right)
        : tag_(TypeTag::Application), children_{std::move(left), std::move(right)} {}
    ~TypeNode() {
        if (is_variable()) {
            name_.~basic_string();
        } else {
            children_.~Children();
        }
    }

    mutable std::uint32_t refs_ = 1;
    TypeTag tag_;
    mutable std::uint8_t flags_ = 0;
    mutable std::uint64_t object_hash_ = 0;
    mutable Digest digest_{};
    mutable Digest node_digest_{};
    union {
        std::string name_;
        Children children_;
    };

    friend class TypeRef;
    friend class TypeInterner;
    friend std::uint64_t type_object_hash(const TypeNode& type);
};

inline void TypeRef::retain() const {
    if (node_) ++node_->refs_;
}

inline void TypeRef::release() noexcept {
    TypeNode* node = std::exchange(node_, nullptr);
    if (node && --node->refs_ == 0) destroy(node);
}

// Where type nodes get their memory: malloc and free unless changed. Only
// before the first node is made (false, nothing changed, afterwards), so that
// every node goes back to the allocator it came from. The Python module hands
// its small-object allocator here: no per-block header, so a node costs its
// 112 bytes.
bool use_node_allocator(void* (*allocate)(std::size_t), void (*release)(void*));

// The display form: a variable's name; "(" left " -> " right ")" for an application.
std::string display(const TypeNode& type);
void append_display(std::string& out, const TypeNode& type);

// Structural equality; the same shared node is equal at once.
bool equal(const TypeNode& a, const TypeNode& b);

// Appends the byte stream S(t) that the Python hashes are computed over: the
// tag as 32-bit little-endian, then a variable's name, 0xFF and four zero
// bytes, or an application's S(left), S(right) and four zero bytes.
void append_stream(std::string& out, const TypeNode& type);

// Python hash of a type object: SipHash-1-3 of the name + 0xFF for a variable,
// of S(left) + S(right) for an application. Returned as the raw 64 bits and
// kept by the value, like its digest.
std::uint64_t type_object_hash(const TypeNode& type);

} // namespace velarto::core
