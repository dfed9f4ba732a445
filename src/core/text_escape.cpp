// Escaping of a name for the Some("...") rendering of pattern reprs.
//
// The set of characters shown as \u{...} is "not printable, or a combining
// mark": controls, format characters, separators other than the space,
// unassigned and private-use code points, and marks, which would otherwise
// fuse with the quote or the character before them. The printable class is
// the interpreter's own (str.isprintable), taken from generated tables, so
// the rendering is the same wherever it is computed.
#include "text_escape.hpp"

#include <cstdint>

#include "text.hpp"
#include "unicode_tables.hpp"

namespace velarto::core {

namespace {

void append_hex_escape(std::string& out, char32_t cp) {
    static constexpr char digits[] = "0123456789abcdef";
    char buffer[8];
    int n = 0;
    auto value = static_cast<std::uint32_t>(cp);
    do {
        buffer[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    out += "\\u{";
    while (n > 0) out += buffer[--n];
    out += '}';
}

} // namespace

std::string render_some(std::string_view utf8_name) {
    std::string out;
    out.reserve(utf8_name.size() + 8);
    out += "Some(\"";
    for (std::size_t pos = 0; pos < utf8_name.size();) {
        char32_t cp = decode_utf8(utf8_name, pos);
        switch (cp) {
        case U'\\': out += "\\\\"; continue;
        case U'"': out += "\\\""; continue;
        case U'\t': out += "\\t"; continue;
        case U'\r': out += "\\r"; continue;
        case U'\n': out += "\\n"; continue;
        case U'\0': out += "\\0"; continue;
        default: break;
        }
        if (!is_printable(cp) || is_combining_mark(cp)) {
            append_hex_escape(out, cp);
        } else {
            append_utf8(out, cp);
        }
    }
    out += "\")";
    return out;
}

} // namespace velarto::core
