// Reading property maps and hop ranges.
//
// The map reader walks the UTF-8 text itself for the map's own punctuation
// (`{`, `:`, `,`, `}`) and hands each key and value to the condition lexer,
// started at the key's or value's first byte: the lexer reads lazily, so it
// lexes exactly the tokens asked of it, and the walk resumes at the end of
// the last one. Every reason names the key it concerns and what was found,
// so that "Invalid pattern '(p {name: })': ..." says what to fix.
#include "pattern_map.hpp"

#include <charconv>
#include <unordered_set>

#include "condition_lexer.hpp"
#include "text.hpp"

namespace velarto::core {

namespace {

// The "what" of a lexer error, without the column and text that the
// condition parser's messages add. A character the lexer does not know (the
// map's own `}` or `:` among them) is reported as what was found where
// `expected` should stand.
std::string lexer_reason(const ConditionLexer& lexer, const std::string& expected) {
    std::string message = lexer.error().first;
    std::size_t cut = message.find(" at column ");
    if (cut != std::string::npos) message.resize(cut);
    const std::string unknown = "unexpected character ";
    if (message.compare(0, unknown.size(), unknown) == 0) return expected + ", found " + message.substr(unknown.size());
    if (!message.empty() && message[0] >= 'a' && message[0] <= 'z') message[0] = static_cast<char>(message[0] - 'a' + 'A');
    return message + " in property map";
}

// One value, lexed from where it starts; `end` is where its last token ends.
class ValueReader {
public:
    ValueReader(std::string_view text, const std::string& key) : text_(text), lexer_(text), key_(key) {}

    std::optional<std::string> read(PatternLiteral& out) { return value(lexer_.next(), out, 0); }
    std::size_t end() const { return end_; }

private:
    std::string unexpected(const Token& found, const char* expected) const {
        std::string wanted = std::string("Expected ") + expected + " for key '" + key_ + "' in property map";
        if (found.kind == Tok::Invalid) return lexer_reason(lexer_, wanted);
        return wanted + ", found " + (found.kind == Tok::End ? "the end of the map" : describe_token(found, text_));
    }
    std::optional<std::string> value(Token token, PatternLiteral& out, std::size_t depth);

    std::string_view text_;
    ConditionLexer lexer_;
    const std::string& key_;
    std::size_t end_ = 0;
};

std::optional<std::string> ValueReader::value(Token token, PatternLiteral& out, std::size_t depth) {
    std::string sign;
    if (token.kind == Tok::Minus) {
        sign = "-";
        token = lexer_.next();
        if (token.kind != Tok::Integer && token.kind != Tok::Float) return unexpected(token, "a number after '-'");
    }
    end_ = token.end;
    switch (token.kind) {
    case Tok::Integer:
    case Tok::Float:
        out.kind = token.kind == Tok::Integer ? PatternLiteral::Kind::Integer : PatternLiteral::Kind::Float;
        out.text = sign + std::string(text_.substr(token.begin, token.end - token.begin));
        return std::nullopt;
    case Tok::String:
        out.kind = PatternLiteral::Kind::String;
        out.text = std::move(token.value);
        return std::nullopt;
    case Tok::Parameter:
        if (depth > 0) break; // a whole value, never a list item
        out.kind = PatternLiteral::Kind::Parameter;
        out.text = std::move(token.value);
        return std::nullopt;
    case Tok::Word:
        if (token.keyword == Keyword::True) out.kind = PatternLiteral::Kind::True;
        else if (token.keyword == Keyword::False) out.kind = PatternLiteral::Kind::False;
        else if (token.keyword == Keyword::Null) out.kind = PatternLiteral::Kind::Null;
        else break;
        return std::nullopt;
    case Tok::LBracket: {
        if (depth >= kMaxLiteralDepth) return std::string("Lists nested too deeply in property map");
        out.kind = PatternLiteral::Kind::List;
        Token next = lexer_.next();
        while (next.kind != Tok::RBracket) {
            if (auto failure = value(next, out.items.emplace_back(), depth + 1)) return failure;
            next = lexer_.next();
            if (next.kind == Tok::RBracket) break;
            if (next.kind != Tok::Comma) return unexpected(next, "',' or ']' in a list");
            next = lexer_.next(); // an item must follow: `[1, ]` is refused
            if (next.kind == Tok::RBracket) return unexpected(next, "a literal value");
        }
        end_ = next.end;
        return std::nullopt;
    }
    default:
        break;
    }
    return unexpected(token, "a literal value");
}

class MapReader {
public:
    explicit MapReader(std::string_view text) : text_(text) {}

