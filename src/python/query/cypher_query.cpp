// A whole query as one openCypher query: the match, then the row steps as
// clauses, then the RETURN of the items.
//
// The rows are a sequence of segments: the MATCH, then a WITH for each
// `with_` and wherever a step cannot join the segment before it. Inside a
// WITH, openCypher applies ORDER BY, SKIP, LIMIT and then WHERE, so a step
// joins the open segment only when it comes after what the segment already
// does in that order; otherwise it opens `WITH *`. A sort that only skips
// and limits before the RETURN moves into the RETURN, so the database
// delivers the rows in that order (when the RETURN neither groups nor
// drops duplicates; a sort before those orders nothing the caller sees).
//
// Refused, naming the step: no match, a second match (separate matches
// pair rows by position), writes, `skip`/`limit` with no sort before them
// (which rows they cut depends on the database's order), bindings left by
// an earlier run, an item nothing binds, every piece the expression and
// pattern writers refuse.
#include <algorithm>
#include <string>
#include <vector>

#include "args.hpp"
#include "errors.hpp"
#include "query/cypher_translation.hpp"
#include "query/query_state.hpp"
#include "query/where_parser.hpp"

namespace velarto::py::query {

namespace {

struct Segment {
    std::string head; // "MATCH ..." or "WITH ..."
    bool is_with = false;
    std::vector<std::string> order; // ORDER BY keys
    std::string skip, limit;
    std::vector<std::string> conditions;
};

std::string quoted_text(const std::string& text) { return "'" + text + "'"; }

std::string items_text(const std::vector<Ref>& items) {
    std::string out;
    for (const Ref& item : items) {
        std::string text;
        if (!to_utf8(item.get(), text)) {
            PyErr_Clear();
            text = "?";
        }
        out += (out.empty() ? "" : ", ") + quoted_text(text);
    }
    return out;
}

// What a projection's items hold, for the embedded engine's faults: it
// miscounts a DISTINCT aggregate beside another aggregate, and gives
// meaningless relationships as grouping keys.
struct ProjectionFacts {
    int aggregates = 0;
    int distinct_aggregates = 0;
    bool relationship_item = false; // an item that is an edge or the edges of a range
};

class QueryWriter {
public:
    QueryWriter(QueryState& state, Dialect dialect) : state_(state), writer_(dialect, state.params.get()) {}

    PyObject* translate(PyObject* const* items, Py_ssize_t count, bool distinct) {
        if (!writer_.start()) return nullptr;
        if (!state_.bindings->empty()) {
            return refuse_step("the query", "it holds bindings left by an earlier run"), nullptr;
        }
        const std::vector<const Operation*> queue = state_.operations.in_order();
        if (queue.empty() || !std::holds_alternative<MatchOp>(*queue[0])) {
            return refuse_step("the query", "it does not begin with a match"), nullptr;
        }
        if (!match(std::get<MatchOp>(*queue[0]))) return nullptr;
        for (std::size_t i = 1; i < queue.size(); ++i) {
            if (!step(*queue[i])) return nullptr;
        }
        std::string text;
        if (!finish(items, count, distinct, text)) return nullptr;
        Ref query_text = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
        if (!query_text) return nullptr;
        return PyTuple_Pack(2, query_text.get(), writer_.parameters());
    }

private:
    bool match(const MatchOp& op) {
        const std::string name = "match";
        PathPatternValue path;
        if (auto* node = std::get_if<NodeForm>(&op.form)) {
            path.nodes.push_back(node->pattern);
        } else if (auto* edge = std::get_if<EdgeForm>(&op.form)) {
            path.nodes.resize(2);
            path.nodes[0].variable = edge->start;
            path.nodes[1].variable = edge->end;
            path.edges.push_back(edge->pattern);
            path.edges[0].direction = "forward";
        } else {
            path = std::get<PathForm>(op.form).path;
            if (path.edges.empty() && path.nodes.size() > 1) {
                return refuse_step(name, "nodes side by side are separate matches, which pair rows by position");
            }
            if (path.edges.size() + 1 != path.nodes.size()) return refuse_step(name, "the path has no meaning to translate");
        }
        // The two-node path of one fixed edge binds a repeated variable at its later place.
        const bool later_place_wins = path.nodes.size() == 2 && path.edges.size() == 1 && !path.edges[0].range &&
                                      path.nodes[0].variable && path.nodes[0].variable == path.nodes[1].variable;
        Segment segment;
        std::string pattern;
        if (!write_path(writer_, path, later_place_wins, scope_, name, pattern, segment.conditions)) return false;
        segment.head = "MATCH " + pattern;
        segments_.push_back(std::move(segment));
        return true;
    }

