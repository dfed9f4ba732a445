// Patterns as openCypher MATCH patterns over the exported layout.
//
// A node place is `(name:VNode {...})`, an edge `-[name:VEdge {...}]->`
// (`<-...-` read backward, `-...-` either way, `*m..n` for a range). Equality
// constraints stand in the inline map, which openCypher applies to every hop
// of a range as well: an exact type or term is its element's uid (`velarto_uid`),
// a property map's entries are the properties. A schema is what its shape
// requires (core/type_shape.hpp): each required entry `IN` the element's
// `velarto_shape`, for a range on every hop (`all(...)`). A range whose
// least is above its most matches nothing, as in a run.
//
// The embedded engine walks where openCypher keeps trails: its ranges are
// told TRAIL and the places of a path are kept apart by conditions; it gives
// an edge of either direction twice for a self-loop, so that is refused.
//
// Refused: a property map that requires null (a database stores no nulls,
// so the run's "present and None" cannot be told from "missing"), an edge
// variable written twice, a name that stands for a node and an edge.
#include <algorithm>
#include <string>

#include "core/sha256.hpp"
#include "core/type_shape.hpp"
#include "errors.hpp"
#include "query/cypher_translation.hpp"

namespace velarto::py::query {

namespace {

std::string hex(const core::Digest& digest) {
    char text[64];
    core::digest_to_hex(digest, text);
    return std::string(text, sizeof text);
}

std::string edge_uid(const core::Term& term) {
    std::string text = "edge:" + hex(core::term_digest(term));
    core::Sha256 hasher;
    hasher.update(text.data(), text.size());
    return hex(hasher.finish());
}

// `velarto_uid: $p` of an inline map: the element's uid, `uid` a hex text.
bool uid_entry(CypherWriter& writer, const std::string& uid, const std::string& step,
               std::vector<std::string>& entries) {
    Ref text = Ref::steal(to_python_str(uid));
    std::string parameter;
    if (!text || !writer.pass(text.get(), step, parameter)) return false;
    entries.push_back("velarto_uid: " + parameter);
    return true;
}

bool property_entries(CypherWriter& writer, const RequiredProperties& properties, const std::string& step,
                      std::vector<std::string>& entries) {
    for (const RequiredProperty& required : properties) {
        std::string name;
        if (!cypher_name(required.key, step, name)) return false;
        if (required.parameter) {
            std::string parameter;
            if (!writer.user_parameter(required.parameter.get(), parameter)) return false;
            entries.push_back(name + ": " + parameter);
            continue;
        }
        if (required.value.get() == Py_None) {
            return refuse_step(step, "the property map requires " + required.key +
                                         " to be null, which a database does not store");
        }
        std::string parameter;
        if (!writer.pass(required.value.get(), step, parameter)) return false;
        entries.push_back(name + ": " + parameter);
    }
    return true;
}

// The conditions a schema puts on `element` (a node, a relationship, or
// each hop of a range when `hops` is set).
bool schema_conditions(CypherWriter& writer, const Schema& schema, const std::string& element, bool hops,
                       const std::string& step, std::vector<std::string>& conditions) {
    std::optional<std::vector<std::string>> required = core::shape_requirements(schema.tree());
    if (!required) {
        conditions.push_back("false");
        return true;
    }
    std::vector<std::string> tests;
    const std::string subject = hops ? "velarto_hop" : element;
    for (const std::string& entry : *required) {
        Ref text = Ref::steal(to_python_str(entry));
        std::string parameter;
        if (!text || !writer.pass(text.get(), step, parameter)) return false;
        tests.push_back(parameter + " IN " + subject + ".velarto_shape");
    }
    if (tests.empty()) return true;
    std::string all;
    for (std::size_t i = 0; i < tests.size(); ++i) {
        if (i) all += " AND ";
        all += tests[i];
    }
    const std::string list = edge_list_value(writer.dialect(), Bound::EdgeList, element);
    conditions.push_back(hops ? "all(velarto_hop IN " + list + " WHERE " + all + ")" : "(" + all + ")");
    return true;
}

std::string inline_map(const std::vector<std::string>& entries) {
    if (entries.empty()) return {};
    std::string out = " {";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i) out += ", ";
        out += entries[i];
    }
    return out + "}";
}

