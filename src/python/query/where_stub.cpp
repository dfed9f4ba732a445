// Conditions are recorded and not yet read: every text is accepted.
#include "query/where_parser.hpp"

namespace velarto::py::query {

struct Condition {};

core::Result<std::shared_ptr<const Condition>> parse_condition(const std::string&) {
    return std::shared_ptr<const Condition>(std::make_shared<Condition>());
}

} // namespace velarto::py::query
