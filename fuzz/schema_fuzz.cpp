// Fuzz target: the compiled schema matcher against a walk over the text.
//
// Input: a pattern text, a NUL byte, then bytes that describe a type (read by
// `decode_type`). The reference below re-reads the text at every step and
// builds the re-wrapped sub-pattern strings, exactly as the matcher is
// defined; the compiled tree must agree with it on the answer and on the
// final captures. Deep recursion in the reference is bounded by refusing
// inputs whose pattern nests too deeply, so the fuzzer explores breadth.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/schema.hpp"
#include "core/text.hpp"

using namespace velarto::core;

namespace {

std::string_view trim_reference(std::string_view text) {
    std::u32string points = to_code_points(text);
    std::size_t begin = 0, end = points.size();
    while (begin < end && is_white_space(points[begin])) ++begin;
    while (end > begin && is_white_space(points[end - 1])) --end;
    std::size_t byte_begin = to_utf8(points.substr(0, begin)).size();
    std::size_t byte_length = to_utf8(points.substr(begin, end - begin)).size();
    return text.substr(byte_begin, byte_length);
}

bool contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

bool walk(std::string_view p, const TypeRef& type, std::map<std::string, TypeRef>& captures) {
    std::string_view t = trim_reference(p);
    if (t == "$*$") return true;
    if (t.size() >= 2 && t.front() == '$' && t.back() == '$' && !contains(t, "->") && !contains(t, ":") &&
        !contains(t, "(")) {
        std::string_view inner = t.substr(1, t.size() - 2);
        if (inner == "*") return true;
        return type->is_variable() && type->name() == inner;
    }
    if (t.size() >= 2 && t.substr(0, 2) == "$(" && t.substr(t.size() - 2) == ")$" && t.size() >= 4) {
        std::string_view body = t.substr(2, t.size() - 4);
        std::size_t colon = body.find(':');
        if (colon == std::string_view::npos) return false;
        std::string name(trim_reference(body.substr(0, colon)));
        std::string sub = "$" + std::string(trim_reference(body.substr(colon + 1))) + "$";
        if (!walk(sub, type, captures)) return false;
        captures[name] = type;
        return true;
    }
    if (!contains(t, "->")) return type->is_variable() && type->name() == t;
    std::string_view body = t;
    if (body.size() >= 2 && body.front() == '$' && body.back() == '$') body = body.substr(1, body.size() - 2);
    if (body.size() >= 2 && body.front() == '(' && body.back() == ')') body = body.substr(1, body.size() - 2);
    long depth = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        else if (c == '-' && depth == 0 && i + 1 < body.size() && body[i + 1] == '>') {
            if (!type->is_application()) return false;
            std::string left = "$" + std::string(trim_reference(body.substr(0, i))) + "$";
            std::string right = "$" + std::string(trim_reference(body.substr(i + 2))) + "$";
            return walk(left, type->left(), captures) && walk(right, type->right(), captures);
        }
    }
    return false;
}

// Types from bytes: a small prefix code over a few names that matter to the
// matcher ("*", "$", "", "A", " A ", "->").
TypeRef decode_type(const std::uint8_t*& data, const std::uint8_t* end, int depth) {
    static const char* names[] = {"A", "B", "*", "$", "", " A ", "$A$", "a:b", "->", "(x:A)"};
    if (data == end || depth > 12) return TypeRef::variable("A");
    std::uint8_t byte = *data++;
    if (byte & 1) {
        TypeRef left = decode_type(data, end, depth + 1);
        TypeRef right = decode_type(data, end, depth + 1);
        return TypeRef::application(left, right);
    }
    return TypeRef::variable(names[(byte >> 1) % 10]);
}

// Texts from the interpreter are always valid UTF-8; only those are compared
// (invalid bytes are still compiled and matched, for safety).
bool valid_utf8(std::string_view text) {
    // Invalid sequences decode to U+FFFD, which re-encodes differently.
    return to_utf8(to_code_points(text)) == text;
}

std::size_t nesting(std::string_view text) {
    std::size_t deepest = 0, depth = 0, arrows = 0;
    for (char c : text) {
        if (c == '(') deepest = std::max(deepest, ++depth);
        if (c == ')' && depth > 0) --depth;
        if (c == '>') ++arrows;
    }
    return deepest + arrows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* split = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    std::string_view pattern(reinterpret_cast<const char*>(data), split ? split - data : size);
    const std::uint8_t* type_bytes = split ? split + 1 : data + size;
    TypeRef type = decode_type(type_bytes, data + size, 0);

    auto compiled = CompiledSchema::compile(pattern);
    std::vector<Capture> captures;
    bool fits = compiled->capture(type, captures);
    if (fits != compiled->matches(*type)) std::abort();
    if (nesting(pattern) > 200) return 0; // the reference recurses; the compiled tree need not
    if (!valid_utf8(pattern)) return 0;
    std::map<std::string, TypeRef> expected;
    bool expected_fits = walk(pattern, type, expected);
    if (fits != expected_fits) std::abort();
    if (!fits) {
        if (!captures.empty()) std::abort();
        return 0;
    }
    std::map<std::string, TypeRef> got;
    for (const Capture& capture : captures) got[capture.name] = capture.type;
    if (got.size() != expected.size()) std::abort();
    for (const auto& [name, value] : expected) {
        auto found = got.find(name);
        if (found == got.end() || !equal(*found->second, *value)) std::abort();
    }
    return 0;
}
