// The tokens of a condition, for the condition parser alone.
//
// The lexer walks the UTF-8 text once, counting code points so that every
// token knows its 1-based column. White_Space separates tokens. Words are
// runs of letters, digits, '_' and any non-ASCII code point that is not
// White_Space, so variables named in any script can be written bare; a name
// in backticks (`a b`, with `` for a backtick) may hold anything. Keywords
// are words compared without case; a backticked name is never a keyword.
// `$name` is a parameter. Strings take either quote and the escapes \\ \' \" \b \f \n \r \t \uXXXX
// \UXXXXXXXX, decoded here into UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"

namespace velarto::core {

enum class Tok : std::uint8_t {
    End, Invalid, Word, Quoted, Integer, Float, String,
    LParen, RParen, LBracket, RBracket, LBrace, RBrace, Comma, Dot, DotDot, Colon, Pipe,
    Eq, Ne, Lt, Le, Gt, Ge, Matches,
    Plus, Minus, Star, Slash, Percent, Caret,
    Parameter, // `$name`; value: the name
    Pattern,   // the raw text of exists(...); value: the text between the brackets
};

enum class Keyword : std::uint8_t {
    None, Or, Xor, And, Not, Is, Null, In, Starts, Ends, With, Contains, True, False,
};

struct Token {
    Tok kind;
    Keyword keyword = Keyword::None; // words only
    std::size_t column = 0;          // 1-based, in code points
    std::size_t begin = 0;           // byte range of the token in the text
    std::size_t end = 0;
    std::string value;               // String: the decoded text; Quoted: the name
};

// Reads the tokens one at a time, so that a parser that stops early (deep
// nesting, an unexpected token) never lexes the rest of a long text.
class ConditionLexer {
public:
    explicit ConditionLexer(std::string_view text) : text_(text) {}

    // The next token: End at the end of the text (again on every later
    // call); Invalid, with error() set, at a lexical error.
    Token next();
    const VelartoError& error() const { return error_; }

    // Called just after the '(' of `exists(`: the text up to the matching
    // ')' (brackets, braces and quotes balanced), which is consumed too.
    Token pattern_text();

private:
    bool at_end() const { return pos_ >= text_.size(); }
    char32_t current(std::size_t& size) const;
    char32_t current() const;
    char byte_at(std::size_t ahead) const;
    void advance();
    void skip_white_space();
    Token make(Tok kind, std::size_t begin, std::size_t column, std::string value = {});
    Token fail(std::string what, std::size_t column);
    bool dot_starts_number() const;
    void digits();
    Token number();
    Token word();
    Token quoted_name();
    Token parameter();
    bool skip_quoted(char32_t quote);
    Token string(char32_t quote);
    bool escape(std::string& out, std::size_t string_column);
    bool hex_escape(std::string& out, int count, std::size_t column);
    Token punctuation(char32_t c);

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t column_ = 1;
    Tok last_ = Tok::End;
    VelartoError error_{ErrorKind::InvalidQuery, {}, {}, {}};
};

// True when the text reads as one word (a name that needs no backticks);
// with `keywords_allowed` false, the word must also not be a keyword.
bool is_bare_name(std::string_view text, bool keywords_allowed);

// How a message names a token: "end of condition", "string literal", or its
// text in quotes (shortened when long).
std::string describe_token(const Token& token, std::string_view text);

// True when `word` equals `lower` (a lowercase ASCII text) ignoring ASCII case:
// keywords and function names are case-insensitive.
bool same_ignoring_case(std::string_view word, std::string_view lower);

} // namespace velarto::core
