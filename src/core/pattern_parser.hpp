// The pattern-string parser: "(a:A)-[r]->(b:B)" into node and edge elements.
//
// Parsing runs in three stages over the code points of the text: the whole
// text is trimmed and must not be empty; it is cut into node and edge tokens
// by a small depth-counting state machine; each token is read into a variable
// name, a type-schema text and a property map (and, for an edge, a direction
// and a hop range); finally the counts are checked. The first failure found stops the parse and is returned
// as an InvalidPattern error. The binding turns the result into NodePattern
// and EdgePattern objects.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "pattern_map.hpp"

namespace velarto::core {

struct ParsedElement {
    std::string text; // the token as written, trimmed: what a failure names
    std::optional<std::string> variable;
    std::optional<std::string> schema; // a type-schema text such as "$Person$"
    std::vector<PatternProperty> properties; // from a `{...}` map
};

struct ParsedEdge : ParsedElement {
    std::string direction; // "forward", "backward" or "any"
    std::optional<HopRange> range; // a variable-length edge: `*`, `*2`, `*1..3`, ...
};

struct ParsedPath {
    std::vector<ParsedElement> nodes;
    std::vector<ParsedEdge> edges;
};

// Parses a UTF-8 pattern string. Never throws (beyond allocation failure),
// runs in time linear in the length of the text.
Result<ParsedPath> parse_path_pattern(std::string_view utf8_text);

// The tokens of the cutting stage alone, for tests and diagnostics: the
// trimmed text cut into node and edge tokens, or the first failure of the
// first two stages.
struct PatternToken {
    bool is_node;
    std::string text;
};
Result<std::vector<PatternToken>> tokenize_path_pattern(std::string_view utf8_text);

// The reading of one token by itself, as the second stage does it. Tokens cut
// by the first stage never fail some of these checks (a node token always
// stands in parentheses, an edge token holds as many '[' as ']'), so these
// are the only way to reach those checks.
Result<ParsedElement> read_node_token(std::string_view utf8_token);
Result<ParsedEdge> read_edge_token(std::string_view utf8_token);

} // namespace velarto::core
