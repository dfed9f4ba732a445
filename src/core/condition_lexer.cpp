// The condition lexer.
//
// One pass over the bytes, decoding a code point only where a byte is not
// ASCII. The position is kept as a byte offset and a column side by side;
// every token records both, so that the parser can quote a token's source
// text and name its column without walking the text again. A leading '.'
// starts a number (".5") only where a value may begin: after a name, a
// literal or a closing bracket it is the property dot.
#include "condition_lexer.hpp"

#include <cstdio>

#include "condition.hpp"
#include "text.hpp"

namespace velarto::core {

bool same_ignoring_case(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

namespace {

bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_word_start(char32_t c) { return c == '_' || is_ascii_letter(c) || (c >= 0x80 && !is_white_space(c)); }
bool is_word_part(char32_t c) { return is_word_start(c) || is_digit(c); }

int hex_digit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

Keyword keyword_of(std::string_view word) {
    static constexpr struct {
        std::string_view text;
        Keyword keyword;
    } kKeywords[] = {
        {"or", Keyword::Or},         {"xor", Keyword::Xor},   {"and", Keyword::And},
        {"not", Keyword::Not},       {"is", Keyword::Is},     {"null", Keyword::Null},
        {"in", Keyword::In},         {"starts", Keyword::Starts}, {"ends", Keyword::Ends},
        {"with", Keyword::With},     {"contains", Keyword::Contains}, {"true", Keyword::True},
        {"false", Keyword::False},
    };
    for (const auto& entry : kKeywords) {
        if (same_ignoring_case(word, entry.text)) return entry.keyword;
    }
    return Keyword::None;
}

// "'#'" for a visible character, "U+0007" for a control character.
std::string describe_character(char32_t c) {
    if (c < 0x20 || c == 0x7F) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
        return buffer;
    }
    std::string out = "'";
    append_utf8(out, c);
    out += '\'';
    return out;
}

} // namespace

// ---------------------------------------------------------------- walking

char32_t ConditionLexer::current(std::size_t& size) const {
    if (at_end()) {
        size = 0;
        return 0;
    }
    auto byte = static_cast<unsigned char>(text_[pos_]);
    if (byte < 0x80) {
        size = 1;
        return byte;
    }
    std::size_t next = pos_;
    char32_t c = decode_utf8(text_, next);
    size = next - pos_;
    return c;
}

char32_t ConditionLexer::current() const {
    std::size_t size;
    return current(size);
}

char ConditionLexer::byte_at(std::size_t ahead) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
}

void ConditionLexer::advance() {
    std::size_t size;
    current(size);
    pos_ += size;
    ++column_;
}

void ConditionLexer::skip_white_space() {
    while (!at_end() && is_white_space(current())) advance();
}

Token ConditionLexer::make(Tok kind, std::size_t begin, std::size_t column, std::string value) {
    Token token{kind, Keyword::None, column, begin, pos_, std::move(value)};
    if (kind == Tok::Word) token.keyword = keyword_of(text_.substr(begin, pos_ - begin));
    last_ = kind;
    return token;
}

Token ConditionLexer::fail(std::string what, std::size_t column) {
    error_ = condition_error(std::move(what), column, text_);
    pos_ = text_.size(); // nothing is read after an error
    return Token{Tok::Invalid, Keyword::None, column, pos_, pos_, {}};
}

// ---------------------------------------------------------------- tokens

Token ConditionLexer::next() {
    skip_white_space();
    if (at_end()) return make(Tok::End, pos_, column_);
    char32_t c = current();
    if (is_digit(c) || (c == '.' && dot_starts_number())) return number();
    if (is_word_start(c)) return word();
    if (c == '\'' || c == '"') return string(c);
    if (c == '`') return quoted_name();
    if (c == '$') return parameter();
    return punctuation(c);
}

Token ConditionLexer::parameter() {
    std::size_t begin = pos_, column = column_;
    advance();
    std::size_t name_begin = pos_;
    while (!at_end() && is_word_part(current())) advance();
    if (pos_ == name_begin) return fail("expected a parameter name after '$'", column);
    return make(Tok::Parameter, begin, column, std::string(text_.substr(name_begin, pos_ - name_begin)));
}

