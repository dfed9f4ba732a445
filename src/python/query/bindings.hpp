// The binding table of a query: each variable bound to an ordered list of
// nodes and edges. Row j of the results is entry j of every list that is
// longer than j; positions carry the meaning, so steps that fill several
// lists fill them in step.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "graph_elements.hpp"

namespace velarto::py::query {

using QueryResult = std::variant<NodeValue, EdgeValue>;
using ResultList = std::vector<QueryResult>;

class Bindings {
public:
    // The list bound to `name`, or nullptr.
    ResultList* find(const std::string& name) {
        for (auto& [key, list] : entries_) {
            if (key == name) return &list;
        }
        return nullptr;
    }
    const ResultList* find(const std::string& name) const {
        return const_cast<Bindings*>(this)->find(name);
    }

    void replace(const std::string& name, ResultList list) {
        if (ResultList* existing = find(name)) {
            *existing = std::move(list);
        } else {
            entries_.emplace_back(name, std::move(list));
        }
    }

    void append(const std::string& name, QueryResult value) {
        ResultList* existing = find(name);
        if (!existing) existing = &entries_.emplace_back(name, ResultList{}).second;
        existing->push_back(std::move(value));
    }

    // The row count: the longest list.
    std::size_t row_count() const {
        std::size_t rows = 0;
        for (const auto& entry : entries_) rows = std::max(rows, entry.second.size());
        return rows;
    }

    bool empty() const { return entries_.empty(); }
    std::vector<std::pair<std::string, ResultList>>& entries() { return entries_; }
    const std::vector<std::pair<std::string, ResultList>>& entries() const { return entries_; }

private:
    std::vector<std::pair<std::string, ResultList>> entries_;
};

} // namespace velarto::py::query
