// Translating a query into one openCypher query over the exported layout.
//
// The layout (nodes labelled VNode, relationships typed VEdge, each with
// `velarto_uid`, `velarto_type`, `velarto_shape`, edges also
// `velarto_name`, user properties under their own keys) is what
// `Graph.to_cypher` writes. A query translates exactly or not at all: every
// step either has a translation whose rows over the exported graph are the
// rows the query returns, or is refused with a ValueError naming the step and
// why. Values never become text: every value the translation needs (a
// literal text, a type's uid, a property map's value) is passed as a
// parameter of its own, `$velarto_pN`, beside the user's own parameters,
// which stay parameters.
//
// The one non-obvious decision: names. Every variable of the query keeps its
// name (in backticks where needed), and the places a pattern leaves unnamed
// get `velarto_vN`; a user name that starts with `velarto_` is refused, so
// the two can never meet.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "args.hpp"
#include "path_pattern.hpp"
#include "query/condition_eval.hpp"
#include "ref.hpp"

namespace velarto::py::query {

struct QueryState;

enum class Dialect { OpenCypher, Ladybug };

// What a name stands for at a point of the query.
enum class Bound : std::uint8_t { Node, Edge, EdgeList, Value };
using Scope = std::unordered_map<std::string, Bound>;

// The text being written and the parameters it passes.
class CypherWriter {
public:
    CypherWriter(Dialect dialect, PyObject* user_params) : dialect_(dialect), user_params_(user_params) {}
    bool start(); // false with an exception set

    Dialect dialect() const { return dialect_; }
    // `$velarto_pN` holding `value`; false with ValueError when a database
    // cannot hold it (`what` names the step in the message).
    bool pass(PyObject* value, const std::string& what, std::string& out);
    // `$name` of a user parameter, checked and passed on; false with the
    // parameter error (no value) or ValueError (a value no database holds).
    bool user_parameter(PyObject* name, std::string& out);
    // A generated name for an unnamed place.
    std::string fresh_name() { return "velarto_v" + std::to_string(names_++); }
    PyObject* parameters() const { return params_.get(); }

private:
    Dialect dialect_;
    PyObject* user_params_; // borrowed, may be null
    Ref params_;
    std::size_t next_ = 0, names_ = 0;
};

// The `dialect` argument of either `to_cypher` (argument `index` of
// `signature`, borrowed, nullptr when left out): "opencypher" (the default)
// or "ladybug"; false with TypeError or ValueError set.
bool dialect_argument(const Signature& signature, int index, PyObject* given, Dialect& out);

// ValueError "Cannot translate <step>: <why>"; false.
bool refuse_step(const std::string& step, const std::string& why);

// A name as openCypher reads it: bare when it is a plain identifier, else
// in backticks. A name the layout keeps for itself (`velarto_...`) is
// refused: false with ValueError.
bool cypher_name(std::string_view name, const std::string& step, std::string& out);
std::string quoted_name(std::string_view name); // backticks unless plain

// How a variable is read as a value: the edges of a range are a list, which
// the embedded engine writes `rels(r)` (it binds a path there).
inline std::string edge_list_value(Dialect dialect, Bound kind, const std::string& name) {
    if (dialect != Dialect::Ladybug || kind != Bound::EdgeList) return name;
    return "rels(" + name + ")";
}

// Whether a database can hold `value` (a property or a parameter): texts,
// 64-bit ints, floats, booleans, None, lists of those, and (as parameters)
// maps with text keys of those. Empty when it can, else what it cannot hold.
std::string unstorable(PyObject* value, bool maps_allowed);

// A path as a MATCH pattern and the conditions it needs beside the pattern;
// the variables it binds are added to `scope` (a variable already there is
// the same node, as in a run). `step` names the step in refusals.
bool write_path(CypherWriter& writer, const PathPatternValue& path, bool later_place_wins, Scope& scope,
                const std::string& step, std::string& pattern, std::vector<std::string>& conditions);

// A condition or result expression as openCypher text over `scope`.
bool write_expression(CypherWriter& writer, const Condition& condition, const Scope& scope, const std::string& step,
                      std::string& out);

// The translation of `query.to_cypher(*items, distinct=..., dialect=...)`:
// a new (text, parameters) tuple, or nullptr with an exception set.
PyObject* translate_query(QueryState& state, PyObject* const* items, Py_ssize_t count, bool distinct,
                          Dialect dialect);

} // namespace velarto::py::query
