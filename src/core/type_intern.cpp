// The intern table: open addressing with linear probing over node pointers,
// keyed by the nodes' own kept digests (their first eight bytes are already a
// uniform hash; the top 16 of them ride along in each slot). Removal shifts the following entries back instead of leaving
// tombstones, so a table that lives as long as the process never fills with
// them. The table grows at 70 % load and shrinks below 1/8, so a graph that
// is freed gives its slots back.
//
// Every access holds the interpreter lock (the values are shared through
// non-atomic counts), so the table needs no lock of its own.
#include "type_intern.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

namespace velarto::core {

namespace {

constexpr std::size_t kSmallest = 64;

// A slot holds a node's address with 16 bits of its digest in the top bits,
// which user-space addresses leave clear: a probe compares those bits and
// reads a node only when they agree, so a miss touches no node at all.
constexpr int kTagShift = 48;

std::uint64_t hash_of(const Digest& digest) {
    std::uint64_t bits;
    std::memcpy(&bits, digest.data(), sizeof bits);
    return bits;
}

std::uintptr_t tag_of(std::uint64_t hash) { return static_cast<std::uintptr_t>(hash >> kTagShift) << kTagShift; }

const TypeNode* node_in(std::uintptr_t slot) {
    return reinterpret_cast<const TypeNode*>(slot & ((std::uintptr_t{1} << kTagShift) - 1));
}

struct Table {
    std::vector<std::uintptr_t> slots; // empty, or a power of two; 0 is a free slot
    std::size_t count = 0;
};

// Never destroyed: a value freed while the process exits may still ask it to
// forget a node.
Table& table() {
    static Table* instance = new Table;
    return *instance;
}

// Moves every entry into a table of `capacity` slots; false (nothing changed)
// when memory runs out.
bool rehash(Table& t, std::size_t capacity) {
    std::vector<std::uintptr_t> fresh;
    try {
        fresh.assign(capacity, 0);
    } catch (...) {
        return false;
    }
    std::size_t mask = capacity - 1;
    for (std::uintptr_t slot : t.slots) {
        if (!slot) continue;
        std::size_t i = hash_of(node_in(slot)->digest()) & mask;
        while (fresh[i]) i = (i + 1) & mask;
        fresh[i] = slot;
    }
    t.slots.swap(fresh);
    return true;
}

// Structural equality, answered at once in the common cases: an application
// built from the very children of the shared value, or a variable.
bool same(const TypeNode& held, const TypeNode& node) {
    if (held.tag() != node.tag()) return false;
    if (held.is_variable()) return held.name() == node.name();
    if (held.left().get() == node.left().get() && held.right().get() == node.right().get()) return true;
    return equal(held, node);
}

} // namespace

void TypeInterner::intern(TypeRef& type) noexcept {
    const TypeNode* node = type.get();
    if (!node || node->interned()) return;
    auto address = reinterpret_cast<std::uintptr_t>(node);
    if (address >> kTagShift) return; // no room for the tag (never on today's systems)
    try {
        const Digest& digest = node->digest();
        Table& t = table();
        if ((t.count + 1) * 10 > t.slots.size() * 7 && !rehash(t, t.slots.empty() ? kSmallest : 2 * t.slots.size())) {
            if (t.count + 1 >= t.slots.size()) return; // keep one slot free, so probes end
        }
        std::uint64_t hash = hash_of(digest);
        std::uintptr_t tag = tag_of(hash);
        std::size_t mask = t.slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            std::uintptr_t slot = t.slots[i];
            if (!slot) {
                t.slots[i] = address | tag;
                ++t.count;
                node->flags_ |= TypeNode::kInterned;
                return;
            }
            if ((slot ^ tag) >> kTagShift) continue;
            const TypeNode* held = node_in(slot);
            if (held->digest_ != digest) continue;
            if (!same(*held, *node)) return;
            TypeNode* shared = const_cast<TypeNode*>(held);
            ++shared->refs_;
            type = TypeRef(shared);
            return;
        }
    } catch (...) {
        // Out of memory while computing the digest or comparing: left unshared.
    }
}

std::size_t TypeInterner::size() noexcept { return table().count; }

void TypeInterner::forget(const TypeNode* node) noexcept {
    Table& t = table();
    std::size_t mask = t.slots.size() - 1;
    std::size_t i = hash_of(node->digest_) & mask;
    while (node_in(t.slots[i]) != node) i = (i + 1) & mask;
    // Backward shift: move up every later entry of the run whose home does not
    // lie cyclically in (i, j], so that no probe meets a hole before its entry.
    for (std::size_t j = (i + 1) & mask; t.slots[j]; j = (j + 1) & mask) {
        std::size_t k = hash_of(node_in(t.slots[j])->digest_) & mask;
        bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
        if (stays) continue;
        t.slots[i] = t.slots[j];
        i = j;
    }
    t.slots[i] = 0;
    --t.count;
    if (t.slots.size() > kSmallest && t.count * 8 < t.slots.size()) rehash(t, t.slots.size() / 2);
}

} // namespace velarto::core
