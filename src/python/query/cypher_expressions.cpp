// Conditions and result expressions as openCypher text.
//
// The language is openCypher's, so most of a tree is written back as it
// reads, fully bracketed. What the layout changes: `type(x)`, `name(r)` and
// `uid(x)` of a bound node or edge read its `velarto_` properties, and
// `labels(n)` is the one-item list of its type; `type` of the edges of a
// range is null, as in a run. `exists(<pattern>)` becomes an EXISTS
// subquery whose pattern shares the row's variables. Refused, with the
// reason: `compose` (no term structure is exported), `keys` and
// `properties` of a node or edge (they would list the layout's own keys),
// The edges of a range are a list in openCypher; the embedded engine holds
// them as a path, whose list is `rels(r)`.
// `type`/`name`/`uid` of anything but a bound variable. A variable with no
// binding at this point is the run's NameError.
//
// For the embedded engine: `sum` and `collect` of nothing are coalesced to
// 0 and [] (it gives null), a `+` is null as soon as an operand is (it joins
// null and a text into the text), `substring` counts from 1 there; indexing,
// slicing, comprehensions and the functions it lacks or means otherwise are
// refused.
#include <algorithm>
#include <string>

#include "core/condition.hpp"
#include "errors.hpp"
#include "query/cypher_translation.hpp"

namespace velarto::py::query {

using core::ExprKind;
using core::ExprNode;
using core::Function;

namespace {

constexpr int kDeepest = 400; // brackets: a deeper tree is refused, not written
constexpr std::size_t kLongest = 1 << 20; // the text of one expression

class ExpressionWriter {
public:
    ExpressionWriter(CypherWriter& writer, const Condition& condition, const Scope& scope, const std::string& step)
        : writer_(writer), condition_(condition), scope_(scope), step_(step) {}

