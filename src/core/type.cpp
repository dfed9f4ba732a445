// Type values: construction, iterative release, display form, digest, equality
// and the hash stream.
//
// Every walk over a tree uses an explicit stack so that depth costs heap, not
// C stack. The digest of a node is kept once computed; an application's digest
// needs its children's, so the walk is post-order and skips kept subtrees.
#include "type.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "siphash.hpp"
#include "type_intern.hpp"

namespace velarto::core {

namespace {

void* (*node_allocate)(std::size_t) = std::malloc;
void (*node_release)(void*) = std::free;
bool node_made = false;

} // namespace

bool use_node_allocator(void* (*allocate)(std::size_t), void (*release)(void*)) {
    if (node_made) return false;
    node_allocate = allocate;
    node_release = release;
    return true;
}

void* TypeNode::operator new(std::size_t size) {
    node_made = true;
    void* memory = node_allocate(size);
    if (!memory) throw std::bad_alloc();
    return memory;
}

void TypeNode::operator delete(void* memory) noexcept { node_release(memory); }

TypeRef TypeRef::variable(std::string name) { return TypeRef(new TypeNode(std::move(name))); }

TypeRef TypeRef::application(TypeRef left, TypeRef right) {
    return TypeRef(new TypeNode(std::move(left), std::move(right)));
}

void TypeRef::destroy(TypeNode* node) noexcept {
    // The last reference: free the tree without recursing, detaching children
    // before each delete so that ~TypeNode never releases a subtree itself.
    std::vector<TypeNode*> doomed{node};
    while (!doomed.empty()) {
        TypeNode* current = doomed.back();
        doomed.pop_back();
        if (current->interned()) TypeInterner::forget(current);
        if (current->is_application()) {
            for (TypeRef* child : {&current->children_.left, &current->children_.right}) {
                TypeNode* raw = std::exchange(child->node_, nullptr);
                if (raw && --raw->refs_ == 0) doomed.push_back(raw);
            }
        }
        delete current;
    }
}

void append_display(std::string& out, const TypeNode& type) {
    // Pending work: a node to print, or a literal text (" -> " or ")").
    struct Item { const TypeNode* node; const char* text; };
    std::vector<Item> stack{{&type, nullptr}};
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        if (item.text) {
            out += item.text;
        } else if (item.node->is_variable()) {
            out += item.node->name();
        } else {
            out += '(';
            stack.push_back({nullptr, ")"});
            stack.push_back({item.node->right().get(), nullptr});
            stack.push_back({nullptr, " -> "});
            stack.push_back({item.node->left().get(), nullptr});
        }
    }
}

std::string display(const TypeNode& type) {
    std::string out;
    append_display(out, type);
    return out;
}

namespace {

void compute_digest(const TypeNode& node, Digest& out) {
    Sha256 hasher;
    if (node.is_variable()) {
        hasher.update("var:", 4);
        hasher.update(node.name());
    } else {
        char text[133];
        std::memcpy(text, "app:", 4);
        digest_to_hex(node.left()->digest(), text + 4);
        text[68] = ':';
        digest_to_hex(node.right()->digest(), text + 69);
        hasher.update(text, sizeof text);
    }
    out = hasher.finish();
}

} // namespace

const Digest& TypeNode::make_digest() const {
    if (has_digest()) return digest_;
    // Post-order over the subtrees that have no digest yet; a node is digested
    // once both children are.
    std::vector<const TypeNode*> stack{this};
    while (!stack.empty()) {
        const TypeNode* node = stack.back();
        if (node->has_digest()) {
            stack.pop_back();
            continue;
        }
        if (node->is_application()) {
            const TypeNode* left = node->left().get();
            const TypeNode* right = node->right().get();
            if (!left->has_digest() || !right->has_digest()) {
                if (!right->has_digest()) stack.push_back(right);
                if (!left->has_digest()) stack.push_back(left);
                continue;
            }
        }
        compute_digest(*node, node->digest_);
        node->flags_ |= kHasDigest;
        stack.pop_back();
    }
    return digest_;
}