    Segment& open_with_all() {
        Segment segment;
        segment.head = "WITH *";
        segment.is_with = true;
        segments_.push_back(std::move(segment));
        return segments_.back();
    }

    bool step(const Operation& operation) {
        if (std::holds_alternative<MatchOp>(operation)) {
            return refuse_step("a second match", "separate matches pair their rows by position, which openCypher cannot");
        }
        if (auto* where = std::get_if<WhereOp>(&operation)) {
            const std::string name = "where(" + quoted_text(where->condition) + ")";
            std::string text;
            if (!where->parsed || !write_expression(writer_, *where->parsed, scope_, name, text)) return false;
            segments_.back().conditions.push_back(text);
            return true;
        }
        if (auto* order = std::get_if<OrderByOp>(&operation)) {
            const std::string name = "order_by(" + quoted_text(order->variable) + ", " + quoted_text(order->key) + ")";
            auto found = scope_.find(order->variable);
            if (found == scope_.end()) {
                raise(core::VelartoError{core::ErrorKind::VariableNotFound, order->variable, {}, std::nullopt});
                return false;
            }
            std::string key;
            if (!cypher_name(order->variable, name, key)) return false;
            if (!order->key.empty()) {
                if (found->second == Bound::EdgeList) return refuse_step(name, "a list of edges has no properties");
                std::string property;
                if (!cypher_name(order->key, name, property)) return false;
                key += "." + property;
            } else if (found->second == Bound::Node || found->second == Bound::Edge) {
                key += ".velarto_uid"; // nodes and edges order by uid
            } else if (found->second == Bound::EdgeList) {
                return refuse_step(name, "ordering by a list of edges");
            }
            if (!order->ascending) key += " DESC";
            Segment* segment = &segments_.back();
            const bool joins = segment->is_with && segment->skip.empty() && segment->limit.empty() &&
                               segment->conditions.empty() && (segment->order.empty() || last_was_order_);
            if (!joins) segment = &open_with_all();
            segment->order.push_back(key);
            last_was_order_ = true;
            return true;
        }
        last_was_order_ = false;
        if (auto* skip = std::get_if<SkipOp>(&operation)) return cut(skip->count, "skip(" + std::to_string(skip->count) + ")", true);
        if (auto* limit = std::get_if<LimitOp>(&operation)) {
            return cut(limit->count, "limit(" + std::to_string(limit->count) + ")", false);
        }
        if (auto* with = std::get_if<WithOp>(&operation)) return with_step(*with);
        return refuse_step(std::holds_alternative<SetOp>(operation)      ? "set"
                           : std::holds_alternative<DeleteOp>(operation) ? "delete"
                           : std::holds_alternative<CreateOp>(operation) ? "create"
                                                                        : "merge",
                           "writes are not translated: the query reads");
    }

    bool cut(std::size_t count, const std::string& name, bool skipping) {
        Segment& segment = segments_.back();
        if (segment.order.empty()) return refuse_step(name, "without a sort before it, the rows it cuts are the database's choice");
        const bool joins = segment.conditions.empty() && segment.limit.empty() && (skipping ? segment.skip.empty() : true);
        if (!joins) return refuse_step(name, "it cuts rows that a step after the sort has changed");
        Ref value = Ref::steal(PyLong_FromSize_t(count));
        std::string parameter;
        if (!value || !writer_.pass(value.get(), name, parameter)) return false;
        (skipping ? segment.skip : segment.limit) = parameter;
        return true;
    }