// Inside a pattern: skips a quoted text (or backticked name) whole, so that
// the brackets in it are not counted. False at the end of the text.
bool ConditionLexer::skip_quoted(char32_t quote) {
    advance();
    while (!at_end()) {
        char32_t c = current();
        advance();
        if (c == quote) return true;
        if (c == '\\' && quote != '`' && !at_end()) advance();
    }
    return false;
}

Token ConditionLexer::pattern_text() {
    std::size_t begin = pos_, column = column_;
    std::size_t depth = 0;
    while (true) {
        if (at_end()) return fail("unterminated exists( pattern starting", column);
        char32_t c = current();
        if (c == '\'' || c == '"' || c == '`') {
            if (!skip_quoted(c)) return fail("unterminated exists( pattern starting", column);
            continue;
        }
        if (c == ')' && depth == 0) break;
        if (c == '(' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
        advance();
    }
    std::string value(text_.substr(begin, pos_ - begin));
    advance(); // the closing ')'
    Token token = make(Tok::Pattern, begin, column, std::move(value));
    last_ = Tok::RParen;
    return token;
}

bool ConditionLexer::dot_starts_number() const {
    if (!is_digit(static_cast<unsigned char>(byte_at(1)))) return false;
    switch (last_) {
    case Tok::Word: case Tok::Quoted: case Tok::Integer: case Tok::Float: case Tok::String:
    case Tok::RParen: case Tok::RBracket: case Tok::RBrace:
        return false;
    default:
        return true;
    }
}

void ConditionLexer::digits() {
    while (!at_end() && is_digit(static_cast<unsigned char>(text_[pos_]))) advance();
}

Token ConditionLexer::number() {
    std::size_t begin = pos_, column = column_;
    Tok kind = Tok::Integer;
    digits();
    if (byte_at(0) == '.' && is_digit(static_cast<unsigned char>(byte_at(1)))) {
        advance();
        digits();
        kind = Tok::Float;
    }
    char e = byte_at(0);
    if (e == 'e' || e == 'E') {
        std::size_t sign = (byte_at(1) == '+' || byte_at(1) == '-') ? 1 : 0;
        if (is_digit(static_cast<unsigned char>(byte_at(1 + sign)))) {
            for (std::size_t i = 0; i <= sign; ++i) advance();
            digits();
            kind = Tok::Float;
        }
    }
    return make(kind, begin, column);
}

Token ConditionLexer::word() {
    std::size_t begin = pos_, column = column_;
    while (!at_end() && is_word_part(current())) advance();
    return make(Tok::Word, begin, column);
}

Token ConditionLexer::quoted_name() {
    std::size_t begin = pos_, column = column_;
    std::string name;
    advance();
    while (true) {
        if (at_end()) return fail("unterminated quoted name starting", column);
        if (byte_at(0) == '`') {
            if (byte_at(1) != '`') break;
            advance(); // a doubled backtick stands for one
        }
        std::size_t size;
        current(size);
        name.append(text_.substr(pos_, size));
        advance();
    }
    advance();
    return make(Tok::Quoted, begin, column, std::move(name));
}

Token ConditionLexer::string(char32_t quote) {
    std::size_t begin = pos_, column = column_;
    std::string value;
    advance();
    while (true) {
        if (at_end()) return fail("unterminated string starting", column);
        std::size_t size;
        char32_t c = current(size);
        if (c == quote) break;
        if (c == '\\') {
            if (!escape(value, column)) return Token{Tok::Invalid, Keyword::None, column, pos_, pos_, {}};
            continue;
        }
        value.append(text_.substr(pos_, size));
        advance();
    }
    advance();
    return make(Tok::String, begin, column, std::move(value));
}

// One escape sequence at the position (a backslash), decoded into `out`.
bool ConditionLexer::escape(std::string& out, std::size_t string_column) {
    std::size_t column = column_;
    advance();
    if (at_end()) return fail("unterminated string starting", string_column), false;
    char32_t c = current();
    char simple = 0;
    switch (c) {
    case '\\': simple = '\\'; break;
    case '\'': simple = '\''; break;
    case '"': simple = '"'; break;
    case 'b': simple = '\b'; break;
    case 'f': simple = '\f'; break;
    case 'n': simple = '\n'; break;
    case 'r': simple = '\r'; break;
    case 't': simple = '\t'; break;
    case 'u': return hex_escape(out, 4, column);
    case 'U': return hex_escape(out, 8, column);
    default: {
        std::string what = "invalid escape '\\";
        append_utf8(what, c);
        return fail(what + "'", column), false;
    }
    }
    out += simple;
    advance();
    return true;
}

bool ConditionLexer::hex_escape(std::string& out, int count, std::size_t column) {
    const char* letter = count == 4 ? "u" : "U";
    advance();
    char32_t code = 0;
    for (int i = 0; i < count; ++i) {
        int digit = at_end() ? -1 : hex_digit(current());
        if (digit < 0) {
            std::string what = std::string("escape '\\") + letter + "' needs " + std::to_string(count) + " hex digits";
            return fail(std::move(what), column), false;
        }
        code = code * 16 + static_cast<char32_t>(digit);
        advance();
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, count == 4 ? "%04X" : "%08X", static_cast<unsigned>(code));
        return fail(std::string("escape '\\") + letter + buffer + "' is not a valid character", column), false;
    }
    append_utf8(out, code);
    return true;
}

