// Drives the condition parser over stdin/stdout.
//
// Every input line is one condition, hex-encoded UTF-8 (an empty line is the
// empty text). Every output line answers one input line:
//
//   P =<hex of the fully parenthesised rendering> <height of the tree>
//   E =<hex of the error message>
//
// Inputs need not be valid UTF-8: the parser must answer every byte string.
#include <iostream>
#include <string>
#include <string_view>

#include "core/condition.hpp"

using namespace velarto::core;

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unhex(std::string_view line) {
    std::string out;
    out.reserve(line.size() / 2);
    for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
        int hi = hex_value(line[i]), lo = hex_value(line[i + 1]);
        if (hi < 0 || lo < 0) break;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

void put_text(std::string& out, std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    out += '=';
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
}

std::string answer(std::string_view text) {
    std::string out;
    Result<ConditionTree> result = parse_condition(text);
    if (!result) {
        out += "E ";
        put_text(out, result.error().message());
        return out;
    }
    const ConditionTree& tree = result.value();
    out += "P ";
    put_text(out, render_condition(tree));
    out += ' ';
    out += std::to_string(tree.nodes[tree.root].height);
    return out;
}

} // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cout << answer(unhex(line)) << '\n';
    }
    std::cout.flush();
    return 0;
}