    // `with_`: names keep their variables; other items are projected.
    bool with_step(const WithOp& with) {
        if (!with.computes) {
            if (with.variables.empty()) return true;
            Scope kept;
            std::string names;
            for (const std::string& variable : with.variables) {
                auto found = scope_.find(variable);
                if (found == scope_.end() || kept.count(variable)) continue; // unbound names keep nothing
                std::string name;
                if (!cypher_name(variable, "with_", name)) return false;
                names += (names.empty() ? "" : ", ") + name;
                kept.emplace(found->first, found->second);
            }
            if (names.empty()) return refuse_step("with_", "it keeps no bound variable: the rows would have none");
            push_with("WITH " + names);
            scope_ = std::move(kept);
            return true;
        }
        const std::string name = "with_(" + items_text(with.items) + ")";
        std::vector<std::string> columns;
        Scope made;
        ProjectionFacts facts;
        for (const Ref& item : with.items) {
            std::string column;
            if (!projected(item.get(), name, made, column, facts)) return false;
            if (!column.empty()) columns.push_back(column);
        }
        if (!engine_can_project(facts, name)) return false;
        if (columns.empty()) return refuse_step(name, "it keeps no bound variable: the rows would have none");
        std::string head = "WITH ";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i) head += ", ";
            head += columns[i];
        }
        push_with(head);
        scope_ = std::move(made);
        return true;
    }

    void push_with(std::string head) {
        Segment segment;
        segment.head = std::move(head);
        segment.is_with = true;
        segments_.push_back(std::move(segment));
    }

    // One item of a projection as `text AS key` (a bound name: the name
    // itself), recording what the key binds; empty when the item names
    // nothing bound (the run gives no key for it).
    bool projected(PyObject* item, const std::string& step, Scope& made, std::string& out, ProjectionFacts& facts) {
        std::string text;
        if (!to_utf8(item, text)) return false;
        out.clear();
        if (auto found = scope_.find(text); found != scope_.end()) {
            std::string name;
            if (!cypher_name(text, step, name)) return false;
            made[text] = found->second;
            facts.relationship_item |= found->second == Bound::Edge || found->second == Bound::EdgeList;
            const std::string value = edge_list_value(writer_.dialect(), found->second, name);
            out = value == quoted_name(text) ? value : value + " AS " + quoted_name(text);
            return true;
        }
        bool unreadable;
        std::shared_ptr<const ResultExpression> expression = parse_result_expression(text, unreadable);
        const core::ExprNode* root = nullptr;
        if (expression) {
            root = &expression->condition.tree.nodes[expression->condition.tree.root];
            while (root->kind == core::ExprKind::PropertyOf) root = &expression->condition.tree.nodes[root->operands[0]];
        } else if (!unreadable) {
            return false;
        } else {
            PyErr_Clear();
        }
        const bool lone = !expression || (!expression->alias && (root->kind == core::ExprKind::Variable ||
                                                                 root->kind == core::ExprKind::Property));
        if (lone) {
            // `var.key` with a bound prefix before some '.': the property; else nothing.
            for (std::size_t dot = text.find('.'); dot != std::string::npos; dot = text.find('.', dot + 1)) {
                auto found = scope_.find(text.substr(0, dot));
                if (found == scope_.end()) continue;
                if (found->second == Bound::EdgeList) return refuse_step(step, "a list of edges has no properties");
                std::string base, key;
                if (!cypher_name(found->first, step, base) || !cypher_name(text.substr(dot + 1), step, key)) return false;
                made[text] = Bound::Value;
                out = base + "." + key + " AS " + quoted_name(text);
                return true;
            }
            if (!expression || !scope_.count(root->text)) return true; // a lone unbound name adds nothing
        }
        std::string written;
        if (!write_expression(writer_, expression->condition, scope_, step, written)) return false;
        const std::string key = expression->alias ? *expression->alias : text;
        const auto& tree = expression->condition.tree;
        const core::ExprNode& top = tree.nodes[tree.root];
        // An alias of a bound variable binds what the variable holds.
        auto same = top.kind == core::ExprKind::Variable ? scope_.find(top.text) : scope_.end();
        made[key] = same != scope_.end() ? same->second : Bound::Value;
        for (const core::ExprNode& node : tree.nodes) {
            if (node.kind != core::ExprKind::Aggregate) continue;
            ++facts.aggregates;
            facts.distinct_aggregates += node.boolean;
        }
        if (!expression->aggregates && same != scope_.end()) {
            facts.relationship_item |= same->second == Bound::Edge || same->second == Bound::EdgeList;
        }
        out = written + " AS " + quoted_name(key);
        return true;
    }

