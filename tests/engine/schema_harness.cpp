// Drives the compiled schema matcher over stdin/stdout for the pytest suite.
//
// Each input line is `PATTERN<TAB>TYPE`:
//   PATTERN  the pattern's UTF-8 bytes in hex (so tabs and newlines survive);
//   TYPE     a type in prefix form, tokens separated by single spaces:
//            `A` is an application followed by its left and right type,
//            `V` + hex is a variable with that (UTF-8, hex-encoded) name.
// Each output line is `M<TAB>C` followed by `<TAB>NAME<TAB>TYPE` for every
// recorded capture in record order, where M is matches() as 0/1, C is
// capture() as 0/1, NAME is hex and TYPE is written in the same prefix form.
// matches() is asked twice, before and after the type's digests are computed
// (a schema may then compare digests); M is `X` if the two answers differ.
// Nothing here recurses, so deep types and patterns are fine.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/schema.hpp"
#include "core/type.hpp"

using velarto::core::Capture;
using velarto::core::CompiledSchema;
using velarto::core::TypeNode;
using velarto::core::TypeRef;

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

std::string from_hex(std::string_view hex) {
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(hex_digit(hex[i]) * 16 + hex_digit(hex[i + 1]));
    }
    return out;
}

void append_hex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

// Prefix form read backwards: a variable pushes itself, an application pops
// its left (on top) and right.
TypeRef read_type(std::string_view text) {
    std::vector<std::string_view> tokens;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t space = text.find(' ', pos);
        if (space == std::string_view::npos) space = text.size();
        if (space > pos) tokens.push_back(text.substr(pos, space - pos));
        pos = space + 1;
    }
    std::vector<TypeRef> stack;
    for (std::size_t i = tokens.size(); i-- > 0;) {
        if (tokens[i][0] == 'V') {
            stack.push_back(TypeRef::variable(from_hex(tokens[i].substr(1))));
        } else {
            TypeRef left = std::move(stack.back());
            stack.pop_back();
            TypeRef right = std::move(stack.back());
            stack.pop_back();
            stack.push_back(TypeRef::application(std::move(left), std::move(right)));
        }
    }
    return stack.empty() ? TypeRef::variable("") : std::move(stack.back());
}

void write_type(std::string& out, const TypeNode& type) {
    std::vector<const TypeNode*> stack{&type};
    bool first = true;
    while (!stack.empty()) {
        const TypeNode* node = stack.back();
        stack.pop_back();
        if (!first) out += ' ';
        first = false;
        if (node->is_variable()) {
            out += 'V';
            append_hex(out, node->name());
        } else {
            out += 'A';
            stack.push_back(node->right().get());
            stack.push_back(node->left().get());
        }
    }
}

} // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string line, out;
    std::vector<Capture> captures;
    while (std::getline(std::cin, line)) {
        const std::size_t tab = line.find('\t');
        const std::string_view view(line);
        const std::string pattern = from_hex(view.substr(0, tab));
        const TypeRef type = read_type(tab == std::string::npos ? std::string_view{} : view.substr(tab + 1));
        const auto schema = CompiledSchema::compile(pattern);
        const bool fits = schema->matches(*type);
        const bool captured = schema->capture(type, captures);
        type->digest();
        const bool fits_digested = schema->matches(*type);
        out.clear();
        out += fits != fits_digested ? 'X' : fits ? '1' : '0';
        out += '\t';
        out += captured ? '1' : '0';
        for (const Capture& c : captures) {
            out += '\t';
            append_hex(out, c.name);
            out += '\t';
            write_type(out, *c.type);
        }
        out += '\n';
        std::cout << out;
    }
    return 0;
}
