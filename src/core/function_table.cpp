// The rows of the function table, by id.
#include "function_table.hpp"

namespace velarto::core {

namespace {

constexpr FunctionRow kRows[] = {
#define VELARTO_FUNCTION_ROW(id, name, least, most, first, second, third) \
    {name, least, most, {static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second), static_cast<std::uint16_t>(third)}},
    VELARTO_FUNCTIONS(VELARTO_FUNCTION_ROW)
#undef VELARTO_FUNCTION_ROW
};

constexpr const char* kAggregateNames[] = {
#define VELARTO_AGGREGATE_NAME(id, name) name,
    VELARTO_AGGREGATES(VELARTO_AGGREGATE_NAME)
#undef VELARTO_AGGREGATE_NAME
};

static_assert(sizeof(kRows) / sizeof(kRows[0]) == static_cast<std::size_t>(Function::Count));

} // namespace

const FunctionRow& function_row(Function function) { return kRows[static_cast<int>(function)]; }

const char* function_name(Function function) {
    if (is_aggregate(function)) return kAggregateNames[static_cast<int>(function) - static_cast<int>(Function::Count)];
    return kRows[static_cast<int>(function)].name;
}

} // namespace velarto::core