Token ConditionLexer::punctuation(char32_t c) {
    std::size_t begin = pos_, column = column_;
    char next = byte_at(1);
    Tok kind;
    std::size_t length = 1;
    switch (c) {
    case '(': kind = Tok::LParen; break;
    case ')': kind = Tok::RParen; break;
    case '[': kind = Tok::LBracket; break;
    case ']': kind = Tok::RBracket; break;
    case ',': kind = Tok::Comma; break;
    case '{': kind = Tok::LBrace; break;
    case '}': kind = Tok::RBrace; break;
    case ':': kind = Tok::Colon; break;
    case '|': kind = Tok::Pipe; break;
    case '.':
        kind = next == '.' ? Tok::DotDot : Tok::Dot;
        length = next == '.' ? 2 : 1;
        break;
    case '+': kind = Tok::Plus; break;
    case '-': kind = Tok::Minus; break;
    case '*': kind = Tok::Star; break;
    case '/': kind = Tok::Slash; break;
    case '%': kind = Tok::Percent; break;
    case '^': kind = Tok::Caret; break;
    case '=':
        kind = next == '~' ? Tok::Matches : Tok::Eq;
        length = next == '~' ? 2 : 1;
        break;
    case '<':
        kind = next == '=' ? Tok::Le : next == '>' ? Tok::Ne : Tok::Lt;
        length = kind == Tok::Lt ? 1 : 2;
        break;
    case '>':
        kind = next == '=' ? Tok::Ge : Tok::Gt;
        length = kind == Tok::Gt ? 1 : 2;
        break;
    case '!':
        if (next != '=') return fail("unexpected character '!'", column);
        kind = Tok::Ne;
        length = 2;
        break;
    default:
        return fail("unexpected character " + describe_character(c), column);
    }
    for (std::size_t i = 0; i < length; ++i) advance();
    return make(kind, begin, column);
}

bool is_bare_name(std::string_view text, bool keywords_allowed) {
    if (text.empty()) return false;
    std::size_t pos = 0;
    if (!is_word_start(decode_utf8(text, pos))) return false;
    while (pos < text.size()) {
        if (!is_word_part(decode_utf8(text, pos))) return false;
    }
    return keywords_allowed || keyword_of(text) == Keyword::None;
}

std::string describe_token(const Token& token, std::string_view text) {
    if (token.kind == Tok::End) return "end of condition";
    if (token.kind == Tok::String) return "string literal";
    if (token.kind == Tok::Pattern) return "pattern";
    constexpr std::size_t kShown = 40; // code points
    std::string_view source = text.substr(token.begin, token.end - token.begin);
    std::string out = "'";
    std::size_t pos = 0, shown = 0;
    while (pos < source.size() && shown < kShown) {
        std::size_t start = pos;
        decode_utf8(source, pos);
        out.append(source.substr(start, pos - start));
        ++shown;
    }
    if (pos < source.size()) out += "...";
    out += '\'';
    return out;
}

} // namespace velarto::core