    bool write(std::uint32_t index, std::string& out, int depth = 0) {
        if (depth > kDeepest) return refuse_step(step_, "the expression is nested too deeply to translate");
        const ExprNode& expr = condition_.tree.nodes[index];
        auto operand = [&](std::size_t i, std::string& text) { return write(expr.operands[i], text, depth + 1); };
        switch (expr.kind) {
        case ExprKind::Integer: {
            if (!unstorable(condition_.constants[index].get(), false).empty()) {
                return refuse_step(step_, "the integer " + expr.text + " is beyond 64 bits");
            }
            out = expr.text;
            return true;
        }
        case ExprKind::Float:
        case ExprKind::String: return writer_.pass(condition_.constants[index].get(), step_, out);
        case ExprKind::Boolean: out = expr.boolean ? "true" : "false"; return true;
        case ExprKind::Null: out = "null"; return true;
        case ExprKind::Parameter: return writer_.user_parameter(condition_.constants[index].get(), out);
        case ExprKind::Variable: return variable(expr.text, out);
        case ExprKind::Local: return cypher_name(expr.text, step_, out);
        case ExprKind::Property: {
            std::string base, key;
            auto found = scope_.find(expr.text);
            if (found != scope_.end() && found->second == Bound::EdgeList) {
                return refuse_step(step_, "'" + expr.text + "' is a list of edges, which has no properties");
            }
            if (!variable(expr.text, base) || !cypher_name(expr.key, step_, key)) return false;
            out = base + "." + key;
            return true;
        }
        case ExprKind::PropertyOf: {
            std::string base, key;
            if (!operand(0, base) || !cypher_name(expr.key, step_, key)) return false;
            out = "(" + base + ")." + key;
            return true;
        }
        case ExprKind::List:
        case ExprKind::Map: {
            std::string items;
            for (std::size_t i = 0; i < expr.operands.size(); ++i) {
                std::string item;
                if (!operand(i, item)) return false;
                if (i) items += ", ";
                if (expr.kind == ExprKind::Map) items += quoted_name(expr.keys[i]) + ": ";
                items += item;
            }
            out = expr.kind == ExprKind::List ? "[" + items + "]" : "{" + items + "}";
            return true;
        }
        case ExprKind::Call: return call(expr, out, depth);
        case ExprKind::Aggregate: {
            std::string argument = "*";
            if (!expr.operands.empty() && !operand(0, argument)) return false;
            out = core::function_name(expr.function);
            out += expr.boolean ? "(DISTINCT " : "(";
            out += argument;
            out += ")";
            // The embedded engine sums and collects nothing to null. (Its
            // sum over nothing of a float column is then 0.0 where a run
            // gives 0: its columns are typed.)
            if (engine() && expr.function == Function::Sum) out = "coalesce(" + out + ", 0)";
            if (engine() && expr.function == Function::Collect) out = "coalesce(" + out + ", [])";
            return true;
        }
        case ExprKind::Not:
        case ExprKind::Negate: {
            std::string inner;
            if (!operand(0, inner)) return false;
            out = (expr.kind == ExprKind::Not ? "(NOT " : "(-") + inner + ")";
            return true;
        }
        case ExprKind::Or:
        case ExprKind::Xor:
        case ExprKind::And: {
            const char* joint = expr.kind == ExprKind::Or ? " OR " : expr.kind == ExprKind::Xor ? " XOR " : " AND ";
            return joined(expr, joint, out, depth);
        }
        case ExprKind::Compare: { // a < b <= c: each pair, joined by AND
            std::vector<std::string> parts(expr.operands.size());
            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (!operand(i, parts[i])) return false;
            }
            out.clear();
        out += '(';
            for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
                const char* op = expr.ops[i] == core::Op::Ne ? "<>" : core::op_text(expr.ops[i]);
                if (i) out += " AND ";
                out += parts[i];
                out += ' ';
                out += op;
                out += ' ';
                out += parts[i + 1];
            }
            out += ")";
            return true;
        }
        case ExprKind::Arithmetic: {
            std::vector<std::string> parts(expr.operands.size());
            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (!operand(i, parts[i])) return false;
            }
            out = parts[0];
            for (std::size_t i = 1; i < parts.size(); ++i) out = "(" + out + " " + core::op_text(expr.ops[i - 1]) + " " + parts[i] + ")";
            const bool adds = std::find(expr.ops.begin(), expr.ops.end(), core::Op::Add) != expr.ops.end();
            if (engine() && adds) { // the engine joins null and a text into the text: null as soon as an operand is
                std::string guard;
                for (std::size_t i = 0; i < parts.size(); ++i) guard += (i ? std::string(" OR ") : std::string()) + parts[i] + " IS NULL";
                out = "(CASE WHEN " + guard + " THEN null ELSE " + out + " END)";
                if (out.size() > kLongest) return refuse_step(step_, "the expression grows too long to translate for the embedded engine");
            }
            return true;
        }
        case ExprKind::Predicate: {
            std::string left;
            if (!operand(0, left)) return false;
            if (expr.operands.size() == 1) {
                out = "(" + left + " " + core::op_text(expr.ops[0]) + ")";
                return true;
            }
            std::string right;
            if (!operand(1, right)) return false;
            out = "(" + left + " " + core::op_text(expr.ops[0]) + " " + right + ")";
            return true;
        }
        case ExprKind::Exists: return exists(index, out);
        case ExprKind::Index: {
            if (engine()) return refuse_step(step_, "the embedded engine counts list positions from 1");
            std::string base, at;
            if (!operand(0, base) || !operand(1, at)) return false;
            out = "(" + base + "[" + at + "])";
            return true;
        }
        case ExprKind::Slice: {
            if (engine()) return refuse_step(step_, "the embedded engine counts list positions from 1");
            std::string base, from, to;
            std::size_t next = 1;
            if (!operand(0, base)) return false;
            if ((expr.form & core::form::kFrom) && !operand(next++, from)) return false;
            if ((expr.form & core::form::kTo) && !operand(next, to)) return false;
            out = "(" + base + "[" + from + ".." + to + "])";
            return true;
        }
        case ExprKind::Case: {
            out.clear();
            out += "(CASE";
            std::size_t next = 0;
            std::string part;
            if (expr.form & core::form::kSimple) {
                if (!operand(next++, part)) return false;
                out += " " + part;
            }
            const std::size_t pairs_end = expr.operands.size() - ((expr.form & core::form::kElse) ? 1 : 0);
            for (; next < pairs_end; next += 2) {
                std::string when, then;
                if (!operand(next, when) || !operand(next + 1, then)) return false;
                out += " WHEN " + when + " THEN " + then;
            }
            if (expr.form & core::form::kElse) {
                if (!operand(next, part)) return false;
                out += " ELSE " + part;
            }
            out += " END)";
            return true;
        }
        case ExprKind::Comprehension:
        case ExprKind::Quantifier: {
            if (engine() && expr.kind == ExprKind::Comprehension) {
                return refuse_step(step_, "the embedded engine has no list comprehensions");
            }
            std::string name, list, predicate, projection;
            if (!cypher_name(expr.text, step_, name) || !operand(0, list)) return false;
            const bool quantifier = expr.kind == ExprKind::Quantifier;
            std::size_t next = 1;
            if ((quantifier || (expr.form & core::form::kWhere)) && !operand(next++, predicate)) return false;
            if (!quantifier && (expr.form & core::form::kProjection) && !operand(next, projection)) return false;
            std::string inside = name + " IN " + list;
            if (!predicate.empty()) inside += " WHERE " + predicate;
            if (!projection.empty()) inside += " | " + projection;
            out = quantifier ? std::string(core::quantifier_name(expr.form)) + "(" + inside + ")" : "[" + inside + "]";
            return true;
        }
        }
        return refuse_step(step_, "a form with no translation");
    }

