// Fuzz target: the pattern-string parser on arbitrary bytes.
//
// Beyond "no crash": every failure is an InvalidPattern with one of the
// parser's own reasons, and every success satisfies what the parser
// guarantees (at least one node, fewer edges than nodes, directions among the
// three, schema texts never empty, ranges whose minimum is not above their
// maximum).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/pattern_parser.hpp"

using namespace velarto::core;

namespace {

bool known_reason(const std::string& reason) {
    static const char* fixed[] = {
        "Pattern cannot be empty",
        "Unmatched parentheses in pattern",
        "Unmatched brackets in pattern",
        "Pattern cannot end with an edge",
        "Node pattern must be enclosed in parentheses",
        "Cannot have both <- and -> in same edge",
        "Edge pattern must contain brackets",
        "Edge pattern must contain closing bracket",
        "Brackets are mismatched",
        "Pattern must contain at least one node",
        "Invalid pattern: too many edges for the number of nodes",
    };
    for (const char* text : fixed) {
        if (reason == text) return true;
    }
    std::string_view r = reason;
    if (r.find("property map") != r.npos || r.find("Property map") != r.npos) return true; // a malformed map
    if (r.starts_with("Invalid range '*") || r.starts_with("Range '*") || r.starts_with("A range must")) return true;
    return r.starts_with("Unexpected character '") && r.ends_with("' outside of node or edge pattern");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Result<ParsedPath> parsed = parse_path_pattern(text);
    if (!parsed) {
        const VelartoError& error = parsed.error();
        if (error.kind != ErrorKind::InvalidPattern || !known_reason(error.second)) std::abort();
        return 0;
    }
    const ParsedPath& path = parsed.value();
    if (path.nodes.empty() || path.edges.size() >= path.nodes.size()) std::abort();
    for (const ParsedEdge& edge : path.edges) {
        if (edge.direction != "forward" && edge.direction != "backward" && edge.direction != "any") std::abort();
        if (edge.schema && edge.schema->empty()) std::abort();
        if (edge.range && edge.range->max && *edge.range->max < edge.range->min) std::abort();
    }
    for (const ParsedElement& node : path.nodes) {
        if (node.schema && node.schema->empty()) std::abort();
    }
    return 0;
}
