// The intern table: one shared value per distinct type.
//
// A graph often holds the same type many times over (half a million edges of
// type `(A -> B)`, each built from a fresh `Application`). Where a stored value
// is made, its type is looked up here by its kept digest and replaced by the
// value already held for that type, so that all of them share one node. Types
// are immutable, so the exchange cannot be seen.
//
// The table is weak: it holds no reference, and a node leaves it when its last
// reference goes (TypeRef::release asks it to forget the node). It holds one
// pointer per slot, so an entry costs a few bytes beside the node itself.
#pragma once

#include <cstddef>

#include "type.hpp"

namespace velarto::core {

class TypeInterner {
public:
    // Replaces `type` by the shared value equal to it, or makes it that value.
    // Computes the digest if it is not kept yet. Best effort: when memory runs
    // out, or in the (never seen) case of two types with one digest, `type` is
    // left as it is.
    static void intern(TypeRef& type) noexcept;

    // Values the table holds now.
    static std::size_t size() noexcept;

private:
    friend class TypeRef;
    static void forget(const TypeNode* node) noexcept;
};

} // namespace velarto::core
