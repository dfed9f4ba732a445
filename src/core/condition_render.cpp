// The fully parenthesised text of a condition tree, and the names of its
// operators and functions.
//
// Every operation stands in parentheses and every name that would not read
// back as the same plain word (spaces, keywords) stands in backticks, so a
// rendering parses back into the same tree: the engine tests rely on that to
// compare trees as texts. The recursion follows the tree, whose height the
// parser bounds.
#include <string>

#include "condition.hpp"
#include "condition_lexer.hpp"

namespace velarto::core {

namespace {

void render_string(std::string& out, std::string_view value) {
    out += '\'';
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    out += '\'';
}

void render_name(std::string& out, std::string_view name, bool keywords_allowed) {
    if (is_bare_name(name, keywords_allowed)) {
        out.append(name);
        return;
    }
    out += '`';
    for (char c : name) {
        if (c == '`') out += '`';
        out += c;
    }
    out += '`';
}

void render(std::string& out, const ConditionTree& tree, std::uint32_t index) {
    const ExprNode& node = tree.nodes[index];
    auto operands = [&](const char* separator) {
        for (std::size_t i = 0; i < node.operands.size(); ++i) {
            if (i > 0 && separator) out += separator;
            if (i > 0 && !separator) out += std::string(" ") + op_text(node.ops[i - 1]) + " ";
            render(out, tree, node.operands[i]);
        }
    };
    switch (node.kind) {
    case ExprKind::Integer: case ExprKind::Float: out += node.text; return;
    case ExprKind::Variable: render_name(out, node.text, false); return;
    case ExprKind::String: render_string(out, node.text); return;
    case ExprKind::Boolean: out += node.boolean ? "true" : "false"; return;
    case ExprKind::Null: out += "null"; return;
    case ExprKind::Property:
        render_name(out, node.text, false);
        out += '.';
        render_name(out, node.key, true);
        return;
    case ExprKind::List: out += '['; operands(", "); out += ']'; return;
    case ExprKind::Call: out += function_name(node.function); out += '('; operands(", "); out += ')'; return;
    case ExprKind::Parameter: out += '$'; out += node.text; return;
    case ExprKind::Exists: out += "exists("; out += node.text; out += ')'; return;
    case ExprKind::Aggregate:
        out += function_name(node.function);
        out += node.operands.empty() ? "(*" : node.boolean ? "(DISTINCT " : "(";
        operands(", ");
        out += ')';
        return;
    case ExprKind::Not: out += "(NOT "; render(out, tree, node.operands[0]); out += ')'; return;
    case ExprKind::Negate: out += "(-"; render(out, tree, node.operands[0]); out += ')'; return;
    case ExprKind::Or: out += '('; operands(" OR "); break;
    case ExprKind::Xor: out += '('; operands(" XOR "); break;
    case ExprKind::And: out += '('; operands(" AND "); break;
    case ExprKind::Compare: case ExprKind::Arithmetic: out += '('; operands(nullptr); break;
    case ExprKind::Predicate:
        out += '(';
        render(out, tree, node.operands[0]);
        out += ' ';
        out += op_text(node.ops[0]);
        if (node.operands.size() > 1) {
            out += ' ';
            render(out, tree, node.operands[1]);
        }
        break;
    }
    out += ')';
}

} // namespace

std::string render_condition(const ConditionTree& tree) {
    std::string out;
    if (!tree.nodes.empty()) render(out, tree, tree.root);
    return out;
}

const char* op_text(Op op) {
    static constexpr const char* kText[] = {
        "=", "<>", "<", "<=", ">", ">=", "+", "-", "*", "/", "%",
        "IS NULL", "IS NOT NULL", "IN", "STARTS WITH", "ENDS WITH", "CONTAINS", "=~",
    };
    return kText[static_cast<int>(op)];
}

const char* function_name(Function function) {
    static constexpr const char* kNames[] = {"type",    "name",  "uid", "size", "toLower", "toUpper", "coalesce",
                                             "compose", "count", "sum", "avg",  "min",     "max",     "collect"};
    return kNames[static_cast<int>(function)];
}

} // namespace velarto::core
