// The binding table of a query: each variable bound to an ordered list of
// nodes, edges, edge lists and, after a computing `with_`, plain values
// (result_list.hpp). Row j of the results is
// entry j of every list that is longer than j; positions carry the meaning,
// so steps that fill several lists fill them in step.
//
// An edge list is what a variable-length edge binds: the chain's edges in
// path order, empty for a zero-length chain. It has no properties of its own
// and no uid; Python sees it as a list of Edge objects.
#pragma once

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "query/result_list.hpp"

namespace velarto::py::query {

// Graph values are the same when their uids are: nodes by type, edges by
// term, edge lists edge by edge. Plain values never reach here as entries
// (the evaluator reads them as objects); two are the same object at most.
inline bool same_result(const QueryResult& a, const QueryResult& b) {
    if (a.index() != b.index()) return false;
    if (auto* plain = std::get_if<PlainValue>(&a)) return plain->object.get() == std::get<PlainValue>(b).object.get();
    if (auto* node = std::get_if<NodeValue>(&a)) return node->type->digest() == std::get<NodeValue>(b).type->digest();
    if (auto* edge = std::get_if<EdgeValue>(&a)) return edge->digest() == std::get<EdgeValue>(b).digest();
    const auto& x = std::get<EdgeListValue>(a).edges;
    const auto& y = std::get<EdgeListValue>(b).edges;
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].digest() != y[i].digest()) return false;
    }
    return true;
}

// Variables are found through a hash index, so a path that names thousands of
// variables binds them in linear time. Steps may change the lists in place
// through `entries()`, never the names: dropping variables goes through
// `retain`, which keeps the index right.
class Bindings {
public:
    // The list bound to `name`, or nullptr.
    ResultList* find(const std::string& name) {
        // A match binds its path's variables in order, run after run: the
        // entry after the last one found is tried before the index, whose
        // look-ups miss the cache once the names run into thousands.
        if (next_ < entries_.size() && entries_[next_].first == name) return &entries_[next_++].second;
        auto found = index_.find(name);
        if (found == index_.end()) return nullptr;
        next_ = found->second + 1;
        return &entries_[found->second].second;
    }
    const ResultList* find(const std::string& name) const {
        return const_cast<Bindings*>(this)->find(name);
    }

    void replace(const std::string& name, ResultList list) {
        if (ResultList* existing = find(name)) {
            *existing = std::move(list);
        } else {
            add(name, std::move(list));
        }
    }

    void append(const std::string& name, QueryResult value) {
        ResultList* existing = find(name);
        if (!existing) existing = &add(name, ResultList{});
        existing->push_back(std::move(value));
    }

    // Keeps the variables whose entry `keep` accepts, in their order.
    template <class Keep>
    void retain(Keep keep) {
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const auto& e) { return !keep(e); }),
                       entries_.end());
        index_.clear();
        for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
        next_ = 0;
    }

    // The row count: the longest list.
    std::size_t row_count() const {
        std::size_t rows = 0;
        for (const auto& entry : entries_) rows = std::max(rows, entry.second.size());
        return rows;
    }

    bool empty() const { return entries_.empty(); }

    // Lists the rows of every counted table the lists read (see ChainTable);
    // false with the exception set when interrupted.
    bool list_pending_rows() const {
        for (const auto& entry : entries_) {
            if (!entry.second.list_pending_rows()) return false;
        }
        return true;
    }
    std::vector<std::pair<std::string, ResultList>>& entries() { return entries_; }
    const std::vector<std::pair<std::string, ResultList>>& entries() const { return entries_; }

private:
    ResultList& add(const std::string& name, ResultList list) {
        index_.emplace(name, entries_.size());
        next_ = entries_.size() + 1;
        return entries_.emplace_back(name, std::move(list)).second;
    }

    std::vector<std::pair<std::string, ResultList>> entries_;
    std::unordered_map<std::string, std::size_t> index_; // name -> position in entries_
    mutable std::size_t next_ = 0; // where the next look-up tries first (a hint: const look-ups move it too)
};

} // namespace velarto::py::query
