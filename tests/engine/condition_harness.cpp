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

#include "hex.hpp"

using namespace velarto::core;

namespace {

void put_text(std::string& out, std::string_view text) {
    out += '=';
    append_hex(out, text);
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
