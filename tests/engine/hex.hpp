// Hex encoding of the texts that engine harnesses read and write, so that
// any bytes (NUL, newlines, invalid UTF-8) cross the pipe unharmed.
#pragma once

#include <string>
#include <string_view>

inline int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes pairs of hex digits, stopping at the first non-digit.
inline std::string unhex(std::string_view line) {
    std::string out;
    out.reserve(line.size() / 2);
    for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
        int hi = hex_value(line[i]), lo = hex_value(line[i + 1]);
        if (hi < 0 || lo < 0) break;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

inline void append_hex(std::string& out, std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
}