const Digest& TypeNode::node_digest() const {
    if (!(flags_ & kHasNodeDigest)) {
        char text[5 + 64];
        std::memcpy(text, "node:", 5);
        digest_to_hex(digest(), text + 5);
        Sha256 hasher;
        hasher.update(text, sizeof text);
        node_digest_ = hasher.finish();
        flags_ |= kHasNodeDigest;
    }
    return node_digest_;
}

namespace {

struct NodePairHash {
    std::size_t operator()(const std::pair<const TypeNode*, const TypeNode*>& pair) const {
        return std::hash<const void*>()(pair.first) * 31 + std::hash<const void*>()(pair.second);
    }
};

} // namespace

bool equal(const TypeNode& a, const TypeNode& b) {
    // Types may share subtrees (`t = Application(t, t)` doubles the tree's
    // size with one node), so a long walk remembers the pairs it has met: a
    // pair met before is proven equal or still waits on the stack, and the
    // walk stays linear in the pairs of distinct nodes instead of the size of
    // the unfolded trees. Short walks skip the bookkeeping.
    constexpr std::size_t kRememberAfter = 64;
    std::vector<std::pair<const TypeNode*, const TypeNode*>> stack{{&a, &b}};
    std::unordered_set<std::pair<const TypeNode*, const TypeNode*>, NodePairHash> met;
    std::size_t steps = 0;
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        if (x == y) continue;
        if (++steps > kRememberAfter && !met.insert({x, y}).second) continue;
        // The table holds one value per type: two different shared values differ.
        if (x->interned() && y->interned()) return false;
        if (x->tag() != y->tag()) return false;
        // Different kept digests prove a structural difference; equal ones are
        // not trusted, so the answer stays exact.
        if (x->has_digest() && y->has_digest() && x->digest() != y->digest()) return false;
        if (x->is_variable()) {
            if (x->name() != y->name()) return false;
            continue;
        }
        stack.push_back({x->right().get(), y->right().get()});
        stack.push_back({x->left().get(), y->left().get()});
    }
    return true;
}

void append_stream(std::string& out, const TypeNode& type) {
    static constexpr char variable_end[5] = {'\xFF', 0, 0, 0, 0};
    static constexpr char application_end[4] = {0, 0, 0, 0};
    auto tag = [&out](TypeTag value) {
        std::uint32_t raw = static_cast<std::uint32_t>(value);
        char bytes[4] = {static_cast<char>(raw), static_cast<char>(raw >> 8), static_cast<char>(raw >> 16),
                         static_cast<char>(raw >> 24)};
        out.append(bytes, 4);
    };
    // nullptr on the stack stands for the four zero bytes closing an application.
    std::vector<const TypeNode*> stack{&type};
    while (!stack.empty()) {
        const TypeNode* node = stack.back();
        stack.pop_back();
        if (!node) {
            out.append(application_end, sizeof application_end);
            continue;
        }
        tag(node->tag());
        if (node->is_variable()) {
            out += node->name();
            out.append(variable_end, sizeof variable_end);
        } else {
            stack.push_back(nullptr);
            stack.push_back(node->right().get());
            stack.push_back(node->left().get());
        }
    }
}

std::uint64_t type_object_hash(const TypeNode& type) {
    if (type.flags_ & TypeNode::kHasObjectHash) return type.object_hash_;
    // The stream is written out first and hashed in one pass: far cheaper than
    // feeding a streaming hasher a few bytes per node.
    std::string stream;
    if (type.is_variable()) {
        stream.reserve(type.name().size() + 1);
        stream += type.name();
        stream += '\xFF';
    } else {
        append_stream(stream, *type.left());
        append_stream(stream, *type.right());
    }
    type.object_hash_ = siphash13(stream);
    type.flags_ |= TypeNode::kHasObjectHash;
    return type.object_hash_;
}

} // namespace velarto::core
