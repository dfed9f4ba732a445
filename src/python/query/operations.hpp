// The operations a query records, and the persistent sequence that holds them.
//
// Builder calls append one operation to their receiver and return a copy of
// it. The sequence is a chain of immutable links, each pointing to the one
// before it: appending makes one new link, copying a query copies a pointer,
// so a chain of n builder calls costs O(n) in all while every copy stays
// independent (an append to one copy adds a link the other never sees).
#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "path_pattern.hpp"
#include "patterns.hpp"
#include "ref.hpp"

namespace velarto::py::query {

struct Condition; // a parsed `where` condition (row operations)

struct NodeForm {
    NodePatternValue pattern;
};
struct EdgeForm {
    EdgePatternValue pattern;
    std::optional<std::string> start; // always present for create and merge
    std::optional<std::string> end;
};
// In create and merge, a path holds only concrete nodes (with a type) and
// bare variables to reuse, and edges with a term (parse_writable_path).
struct PathForm {
    PathPatternValue path;
};

struct MatchOp {
    std::variant<NodeForm, EdgeForm, PathForm> form;
};
struct WhereOp {
    std::string condition;
    std::shared_ptr<const Condition> parsed;
};
struct CreateOp {
    std::variant<NodeForm, EdgeForm, PathForm> form;
};
struct SetOp {
    std::string variable;
    Ref properties; // the caller's own dict, read when the step runs
};
struct DeleteOp {
    std::vector<std::string> variables;
    bool detach = false;
};
struct MergeOp {
    std::variant<NodeForm, EdgeForm, PathForm> form;
};
struct WithOp {
    std::vector<std::string> variables;
    // Any item other than a name: the items (str objects) are projected.
    bool computes = false;
    std::vector<Ref> items;
};
struct OrderByOp {
    std::string variable;
    std::string key;
    bool ascending = true;
};
struct LimitOp {
    std::size_t count = 0;
};
struct SkipOp {
    std::size_t count = 0;
};

using Operation = std::variant<MatchOp, WhereOp, CreateOp, SetOp, DeleteOp, MergeOp, WithOp,
                               OrderByOp, LimitOp, SkipOp>;

struct OperationLink {
    std::shared_ptr<const OperationLink> previous;
    std::size_t length; // operations up to and including this one
    Operation operation;
};

class OperationList {
public:
    std::size_t size() const { return last_ ? last_->length : 0; }

    void append(Operation operation) {
        auto link = std::make_shared<OperationLink>(OperationLink{last_, size() + 1, std::move(operation)});
        last_ = std::move(link);
    }

    // The operations in queue order; the list keeps them alive.
    std::vector<const Operation*> in_order() const {
        std::vector<const Operation*> out(size());
        std::size_t index = out.size();
        for (const OperationLink* link = last_.get(); link; link = link->previous.get()) {
            out[--index] = &link->operation;
        }
        return out;
    }

    ~OperationList() {
        // Unlink iteratively: a chain of a million builder calls must not be
        // freed by a million nested destructor calls.
        std::shared_ptr<const OperationLink> link = std::move(last_);
        while (link && link.use_count() == 1) {
            std::shared_ptr<const OperationLink> previous = link->previous;
            link = std::move(previous);
        }
    }
    OperationList() = default;
    OperationList(const OperationList&) = default;
    OperationList& operator=(const OperationList&) = default;

private:
    std::shared_ptr<const OperationLink> last_;
};

} // namespace velarto::py::query
