// Type schemas, compiled: a schema text is read once into a small tree of
// decisions, and every match walks that tree instead of the text.
//
// The matcher is defined as a walk over the text: trim, try the wildcard, the
// simple delimited form, a capture group, a plain name, and finally an arrow
// split, re-wrapping every sub-pattern in `$...$` and starting over. Every one
// of those decisions looks at the text alone, never at the type, so the walk
// can be done ahead of time. What is left for match time is five kinds of
// node: Always, Never, a variable name to compare, a capture around a child,
// and an arrow with a left and a right child. No string is built at match
// time; names are views into the kept copy of the text.
//
// Invariants:
// - Node 0 is the root. Children always have larger indices than their
//   parent, and the tree lives in one flat vector, so destroying a schema
//   never recurses, however deep the pattern nests.
// - Neither compiling nor matching recurses on the C stack: both use explicit
//   stacks. A match visits at most one pattern node per node of the tree.
// - Compiling is linear in the length of the text: the questions the reader
//   asks of a piece of text ("does it contain `->`?", "where is its first
//   `:`?", "where is its first arrow at depth 0?") are answered from tables
//   built in one pass, not by scanning the piece again.
//
// The non-obvious decision: a text that trims to a lone `$` is not read as the
// simple delimited form. A single character cannot be both the opening and
// the closing delimiter, so the text falls through to the plain-name reading
// and matches only a variable named `$`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "type.hpp"

namespace velarto::core {

// One recorded capture. A match records captures in a fixed order (a group's
// inner groups before the group itself, a left side before its right side);
// when a name repeats, the later entry is the one that counts.
struct Capture {
    std::string name;
    TypeRef type;
};

template <class Pos>
class SchemaReader;

class CompiledSchema {
public:
    // Never fails on any text (beyond running out of memory).
    static std::shared_ptr<const CompiledSchema> compile(std::string_view text);

    // Does the type fit? No captures are kept.
    bool matches(const TypeNode& type) const;

    // Does the type fit? On true, `out` holds the captures in record order;
    // on false it is empty. A null reference fits nothing.
    bool capture(const TypeRef& type, std::vector<Capture>& out) const;

    // When the schema accepts exactly one type (only names and arrows, no
    // wildcard, group or dead end), that type; else empty.
    const TypeRef& exact_type() const { return exact_; }

    // What a type's shape must hold to fit (type_shape.hpp).
    friend std::optional<std::vector<std::string>> shape_requirements(const CompiledSchema& schema);

    // Number of nodes in the compiled tree (for tests and diagnostics).
    std::size_t size() const { return nodes_.size(); }

private:
    CompiledSchema() = default;  // only compile() makes one, so node 0 always exists

    enum class Op : std::uint8_t {
        Always,       // fits every type
        Never,        // fits no type
        Name,         // a variable whose name is `text`
        WrappedName,  // a variable whose name is `$` + `text` + `$`
        Capture,      // `first` must fit; then record the type under `text`
        Arrow,        // an application whose left fits `first`, right fits `second`
    };

    struct Node {
        Op op = Op::Never;
        std::size_t first = 0, second = 0;  // child nodes
        std::size_t begin = 0, length = 0;  // `text`: a piece of text_
    };

    std::string_view text_of(const Node& node) const {
        return std::string_view(text_).substr(node.begin, node.length);
    }
    bool accepts_leaf(const Node& node, const TypeNode& type) const;

    std::string text_;        // the pattern, kept so that names can be views
    std::vector<Node> nodes_;
    TypeRef exact_;

    void find_exact_type();

    template <class Pos>
    friend class SchemaReader;
};

} // namespace velarto::core