private:
    bool variable(const std::string& name, std::string& out) {
        auto found = scope_.find(name);
        if (found == scope_.end()) {
            raise(core::VelartoError{core::ErrorKind::VariableNotFound, name, {}, std::nullopt});
            return false;
        }
        if (!cypher_name(name, step_, out)) return false;
        out = edge_list_value(writer_.dialect(), found->second, out);
        return true;
    }

    bool joined(const ExprNode& expr, const char* joint, std::string& out, int depth) {
        out.clear();
        out += '(';
        for (std::size_t i = 0; i < expr.operands.size(); ++i) {
            std::string part;
            if (!write(expr.operands[i], part, depth + 1)) return false;
            if (i) out += joint;
            out += part;
        }
        out += ")";
        return true;
    }

    // The bound variable a graph function reads, and what it is bound to.
    bool graph_argument(const ExprNode& expr, std::string& name, Bound& kind) {
        const ExprNode& argument = condition_.tree.nodes[expr.operands[0]];
        const std::string called = std::string(core::function_name(expr.function)) + "()";
        if (argument.kind != ExprKind::Variable) return refuse_step(step_, called + " of anything but a bound variable");
        if (!variable(argument.text, name)) return false;
        kind = scope_.at(argument.text);
        if (kind == Bound::EdgeList) return true; // read as null: the name is not written
        if (kind == Bound::Value) return refuse_step(step_, called + " of '" + argument.text + "', which holds values");
        return true;
    }

    bool call(const ExprNode& expr, std::string& out, int depth) {
        const std::string called = std::string(core::function_name(expr.function)) + "()";
        std::string name;
        Bound kind;
        switch (expr.function) {
        case Function::Type:
        case Function::Name:
        case Function::Uid: {
            if (!graph_argument(expr, name, kind)) return false;
            if (kind == Bound::EdgeList) return out = "null", true;
            if (expr.function == Function::Name && kind != Bound::Edge) {
                return refuse_step(step_, "name() of a node, which the run refuses");
            }
            out = name + (expr.function == Function::Type ? ".velarto_type"
                          : expr.function == Function::Name ? ".velarto_name" : ".velarto_uid");
            return true;
        }
        case Function::Labels:
            if (!graph_argument(expr, name, kind)) return false;
            if (kind != Bound::Node) return refuse_step(step_, "labels() of anything but a node");
            out = "[" + name + ".velarto_type]";
            return true;
        case Function::Compose: return refuse_step(step_, "compose() reads term types, which are not exported as structure");
        case Function::Keys:
        case Function::Properties: {
            const ExprNode& argument = condition_.tree.nodes[expr.operands[0]];
            auto found = argument.kind == ExprKind::Variable ? scope_.find(argument.text) : scope_.end();
            if (found != scope_.end() && found->second != Bound::Value) {
                return refuse_step(step_, called + " of a node or an edge would list the layout's own keys");
            }
            break;
        }
        case Function::Substring: // the engine counts from 1
            if (engine()) {
                std::string text, start, length;
                if (!write(expr.operands[0], text, depth + 1) || !write(expr.operands[1], start, depth + 1)) return false;
                if (expr.operands.size() > 2 && !write(expr.operands[2], length, depth + 1)) return false;
                if (length.empty()) length = "size(" + text + ")";
                out = "substring(" + text + ", (" + start + ") + 1, " + length + ")";
                return true;
            }
            break;
        default: break;
        }
        if (engine() && missing_in_engine(expr.function)) {
            return refuse_step(step_, "the embedded engine has no " + called + " that means the same");
        }
        std::string arguments;
        for (std::size_t i = 0; i < expr.operands.size(); ++i) {
            std::string argument;
            if (!write(expr.operands[i], argument, depth + 1)) return false;
            if (i) arguments += ", ";
            arguments += argument;
        }
        out = std::string(core::function_name(expr.function)) + "(" + arguments + ")";
        return true;
    }

    bool exists(std::uint32_t index, std::string& out) {
        for (const auto& [node, path] : condition_.patterns) {
            if (node != index) continue;
            Scope inner = scope_;
            std::string pattern;
            std::vector<std::string> conditions;
            if (!write_path(writer_, path, false, inner, step_, pattern, conditions)) return false;
            out = "EXISTS { MATCH " + pattern;
            for (std::size_t i = 0; i < conditions.size(); ++i) out += (i ? " AND " : " WHERE ") + conditions[i];
            out += " }";
            return true;
        }
        return refuse_step(step_, "an exists() without its pattern");
    }

    bool engine() const { return writer_.dialect() == Dialect::Ladybug; }

    // Functions the embedded engine lacks, or has with another meaning
    // (`round` of one argument, `reverse` of a list).
    static bool missing_in_engine(Function function) {
        switch (function) {
        case Function::ToInteger: case Function::ToFloat: case Function::ToBoolean: case Function::ToString:
        case Function::Head: case Function::Last: case Function::Tail: case Function::Reverse:
        case Function::Replace: case Function::Split: case Function::Keys: case Function::Round:
        case Function::StartNode: case Function::EndNode:
            return true;
        default: return false;
        }
    }

    CypherWriter& writer_;
    const Condition& condition_;
    const Scope& scope_;
    const std::string& step_;
};

} // namespace

bool write_expression(CypherWriter& writer, const Condition& condition, const Scope& scope, const std::string& step,
                      std::string& out) {
    return ExpressionWriter(writer, condition, scope, step).write(condition.tree.root, out);
}

} // namespace velarto::py::query