    std::optional<std::string> read(std::vector<PatternProperty>& out);

private:
    void skip_blanks() {
        while (pos_ < text_.size()) {
            std::size_t next = pos_;
            if (!is_white_space(decode_utf8(text_, next))) return;
            pos_ = next;
        }
    }
    bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    std::string found_here() const {
        if (pos_ >= text_.size()) return "the end of the map";
        std::size_t next = pos_;
        decode_utf8(text_, next);
        std::string found(1, '\'');
        found.append(text_.substr(pos_, next - pos_));
        found.push_back('\'');
        return found;
    }
    std::optional<std::string> key(std::string& out);

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::optional<std::string> MapReader::key(std::string& out) {
    ConditionLexer lexer(text_.substr(pos_));
    Token token = lexer.next();
    if (token.kind == Tok::Invalid) return lexer_reason(lexer, "Expected a key in property map");
    if (token.kind == Tok::Word) {
        out = std::string(text_.substr(pos_ + token.begin, token.end - token.begin));
    } else if (token.kind == Tok::String || token.kind == Tok::Quoted) {
        out = std::move(token.value);
    } else {
        std::string what = token.kind == Tok::End ? "the end of the map" : describe_token(token, text_.substr(pos_));
        return "Expected a key in property map, found " + what;
    }
    pos_ += token.end;
    return std::nullopt;
}

std::optional<std::string> MapReader::read(std::vector<PatternProperty>& out) {
    std::unordered_set<std::string> seen; // keys so far: a long map stays linear
    skip_blanks();
    if (!at('{')) return "Expected '{' to open a property map, found " + found_here();
    ++pos_;
    skip_blanks();
    if (at('}')) {
        ++pos_;
    } else {
        while (true) {
            PatternProperty property;
            if (auto failure = key(property.key)) return failure;
            if (!seen.insert(property.key).second) return "Duplicate key '" + property.key + "' in property map";
            skip_blanks();
            if (!at(':')) {
                return "Expected ':' after key '" + property.key + "' in property map, found " + found_here();
            }
            ++pos_;
            ValueReader reader(text_.substr(pos_), property.key);
            if (auto failure = reader.read(property.value)) return failure;
            pos_ += reader.end();
            out.push_back(std::move(property));
            skip_blanks();
            if (at('}')) {
                ++pos_;
                break;
            }
            if (!at(',')) {
                if (pos_ >= text_.size()) return std::string("Property map is not closed");
                return "Expected ',' or '}' after the value of key '" + out.back().key + "' in property map, found " +
                       found_here();
            }
            ++pos_;
            skip_blanks();
            if (at('}')) return std::string("Trailing comma in property map");
        }
    }
    skip_blanks();
    if (pos_ < text_.size()) return "Unexpected " + found_here() + " after property map";
    return std::nullopt;
}

// Decimal digits into a bound; false when there are none or too many.
bool read_bound(std::string_view digits, std::uint32_t& out) {
    if (digits.empty()) return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return error == std::errc() && end == digits.data() + digits.size();
}

void render_literal(const PatternLiteral& value, std::string& out) {
    switch (value.kind) {
    case PatternLiteral::Kind::Integer:
    case PatternLiteral::Kind::Float: out += value.text; return;
    case PatternLiteral::Kind::String:
        out += '\'';
        for (char c : value.text) {
            if (c == '\'' || c == '\\') out += '\\';
            out += c;
        }
        out += '\'';
        return;
    case PatternLiteral::Kind::True: out += "true"; return;
    case PatternLiteral::Kind::False: out += "false"; return;
    case PatternLiteral::Kind::Null: out += "null"; return;
    case PatternLiteral::Kind::Parameter: out += '$' + value.text; return;
    case PatternLiteral::Kind::List:
        out += '[';
        for (std::size_t i = 0; i < value.items.size(); ++i) {
            if (i) out += ", ";
            render_literal(value.items[i], out);
        }
        out += ']';
        return;
    }
}

} // namespace

std::optional<std::string> read_property_map(std::string_view utf8_map, std::vector<PatternProperty>& out) {
    return MapReader(utf8_map).read(out);
}

std::optional<std::string> read_hop_range(std::string_view utf8_after_star, HopRange& out) {
    std::string_view text = trim(utf8_after_star);
    auto invalid = [&] { return "Invalid range '*" + std::string(text) + "'"; };
    std::size_t dots = text.find("..");
    if (dots == std::string_view::npos) {
        out = HopRange{};
        if (text.empty()) return std::nullopt;
        std::uint32_t exact;
        if (!read_bound(text, exact)) return invalid();
        out.min = exact;
        out.max = exact;
        return std::nullopt;
    }
    std::string_view low = trim(text.substr(0, dots)), high = trim(text.substr(dots + 2));
    out = HopRange{};
    if (!low.empty() && !read_bound(low, out.min)) return invalid();
    if (!high.empty()) {
        std::uint32_t max;
        if (!read_bound(high, max)) return invalid();
        out.max = max; // a minimum above it matches nothing, as in openCypher
    }
    return std::nullopt;
}

std::string render_properties(const std::vector<PatternProperty>& properties) {
    std::string out = "{";
    for (std::size_t i = 0; i < properties.size(); ++i) {
        if (i) out += ", ";
        out += properties[i].key;
        out += ": ";
        render_literal(properties[i].value, out);
    }
    out += '}';
    return out;
}

std::string render_range(const HopRange& range) {
    std::string out = std::to_string(range.min) + "..";
    if (range.max) out += std::to_string(*range.max);
    return out;
}

} // namespace velarto::core
