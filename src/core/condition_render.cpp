// The fully parenthesised text of a condition tree, and the names of its
// operators and functions.
//
// Every operation stands in parentheses and every name that would not read
// back as the same plain word (spaces, keywords) stands in backticks, so a
// rendering parses back into the same tree: the engine tests rely on that to
// compare trees as texts. The tree is walked with an explicit stack of
// pieces still to write, so no tree is too deep to render.
#include <string>
#include <vector>

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

// A variable named `case` is written in backticks: bare, before a word or an
// operand, it would open a CASE.
void render_name(std::string& out, std::string_view name, bool keywords_allowed) {
    if (is_bare_name(name, keywords_allowed) && (keywords_allowed || !same_ignoring_case(name, "case"))) {
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

// One piece of the output still to write: a fixed text, or a node.
struct Piece {
    std::uint32_t node;
    const char* text;                 // nullptr: the node, or the name
    const std::string* name = nullptr; // a name of the tree: a map key, a property key, a variable
    bool key = false;                  // keywords read back as keys
};

// Writes a leaf; false for a node with operands.
bool render_leaf(std::string& out, const ExprNode& node) {
    switch (node.kind) {
    case ExprKind::Integer: case ExprKind::Float: out += node.text; return true;
    case ExprKind::Variable: render_name(out, node.text, false); return true;
    case ExprKind::String: render_string(out, node.text); return true;
    case ExprKind::Boolean: out += node.boolean ? "true" : "false"; return true;
    case ExprKind::Null: out += "null"; return true;
    case ExprKind::Property:
        render_name(out, node.text, false);
        out += '.';
        render_name(out, node.key, true);
        return true;
    case ExprKind::Parameter: out += '$'; out += node.text; return true;
    case ExprKind::Exists: out += "exists("; out += node.text; out += ')'; return true;
    case ExprKind::Local: render_name(out, node.text, false); return true;
    case ExprKind::List: case ExprKind::Call: case ExprKind::Aggregate: case ExprKind::Map:
        if (!node.operands.empty()) return false;
        if (node.kind == ExprKind::List) out += "[]";
        else if (node.kind == ExprKind::Map) out += "{}";
        else out += std::string(function_name(node.function)) + (node.kind == ExprKind::Aggregate ? "(*)" : "()");
        return true;
    default: return false;
    }
}

// The pieces of the forms that read parts with words between them.
bool expand_form(const ExprNode& node, std::vector<Piece>& pieces) {
    auto text = [&](const char* piece) { pieces.push_back({0, piece}); };
    auto operand = [&](std::size_t i) { pieces.push_back({node.operands[i], nullptr}); };
    auto name = [&](const std::string& written, bool key) { pieces.push_back({0, nullptr, &written, key}); };
    switch (node.kind) {
    case ExprKind::Map:
        text("{");
        for (std::size_t i = 0; i < node.operands.size(); ++i) {
            if (i > 0) text(", ");
            name(node.keys[i], true);
            text(": ");
            operand(i);
        }
        text("}");
        return true;
    case ExprKind::Index:
        text("(");
        operand(0);
        text("[");
        operand(1);
        text("])");
        return true;
    case ExprKind::Slice: {
        text("(");
        operand(0);
        text("[");
        std::size_t next = 1;
        if (node.form & form::kFrom) operand(next++);
        text("..");
        if (node.form & form::kTo) operand(next);
        text("])");
        return true;
    }
    case ExprKind::PropertyOf:
        text("(");
        operand(0);
        text(").");
        name(node.key, true);
        return true;
    case ExprKind::Case: {
        text("(CASE");
        std::size_t next = 0;
        if (node.form & form::kSimple) {
            text(" ");
            operand(next++);
        }
        const std::size_t pairs_end = node.operands.size() - ((node.form & form::kElse) ? 1 : 0);
        for (; next < pairs_end; next += 2) {
            text(" WHEN ");
            operand(next);
            text(" THEN ");
            operand(next + 1);
        }
        if (node.form & form::kElse) {
            text(" ELSE ");
            operand(next);
        }
        text(" END)");
        return true;
    }
    case ExprKind::Comprehension:
    case ExprKind::Quantifier: {
        const bool quantifier = node.kind == ExprKind::Quantifier;
        if (quantifier) {
            text(quantifier_name(node.form));
            text("(");
        } else {
            text("[");
        }
        name(node.text, false);
        text(" IN ");
        operand(0);
        std::size_t next = 1;
        if (quantifier || (node.form & form::kWhere)) {
            text(" WHERE ");
            operand(next++);
        }
        if (!quantifier && (node.form & form::kProjection)) {
            text(" | ");
            operand(next);
        }
        text(quantifier ? ")" : "]");
        return true;
    }
    default: return false;
    }
}

// The pieces of a node with operands, in writing order.
void expand(const ExprNode& node, std::vector<Piece>& pieces) {
    if (expand_form(node, pieces)) return;
    const char* open = "(";
    const char* separator = ", ";
    const char* close = ")";
    switch (node.kind) {
    case ExprKind::List: open = "["; close = "]"; break;
    case ExprKind::Call: open = nullptr; break;
    case ExprKind::Aggregate: open = node.boolean ? "(DISTINCT " : "("; break;
    case ExprKind::Not: open = "(NOT "; break;
    case ExprKind::Negate: open = "(-"; break;
    case ExprKind::Or: separator = " OR "; break;
    case ExprKind::Xor: separator = " XOR "; break;
    case ExprKind::And: separator = " AND "; break;
    default: separator = nullptr; break; // comparisons, arithmetic, predicates: their operators
    }
    if (node.kind == ExprKind::Call || node.kind == ExprKind::Aggregate) {
        pieces.push_back({0, function_name(node.function)});
        if (open) pieces.push_back({0, open});
        else pieces.push_back({0, "("});
    } else {
        pieces.push_back({0, open});
    }
    for (std::size_t i = 0; i < node.operands.size(); ++i) {
        if (i > 0) {
            if (separator) {
                pieces.push_back({0, separator});
            } else {
                pieces.push_back({0, " "});
                pieces.push_back({0, op_text(node.ops[node.kind == ExprKind::Predicate ? 0 : i - 1])});
                pieces.push_back({0, " "});
            }
        }
        pieces.push_back({node.operands[i], nullptr});
    }
    if (node.kind == ExprKind::Predicate && node.operands.size() == 1) {
        pieces.push_back({0, " "});
        pieces.push_back({0, op_text(node.ops[0])});
    }
    pieces.push_back({0, close});
}

} // namespace

std::string render_condition(const ConditionTree& tree) {
    std::string out;
    if (tree.nodes.empty()) return out;
    std::vector<Piece> work{{tree.root, nullptr}}; // what is left to write, the next piece last
    std::vector<Piece> pieces;
    while (!work.empty()) {
        Piece piece = work.back();
        work.pop_back();
        if (piece.text) {
            out += piece.text;
            continue;
        }
        if (piece.name) {
            render_name(out, *piece.name, piece.key);
            continue;
        }
        const ExprNode& node = tree.nodes[piece.node];
        if (render_leaf(out, node)) continue;
        pieces.clear();
        expand(node, pieces);
        work.insert(work.end(), pieces.rbegin(), pieces.rend());
    }
    return out;
}

const char* op_text(Op op) {
    static constexpr const char* kText[] = {
        "=", "<>", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "^",
        "IS NULL", "IS NOT NULL", "IN", "STARTS WITH", "ENDS WITH", "CONTAINS", "=~",
    };
    return kText[static_cast<int>(op)];
}

const char* quantifier_name(std::uint8_t quantifier) {
    static constexpr const char* kNames[] = {"all", "any", "none", "single"};
    return kNames[quantifier];
}

} // namespace velarto::core
