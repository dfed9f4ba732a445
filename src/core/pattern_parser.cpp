// The pattern-string parser.
//
// Stage 1 walks the trimmed text once, keeping a parenthesis depth P and a
// bracket depth B (both may go negative) and two buffers. Characters inside a
// parenthesised group go to the node buffer; characters between groups go to
// the edge buffer, and a top-level '(' closes the pending edge. The rules test
// P > 0 for blanks and ordinary characters but P != 0 for '-', '<', '>', '['
// and ']', so after a stray ')' the arrow characters land in the node buffer
// while letters count as standing outside any element. Those asymmetries are
// deliberate and kept exactly: a text is accepted or rejected, with the same
// message, by the same rules everywhere.
//
// Token texts are stored one after another in a single arena, so a path of
// ten thousand nodes costs a handful of allocations, and every later pass
// (trimming, the arrow and bracket searches, the name and schema split) looks
// at each code point of a token a bounded number of times: the whole parse is
// linear in the length of the text.
#include "pattern_parser.hpp"

#include <cstddef>
#include <cstdint>

#include "text.hpp"

namespace velarto::core {

namespace {

// ---------------------------------------------------------------- values

struct TokenSpan {
    bool is_node;
    std::size_t begin; // into Tokens::arena
    std::size_t size;
};

struct Tokens {
    std::u32string arena;
    std::vector<TokenSpan> spans;

    void push(bool is_node, std::u32string_view text) {
        spans.push_back({is_node, arena.size(), text.size()});
        arena.append(text);
    }
    std::u32string_view text(const TokenSpan& span) const {
        return std::u32string_view(arena).substr(span.begin, span.size);
    }
};

std::optional<std::string> optional_text(std::u32string_view text) {
    if (text.empty()) return std::nullopt;
    return to_utf8(text);
}

// ------------------------------------------------------- stage 1: cutting

std::string unexpected_character(char32_t c) {
    std::string reason = "Unexpected character '";
    append_utf8(reason, c);
    reason += "' outside of node or edge pattern";
    return reason;
}

// Cuts the trimmed, non-empty text t into tokens; returns the first failure.
std::optional<VelartoError> cut_tokens(std::u32string_view t, Tokens& tokens) {
    std::int64_t parens = 0;   // P
    std::int64_t brackets = 0; // B
    std::u32string node;
    std::u32string edge;
    tokens.arena.reserve(t.size());

    for (char32_t c : t) {
        switch (c) {
        case U' ': case U'\t': case U'\n': case U'\r':
            if (parens > 0) node += c;
            else if (brackets > 0) edge += c;
            break;
        case U'(':
            if (parens == 0 && brackets == 0) {
                // A node starts: the text since the last node is one edge.
                if (!edge.empty()) {
                    std::u32string_view pending = trim(edge);
                    if (!pending.empty()) tokens.push(false, pending);
                }
                edge.clear();
                node.clear();
                parens = 1;
            } else {
                ++parens;
            }
            node += c;
            break;
        case U')':
            node += c;
            --parens;
            if (parens == 0 && brackets == 0) {
                tokens.push(true, node);
                node.clear();
            }
            break;
        case U'-': case U'<': case U'>':
            if (parens != 0) node += c;
            else edge += c;
            break;
        case U'[': case U']':
            if (parens != 0) {
                node += c;
            } else {
                edge += c;
                brackets += c == U'[' ? 1 : -1;
            }
            break;
        default:
            if (parens > 0) node += c;
            else if (brackets > 0) edge += c;
            else return invalid_pattern(to_utf8(t), unexpected_character(c));
        }
    }

    if (parens != 0) return invalid_pattern(to_utf8(t), "Unmatched parentheses in pattern");
    if (brackets != 0) return invalid_pattern(to_utf8(t), "Unmatched brackets in pattern");
    if (!edge.empty()) return invalid_pattern(to_utf8(t), "Pattern cannot end with an edge");
    return std::nullopt;
}

// ------------------------------------------ stage 2: reading the tokens

// The variable and schema of a node's or edge's inner text x (trimmed).
ParsedElement read_name_and_schema(std::u32string_view x) {
    if (std::size_t brace = x.find(U'{'); brace != x.npos) x = trim(x.substr(0, brace));

    ParsedElement element;
    std::size_t colon = x.find(U':');
    if (colon == x.npos) {
        element.variable = optional_text(x);
        return element;
    }
    element.variable = optional_text(trim(x.substr(0, colon)));
    std::u32string_view schema = trim(x.substr(colon + 1));
    if (schema.empty()) return element;
    if (schema.find(U'$') != schema.npos) {
        element.schema = to_utf8(schema);
    } else {
        std::string wrapped = "$";
        wrapped += to_utf8(schema);
        wrapped += '$';
        element.schema = std::move(wrapped);
    }
    return element;
}

Result<ParsedElement> read_node(std::u32string_view token) {
    std::u32string_view s = trim(token);
    if (s.empty() || s.front() != U'(' || s.back() != U')')
        return invalid_pattern(to_utf8(s), "Node pattern must be enclosed in parentheses");
    return read_name_and_schema(trim(s.substr(1, s.size() - 2)));
}

Result<ParsedEdge> read_edge(std::u32string_view token) {
    std::u32string_view s = trim(token);

    // One scan for everything the direction depends on; the text between
    // the brackets counts as much as the arrows around them.
    bool has_dash = false, has_arrow = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != U'-') continue;
        has_dash = true;
        if (i + 1 < s.size() && s[i + 1] == U'>') {
            has_arrow = true;
            break; // nothing further can change the answer
        }
    }
    bool opens_left = !s.empty() && s.front() == U'<';
    if (opens_left && has_arrow)
        return invalid_pattern(to_utf8(s), "Cannot have both <- and -> in same edge");