// No edge twice in one path: openCypher's rule, which the embedded engine
// does not keep across the places of a pattern (a range keeps it inside
// itself when told TRAIL): each pair of places is kept apart by a condition.
void distinct_edges(const std::vector<std::pair<std::string, bool>>& hops, std::vector<std::string>& conditions) {
    for (std::size_t i = 0; i < hops.size(); ++i) {
        for (std::size_t j = i + 1; j < hops.size(); ++j) {
            const auto& [a, a_range] = hops[i];
            const auto& [b, b_range] = hops[j];
            if (!a_range && !b_range) conditions.push_back("id(" + a + ") <> id(" + b + ")");
            else if (a_range && b_range) conditions.push_back("none(velarto_hop IN rels(" + a + ") WHERE velarto_hop IN rels(" + b + "))");
            else conditions.push_back("NOT " + (a_range ? b : a) + " IN rels(" + (a_range ? a : b) + ")");
        }
    }
}

bool bind(Scope& scope, const std::string& name, Bound kind, const std::string& step) {
    auto [at, added] = scope.emplace(name, kind);
    if (added || at->second == kind) return true;
    return refuse_step(step, "'" + name + "' stands for a node and an edge");
}

} // namespace

bool write_path(CypherWriter& writer, const PathPatternValue& path, bool later_place_wins, Scope& scope,
                const std::string& step, std::string& pattern, std::vector<std::string>& conditions) {
    pattern.clear();
    std::vector<std::string> edge_names;
    std::vector<std::pair<std::string, bool>> hops; // each edge place: its name, and whether it is a range
    for (std::size_t i = 0; i < path.nodes.size(); ++i) {
        const NodePatternValue& node = path.nodes[i];
        std::string name;
        const bool renamed = later_place_wins && i == 0;
        if (node.variable && !renamed) {
            if (!cypher_name(*node.variable, step, name) || !bind(scope, *node.variable, Bound::Node, step)) return false;
        } else {
            name = writer.fresh_name();
        }
        std::vector<std::string> entries;
        if (node.type_obj && !uid_entry(writer, hex(node.type_obj->node_digest()), step, entries)) return false;
        if (!property_entries(writer, node.properties, step, entries)) return false;
        if (node.type_schema && !schema_conditions(writer, *node.type_schema, name, false, step, conditions)) return false;
        pattern += "(" + name + ":VNode" + inline_map(entries) + ")";
        if (i == path.edges.size()) break;

        const EdgePatternValue& edge = path.edges[i];
        std::string edge_name;
        const Bound kind = edge.range ? Bound::EdgeList : Bound::Edge;
        if (edge.variable) {
            if (std::find(edge_names.begin(), edge_names.end(), *edge.variable) != edge_names.end()) {
                return refuse_step(step, "the edge variable '" + *edge.variable + "' is written twice");
            }
            edge_names.push_back(*edge.variable);
            if (!cypher_name(*edge.variable, step, edge_name) || !bind(scope, *edge.variable, kind, step)) return false;
        } else {
            edge_name = writer.fresh_name();
        }
        std::vector<std::string> edge_entries;
        if (edge.term && !uid_entry(writer, edge_uid(*edge.term), step, edge_entries)) return false;
        if (!property_entries(writer, edge.properties, step, edge_entries)) return false;
        if (edge.term_type_schema &&
            !schema_conditions(writer, *edge.term_type_schema, edge_name, edge.range.has_value(), step, conditions)) {
            return false;
        }
        std::string range;
        if (edge.range) {
            const core::HopRange& bounds = *edge.range;
            if (bounds.max && *bounds.max < bounds.min) conditions.push_back("false");
            range = writer.dialect() == Dialect::Ladybug ? "* TRAIL " : "*"; // the engine walks unless told
            range += std::to_string(bounds.min);
            range += "..";
            if (bounds.max) range += std::to_string(*bounds.max);
        }
        if (writer.dialect() == Dialect::Ladybug && edge.direction != "forward" && edge.direction != "backward") {
            return refuse_step(step, "the embedded engine gives a self-loop twice to an edge of either direction");
        }
        hops.push_back({edge_name, edge.range.has_value()});
        const std::string inside = "[" + edge_name + ":VEdge" + range + inline_map(edge_entries) + "]";
        if (edge.direction == "backward") pattern += "<-" + inside + "-";
        else if (edge.direction == "forward") pattern += "-" + inside + "->";
        else pattern += "-" + inside + "-";
    }
    if (writer.dialect() == Dialect::Ladybug) distinct_edges(hops, conditions);
    return true;
}

} // namespace velarto::py::query
