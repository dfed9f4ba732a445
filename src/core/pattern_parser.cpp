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
// message, by the same rules everywhere. The one addition: inside a property
// map (`{` in an element), a quoted text is taken whole, so that
// `(n {name: 'a)b'})` is one node; texts without a brace are cut as before.
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
    std::int64_t maps = 0;     // `{` depth inside the element being cut
    char32_t quote = 0;        // the open quote of a text inside a map
    bool escaped = false;
    std::u32string node;
    std::u32string edge;
    tokens.arena.reserve(t.size());

    for (char32_t c : t) {
        if (quote) {
            // Inside a map's text every character is the text's own.
            (parens > 0 ? node : edge) += c;
            if (escaped) escaped = false;
            else if (c == U'\\') escaped = true;
            else if (c == quote) quote = 0;
            continue;
        }
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
                maps = 0;
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
                maps = 0;
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
            if (c == U'{') ++maps;
            else if (c == U'}' && maps > 0) --maps;
            else if ((c == U'\'' || c == U'"') && maps > 0) quote = c;
        }
    }

    if (quote) {
        return invalid_pattern(to_utf8(trim(parens > 0 ? node : edge)), "Unterminated text in property map");
    }
    if (parens != 0) return invalid_pattern(to_utf8(t), "Unmatched parentheses in pattern");
    if (brackets != 0) return invalid_pattern(to_utf8(t), "Unmatched brackets in pattern");
    if (!edge.empty()) return invalid_pattern(to_utf8(t), "Pattern cannot end with an edge");
    return std::nullopt;
}

// ------------------------------------------ stage 2: reading the tokens

// Where a `*` stands for the schema wildcard rather than a range: at the
// start of a schema, after its opening `$`, or after `:`, `->` or `(`.
bool in_type_position(std::u32string_view before) {
    before = trim(before);
    if (before.empty() || before == U"$") return true;
    char32_t last = before.back();
    return last == U':' || last == U'>' || last == U'(';
}

bool looks_like_range(std::u32string_view text) {
    for (char32_t c : text) {
        if (!(c >= U'0' && c <= U'9') && c != U'.' && !is_white_space(c)) return false;
    }
    return true;
}

std::optional<std::string> read_range(std::u32string_view after_star, std::optional<HopRange>& out) {
    HopRange range;
    if (auto failure = read_hop_range(to_utf8(after_star), range)) return failure;
    out = range;
    return std::nullopt;
}

void schema_from(std::u32string_view schema, ParsedElement& element) {
    if (schema.empty()) return;
    if (schema.find(U'$') != schema.npos) {
        element.schema = to_utf8(schema);
    } else {
        std::string wrapped = "$";
        wrapped += to_utf8(schema);
        wrapped += '$';
        element.schema = std::move(wrapped);
    }
}

// The variable, schema and map of a node's or edge's inner text x (trimmed),
// and for an edge its range. Returns what is wrong, if anything.
std::optional<std::string> read_element(std::u32string_view x, ParsedElement& element,
                                        std::optional<HopRange>* range) {
    std::u32string_view map;
    if (std::size_t brace = x.find(U'{'); brace != x.npos) {
        map = x.substr(brace);
        x = trim(x.substr(0, brace));
    }
    std::size_t colon = x.find(U':');
    std::u32string_view before = colon == x.npos ? x : trim(x.substr(0, colon));
    if (range) {
        if (std::size_t star = before.find(U'*'); star != before.npos) {
            // A range right after the variable; nothing may follow it.
            if (colon != x.npos) return std::string("A range must come after the type, not before it");
            if (auto failure = read_range(before.substr(star + 1), *range)) return failure;
            before = trim(before.substr(0, star));
        }
    }
    element.variable = optional_text(before);
    if (colon != x.npos) {
        std::u32string_view schema = trim(x.substr(colon + 1));
        std::size_t star = range ? schema.rfind(U'*') : schema.npos;
        if (star != schema.npos && looks_like_range(schema.substr(star + 1)) &&
            !in_type_position(schema.substr(0, star))) {
            // A range right after a whole schema.
            if (auto failure = read_range(schema.substr(star + 1), *range)) return failure;
            schema = trim(schema.substr(0, star));
        }
        schema_from(schema, element);
    }
    if (!map.empty()) return read_property_map(to_utf8(map), element.properties);
    return std::nullopt;
}

Result<ParsedElement> read_node(std::u32string_view token) {
    std::u32string_view s = trim(token);
    if (s.empty() || s.front() != U'(' || s.back() != U')')
        return invalid_pattern(to_utf8(s), "Node pattern must be enclosed in parentheses");
    ParsedElement element;
    element.text = to_utf8(s);
    if (auto failure = read_element(trim(s.substr(1, s.size() - 2)), element, nullptr)) {
        return invalid_pattern(std::move(element.text), std::move(*failure));
    }
    return element;
}

Result<ParsedEdge> read_edge(std::u32string_view token) {
    std::u32string_view s = trim(token);

    // One scan for everything the direction depends on; the text between
    // the brackets counts as much as the arrows around them.
    // A property map's text does not count.
    bool has_dash = false, has_arrow = false;
    std::size_t maps = 0;
    char32_t quote = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (quote) {
            if (s[i] == U'\\') ++i;
            else if (s[i] == quote) quote = 0;
            continue;
        }
        if (s[i] == U'{') ++maps;
        if (maps > 0) {
            if (s[i] == U'}') --maps;
            else if (s[i] == U'\'' || s[i] == U'"') quote = s[i];
            continue;
        }
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

    edge.text = to_utf8(s);
    if (auto failure = read_element(trim(s.substr(open + 1, close - open - 1)), edge, &edge.range)) {
        return invalid_pattern(std::move(edge.text), std::move(*failure));
    }
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
