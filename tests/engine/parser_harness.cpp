// Drives the pattern parser and the Some("...") rendering over stdin/stdout.
//
// Every input line is one text, hex-encoded UTF-8 (an empty line is the empty
// text). Every output line answers one input line. Fields are separated by
// single spaces; a text field is "=" followed by the hex of its UTF-8 bytes,
// and an absent optional text is "-".
//
//   parser_harness parse     P <nodes> <edges> then per node <var> <schema> <map>,
//                            then per edge <var> <schema> <direction> <map> <range>
//                            (<map>: the canonical text of a non-empty map or "-";
//                            <range>: "m..n" or "m.." or "-")
//                            or: E <pattern> <reason> <message>
//   parser_harness tokens    T <count> then per token N|D <text>
//                            or: E <pattern> <reason> <message>
//   parser_harness node      one node token read alone: P 1 0 <var> <schema>
//   parser_harness edge      one edge token read alone: P 0 1 <var> <schema> <dir>
//                            (both also answer E <pattern> <reason> <message>)
//   parser_harness render    =<hex of render_some(text)>
//   parser_harness version   the Unicode version of the character tables
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "core/pattern_parser.hpp"
#include "core/text_escape.hpp"
#include "core/unicode_tables.hpp"

#include "hex.hpp"

using namespace velarto::core;

namespace {

void put_text(std::string& out, std::string_view text) {
    out += " =";
    append_hex(out, text);
}

void put_optional(std::string& out, const std::optional<std::string>& text) {
    if (text) put_text(out, *text);
    else out += " -";
}

void put_map(std::string& out, const std::vector<PatternProperty>& properties) {
    if (properties.empty()) out += " -";
    else put_text(out, render_properties(properties));
}

void put_range(std::string& out, const std::optional<HopRange>& range) {
    if (range) put_text(out, render_range(*range));
    else out += " -";
}

void put_error(std::string& out, const VelartoError& error) {
    out += "E";
    put_text(out, error.first);
    put_text(out, error.second);
    put_text(out, error.message());
}

std::string answer_parse(std::string_view text) {
    std::string out;
    Result<ParsedPath> result = parse_path_pattern(text);
    if (!result) {
        put_error(out, result.error());
        return out;
    }
    const ParsedPath& path = result.value();
    out += "P " + std::to_string(path.nodes.size()) + " " + std::to_string(path.edges.size());
    for (const ParsedElement& node : path.nodes) {
        put_optional(out, node.variable);
        put_optional(out, node.schema);
        put_map(out, node.properties);
    }
    for (const ParsedEdge& edge : path.edges) {
        put_optional(out, edge.variable);
        put_optional(out, edge.schema);
        out += ' ';
        out += edge.direction;
        put_map(out, edge.properties);
        put_range(out, edge.range);
    }
    return out;
}

std::string answer_node_token(std::string_view text) {
    std::string out;
    Result<ParsedElement> result = read_node_token(text);
    if (!result) {
        put_error(out, result.error());
        return out;
    }
    out += "P 1 0";
    put_optional(out, result.value().variable);
    put_optional(out, result.value().schema);
    put_map(out, result.value().properties);
    return out;
}

std::string answer_edge_token(std::string_view text) {
    std::string out;
    Result<ParsedEdge> result = read_edge_token(text);
    if (!result) {
        put_error(out, result.error());
        return out;
    }
    out += "P 0 1";
    put_optional(out, result.value().variable);
    put_optional(out, result.value().schema);
    out += ' ';
    out += result.value().direction;
    put_map(out, result.value().properties);
    put_range(out, result.value().range);
    return out;
}

std::string answer_tokens(std::string_view text) {
    std::string out;
    Result<std::vector<PatternToken>> result = tokenize_path_pattern(text);
    if (!result) {
        put_error(out, result.error());
        return out;
    }
    out += "T " + std::to_string(result.value().size());
    for (const PatternToken& token : result.value()) {
        out += token.is_node ? " N" : " D";
        put_text(out, token.text);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "parse";
    std::ios::sync_with_stdio(false);
    if (mode == "version") {
        std::cout << kUnicodeTablesVersion << '\n';
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string text = unhex(line);
        std::string out;
        if (mode == "parse") out = answer_parse(text);
        else if (mode == "tokens") out = answer_tokens(text);
        else if (mode == "node") out = answer_node_token(text);
        else if (mode == "edge") out = answer_edge_token(text);
        else if (mode == "render") {
            put_text(out, render_some(text));
            out.erase(0, 1); // the field's leading separator
        }
        else {
            std::cerr << "unknown mode " << mode << '\n';
            return 2;
        }
        out += '\n';
        std::cout << out;
    }
    std::cout.flush();
    return 0;
}
