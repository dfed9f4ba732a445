// Conditions and result expressions: parsed once, when they are given.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace velarto::py::query {

struct Condition;

// A parsed `where` condition; nullptr with ValueError set ("Invalid query:
// " + what is wrong and where, or a pattern error of an exists()).
std::shared_ptr<const Condition> parse_condition(const std::string& text);

// One result expression of `return_`: the tree, its alias, whether it
// aggregates. nullptr with an exception set, as above; `unreadable` then
// says whether the text itself is no expression (rather than, say, the
// pattern of an exists() being malformed).
struct ResultExpression;
std::shared_ptr<const ResultExpression> parse_result_expression(const std::string& text, bool& unreadable);

} // namespace velarto::py::query