    bool finish(PyObject* const* items, Py_ssize_t count, bool distinct, std::string& text) {
        std::string columns;
        ProjectionFacts facts;
        if (count == 0) {
            columns = "count(*) AS count";
        } else {
            std::string name = "return_(";
            for (Py_ssize_t i = 0; i < count; ++i) {
                std::string item;
                if (!to_utf8(items[i], item)) return false;
                if (i) name += ", ";
                name += quoted_text(item);
            }
            name += ")";
            Scope made;
            std::vector<std::string> keys;
            for (Py_ssize_t i = 0; i < count; ++i) {
                std::string column;
                if (!projected(items[i], name, made, column, facts)) return false;
                if (column.empty()) continue;
                const std::string key = column.substr(column.rfind(" AS ") == std::string::npos ? 0 : column.rfind(" AS ") + 4);
                if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue; // one column per key
                keys.push_back(key);
                columns += (columns.empty() ? "" : ", ") + column;
            }
            if (columns.empty()) return refuse_step(name, "no item names anything bound: every row would be empty");
            if (!engine_can_project(facts, name)) return false;
        }
        const bool aggregates = facts.aggregates > 0;
        // A sort that only cuts before the RETURN orders the RETURN itself
        // (a WITH that projects stays, without it). A sort that cuts nothing
        // and reaches no RETURN order changes no row: it is left out (a
        // database may refuse ORDER BY without SKIP or LIMIT in a WITH).
        Segment& last = segments_.back();
        std::string tail;
        const bool moves = last.is_with && !last.order.empty() && last.conditions.empty() && !distinct && !aggregates &&
                           count > 0;
        if (moves) {
            tail = clause_tail(last);
            last.order.clear();
            last.skip.clear();
            last.limit.clear();
            if (last.head == "WITH *") segments_.pop_back();
        }
        for (Segment& segment : segments_) {
            if (segment.skip.empty() && segment.limit.empty()) segment.order.clear();
        }
        segments_.erase(std::remove_if(segments_.begin(), segments_.end(), [](const Segment& segment) {
            return segment.head == "WITH *" && segment.order.empty() && segment.skip.empty() && segment.limit.empty() &&
                   segment.conditions.empty();
        }), segments_.end());
        for (const Segment& segment : segments_) {
            text += segment.head;
            text += segment.is_with ? clause_tail(segment) : "";
            for (std::size_t i = 0; i < segment.conditions.size(); ++i) {
                text += (i ? " AND " : " WHERE ") + segment.conditions[i];
            }
            text += " ";
        }
        text += distinct ? "RETURN DISTINCT " : "RETURN ";
        text += columns;
        text += tail;
        return true;
    }

    bool engine_can_project(const ProjectionFacts& facts, const std::string& step) const {
        if (writer_.dialect() != Dialect::Ladybug) return true;
        if (facts.distinct_aggregates > 0 && facts.aggregates > 1) {
            return refuse_step(step, "the embedded engine miscounts a DISTINCT aggregate beside another aggregate");
        }
        if (facts.aggregates > 0 && facts.relationship_item) {
            return refuse_step(step, "the embedded engine cannot group rows by a relationship");
        }
        return true;
    }

    static std::string clause_tail(const Segment& segment) {
        std::string out;
        for (std::size_t i = 0; i < segment.order.size(); ++i) out += (i ? ", " : " ORDER BY ") + segment.order[i];
        if (!segment.skip.empty()) out += " SKIP " + segment.skip;
        if (!segment.limit.empty()) out += " LIMIT " + segment.limit;
        return out;
    }

    QueryState& state_;
    CypherWriter writer_;
    Scope scope_;
    std::vector<Segment> segments_;
    bool last_was_order_ = false;
};

} // namespace

PyObject* translate_query(QueryState& state, PyObject* const* items, Py_ssize_t count, bool distinct,
                          Dialect dialect) {
    return QueryWriter(state, dialect).translate(items, count, distinct);
}

} // namespace velarto::py::query