    ParsedEdge edge;
    if (opens_left && has_dash) edge.direction = "backward";
    else if (has_arrow || (!s.empty() && s.back() == U'>')) edge.direction = "forward";
    else edge.direction = "any";

    std::size_t open = s.find(U'[');
    if (open == s.npos) return invalid_pattern(to_utf8(s), "Edge pattern must contain brackets");
    std::size_t close = s.rfind(U']');
    if (close == s.npos)
        return invalid_pattern(to_utf8(s), "Edge pattern must contain closing bracket");
    if (open >= close) return invalid_pattern(to_utf8(s), "Brackets are mismatched");

    static_cast<ParsedElement&>(edge) = read_name_and_schema(trim(s.substr(open + 1, close - open - 1)));
    return edge;
}

// Stages 0 and 1: the trimmed text and its tokens, or the first failure.
std::optional<VelartoError> trim_and_cut(std::string_view utf8_text, std::u32string& code_points,
                                         std::u32string_view& t, Tokens& tokens) {
    code_points = to_code_points(utf8_text);
    t = trim(code_points);
    if (t.empty()) return invalid_pattern("", "Pattern cannot be empty");
    return cut_tokens(t, tokens);
}

} // namespace

// ------------------------------------------------------------ the parser

Result<ParsedPath> parse_path_pattern(std::string_view utf8_text) {
    std::u32string code_points;
    std::u32string_view t;
    Tokens tokens;
    if (auto failure = trim_and_cut(utf8_text, code_points, t, tokens)) return std::move(*failure);

    ParsedPath path;
    std::size_t node_count = 0;
    for (const TokenSpan& span : tokens.spans) node_count += span.is_node;
    path.nodes.reserve(node_count);
    path.edges.reserve(tokens.spans.size() - node_count);
    for (const TokenSpan& span : tokens.spans) {
        if (span.is_node) {
            Result<ParsedElement> node = read_node(tokens.text(span));
            if (!node) return std::move(node.error());
            path.nodes.push_back(std::move(node.value()));
        } else {
            Result<ParsedEdge> edge = read_edge(tokens.text(span));
            if (!edge) return std::move(edge.error());
            path.edges.push_back(std::move(edge.value()));
        }
    }

    // Stage 3: the counts.
    if (path.nodes.empty())
        return invalid_pattern(to_utf8(t), "Pattern must contain at least one node");
    if (path.edges.size() >= path.nodes.size())
        return invalid_pattern(to_utf8(t), "Invalid pattern: too many edges for the number of nodes");
    return path;
}

Result<std::vector<PatternToken>> tokenize_path_pattern(std::string_view utf8_text) {
    std::u32string code_points;
    std::u32string_view t;
    Tokens tokens;
    if (auto failure = trim_and_cut(utf8_text, code_points, t, tokens)) return std::move(*failure);

    std::vector<PatternToken> out;
    out.reserve(tokens.spans.size());
    for (const TokenSpan& span : tokens.spans) out.push_back({span.is_node, to_utf8(tokens.text(span))});
    return out;
}

Result<ParsedElement> read_node_token(std::string_view utf8_token) {
    return read_node(to_code_points(utf8_token));
}

Result<ParsedEdge> read_edge_token(std::string_view utf8_token) {
    return read_edge(to_code_points(utf8_token));
}

} // namespace velarto::core
