// Property maps and hop ranges of pattern strings: `{name: 'Ann', age: 30}`
// after a node's or edge's name and type, `*1..3` after an edge's.
//
// A map's values are literals of the condition language (texts with its
// escapes, integers and floats with an optional leading '-', true, false,
// null, lists of literals), lexed by the condition lexer itself so that a
// literal reads the same in a pattern as in a `where` condition. Keys are
// bare words, quoted texts or backticked names. A value may also be a
// parameter, `$name`, read when a run uses the pattern. The engine keeps
// literals as texts; the binding turns them into Python objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velarto::core {

struct PatternLiteral {
    enum class Kind : std::uint8_t { Integer, Float, String, True, False, Null, List, Parameter };
    Kind kind = Kind::Null;
    std::string text;                  // Integer, Float: as written ('-' included); String: decoded;
                                       // Parameter: the name after '$' (a whole value, never in a list)
    std::vector<PatternLiteral> items; // List
};

struct PatternProperty {
    std::string key;
    PatternLiteral value;
};

// Lists nest at most this deep, so reading, converting and freeing a value
// never recurses further.
inline constexpr std::size_t kMaxLiteralDepth = 100;

// Reads a whole map text, `{` to `}` (blanks around allowed), into `out`.
// Returns what is wrong, or nothing on success.
std::optional<std::string> read_property_map(std::string_view utf8_map, std::vector<PatternProperty>& out);

// The range of a variable-length edge: at least `min` hops, at most `max`
// (none: no upper bound). A minimum above the maximum matches nothing.
struct HopRange {
    std::uint32_t min = 1;
    std::optional<std::uint32_t> max;
};

// Reads the text after a range's `*` ("", "3", "1..3", "..3", "2..", "..").
// Returns what is wrong, or nothing on success.
std::optional<std::string> read_hop_range(std::string_view utf8_after_star, HopRange& out);

// A canonical text of a map and of a range, for tests and diagnostics:
// `{key: value, ...}` with texts in single quotes, and `m..n` / `m..`.
std::string render_properties(const std::vector<PatternProperty>& properties);
std::string render_range(const HopRange& range);

} // namespace velarto::core
