// Grouped rows: hash aggregation over the rows of the binding table.
//
// The columns without an aggregate are the grouping key. Each row's key
// cells are hashed (graph values by uid, other values by Python's hash) and
// looked up in one open-addressing table of groups (hash and group index,
// probed linearly, only equal hashes compared), so a run is O(rows) and
// allocates only per group. Groups keep
// the order in which their first row came. Every aggregate node of the other
// columns has one accumulator per group; it is fed its argument's value row
// by row (nulls skipped, DISTINCT values once), and at the end each
// aggregating column is evaluated once per group with the accumulators'
// results standing for its aggregate nodes. Anything else such a column
// reads (`p.age + count(*)`) is read on the group's first row. sum and avg
// keep exact totals (numeric_sum.hpp).
//
// With no grouping column there is exactly one group, also over no rows.
#include <unordered_map>

#include "interrupts.hpp"
#include "query/numeric_sum.hpp"
#include "query/projection_rows.hpp"

namespace velarto::py::query {

namespace {

using core::ExprKind;
using core::Function;

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::size_t kNoRow = SIZE_MAX; // a row past every list: every variable reads null

// One aggregate node of one column.
struct Slot {
    std::size_t column;
    std::uint32_t node;
    Function function;
    bool distinct;
    bool star; // count(*)
};

// The distinct values an accumulator has seen, by hash.
using Seen = std::unordered_map<std::size_t, std::vector<Value>>;

struct Accumulator {
    std::size_t count = 0;
    Value value;                     // min, max: the best so far
    std::unique_ptr<NumericSum> sum; // sum, avg
    Ref list;                        // collect
    std::unique_ptr<Seen> seen;
};

struct Group {
    Row key;
    std::size_t first_row;
    std::vector<Accumulator> accumulators;
};

// Group indices by key hash: a power-of-two table of (hash, index) slots,
// never more than half full.
class GroupTable {
public:
    // The slot of `hash` to start probing at, and the next one.
    std::size_t first(std::size_t hash) const { return mix(hash) & (slots_.size() - 1); }
    std::size_t next(std::size_t slot) const { return (slot + 1) & (slots_.size() - 1); }
    bool empty_at(std::size_t slot) const { return slots_[slot].group == kNone; }
    std::size_t hash_at(std::size_t slot) const { return slots_[slot].hash; }
    std::uint32_t group_at(std::size_t slot) const { return slots_[slot].group; }

    void insert(std::size_t hash, std::uint32_t group) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::size_t slot = first(hash);
        while (!empty_at(slot)) slot = next(slot);
        slots_[slot] = {hash, group};
        ++count_;
    }

private:
    struct Slot {
        std::size_t hash = 0;
        std::uint32_t group = kNone;
    };
    static std::size_t mix(std::size_t hash) { return (hash * 0x9E3779B97F4A7C15ull) >> 17; }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.size() * 2, Slot{});
        for (const Slot& slot : old) {
            if (slot.group == kNone) continue;
            std::size_t at = first(slot.hash);
            while (!empty_at(at)) at = next(at);
            slots_[at] = slot;
        }
    }

    std::vector<Slot> slots_ = std::vector<Slot>(16);
    std::size_t count_ = 0;
};

// Kinds in the order min and max use: numbers, texts, anything else.
int rank_of(const Value& value) {
    if (value.element) return 2;
    PyObject* object = value.object.get();
    if (PyBool_Check(object) || PyLong_Check(object) || PyFloat_Check(object)) return 0;
    return PyUnicode_Check(object) ? 1 : 2;
}

// Whether `candidate` should replace `best` (min: it sorts before; max:
// after). Values of one kind that Python cannot order keep the first.
bool better(const Value& candidate, const Value& best, bool minimum, bool& out) {
    int a = rank_of(candidate), b = rank_of(best);
    out = minimum ? a < b : a > b;
    if (a != b) return true;
    Ref x = Ref::steal(to_python(candidate)), y = Ref::steal(to_python(best));
    if (!x || !y) return false;
    int truth = PyObject_RichCompareBool(x.get(), y.get(), minimum ? Py_LT : Py_GT);
    if (truth < 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        truth = 0;
    }
    out = truth > 0;
    return true;
}

// True when the value was seen before; otherwise it is remembered.
bool seen_before(Accumulator& accumulator, const Value& value, bool& out) {
    if (!accumulator.seen) accumulator.seen = std::make_unique<Seen>();
    std::size_t hash;
    if (!hash_value(value, hash)) return false;
    std::vector<Value>& bucket = (*accumulator.seen)[hash];
    for (const Value& known : bucket) {
        if (!same_value(known, value, out)) return false;
        if (out) return true;
    }
    bucket.push_back(value);
    out = false;
    return true;
}

bool feed(const Slot& slot, const Condition& condition, Accumulator& accumulator, const Value& value) {
    if (value.is_null()) return true;
    if (slot.distinct) {
        bool seen;
        if (!seen_before(accumulator, value, seen)) return false;
        if (seen) return true;
    }
    ++accumulator.count;
    switch (slot.function) {
    case Function::Sum:
    case Function::Avg: {
        if (!accumulator.sum) accumulator.sum = std::make_unique<NumericSum>();
        Outcome outcome = accumulator.sum->add(value);
        if (outcome != Outcome::Refused) return outcome == Outcome::Done;
        std::string what = std::string(core::function_name(slot.function)) + "() expects numbers, got ";
        return raise_at(PyExc_TypeError, condition, condition.tree.nodes[slot.node].column, what + kind_name(value));
    }
    case Function::Min:
    case Function::Max: {
        bool replace = accumulator.value.is_null();
        if (!replace && !better(value, accumulator.value, slot.function == Function::Min, replace)) return false;
        if (replace) accumulator.value = value;
        return true;
    }
    case Function::Collect: {
        if (!accumulator.list && !(accumulator.list = Ref::steal(PyList_New(0)))) return false;
        Ref item = Ref::steal(to_python(value));
        return item && PyList_Append(accumulator.list.get(), item.get()) == 0;
    }
    default: return true; // count
    }
}

bool result_of(const Slot& slot, const Accumulator& accumulator, Value& out) {
    out = Value{};
    Ref result;
    switch (slot.function) {
    case Function::Count: result = Ref::steal(PyLong_FromSize_t(accumulator.count)); break;
    case Function::Sum:
        result = Ref::steal(accumulator.sum ? accumulator.sum->total() : PyLong_FromLong(0));
        break;
    case Function::Avg:
        if (accumulator.count == 0) return true;
        result = Ref::steal(accumulator.sum->mean(accumulator.count));
        break;
    case Function::Collect:
        result = accumulator.list ? accumulator.list : Ref::steal(PyList_New(0));
        break;
    default: // min, max
        out = accumulator.value;
        return true;
    }
    if (!result) return false;
    if (result.get() != Py_None) out.object = std::move(result);
    return true;
}

class Aggregation {
public:
    explicit Aggregation(const std::vector<Column>& columns) : columns_(columns) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (!column.expression || !column.expression->aggregates) continue;
            const auto& nodes = column.expression->condition.tree.nodes;
            for (std::uint32_t i = 0; i < nodes.size(); ++i) {
                if (nodes[i].kind != ExprKind::Aggregate) continue;
                slots_.push_back({c, i, nodes[i].function, nodes[i].boolean, nodes[i].operands.empty()});
            }
        }
    }

    bool run(std::size_t row_count, std::vector<Row>& out) {
        Row key;
        SignalCheck signals;
        for (std::size_t row = 0; row < row_count; ++row) {
            if (!signals.tick()) return false;
            key.clear();
            std::size_t hash;
            if (!key_of(row, key, hash)) return false;
            Group* group;
            if (!find_or_add(key, hash, row, group) || !accumulate(row, *group)) return false;
        }
        if (groups_.empty() && !grouped()) add_group(Row{}, kNoRow);
        out.reserve(groups_.size());
        for (Group& group : groups_) {
            if (!finish(group, out.emplace_back())) return false;
        }
        return true;
    }

private:
    bool aggregating(const Column& column) const { return column.expression && column.expression->aggregates; }
    bool grouped() const {
        for (const Column& column : columns_) {
            if (!aggregating(column)) return true;
        }
        return false;
    }

    bool key_of(std::size_t row, Row& key, std::size_t& hash) {
        hash = 0;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const Column& column = columns_[c];
            if (aggregating(column)) continue;
            if (column.evaluator) {
                Value value;
                if (!column.evaluator->evaluate(row, value)) return false;
                value_cell(c, value, key.emplace_back());
            } else if (column.list && row < column.list->size()) {
                bool read = column.property ? read_property_cell(column, c, row, key.emplace_back())
                                            : read_cell(column, c, (*column.list)[row], key.emplace_back());
                if (!read) return false;
            } else {
                continue; // absent: the key lacks this column
            }
            std::size_t part;
            const Cell& cell = key.back();
            if (!hash_value(cell.element, object_of(cell), part)) return false;
            hash = hash * 0x9E3779B97F4A7C15ull + part * 1000003u + c;
        }
        return true;
    }

    // A cell's object, nullptr for a graph value or for None.
    static PyObject* object_of(const Cell& cell) {
        return cell.element || cell.value.get() == Py_None ? nullptr : cell.value.get();
    }

    bool same_key(const Row& a, const Row& b, bool& out) {
        out = a.size() == b.size();
        for (std::size_t i = 0; i < a.size() && out; ++i) {
            out = a[i].column == b[i].column;
            if (out && !same_value(a[i].element, object_of(a[i]), b[i].element, object_of(b[i]), out)) return false;
        }
        return true;
    }

    void add_group(Row key, std::size_t row) {
        Group& group = groups_.emplace_back();
        group.key = std::move(key);
        group.first_row = row;
        group.accumulators.resize(slots_.size());
    }

    bool find_or_add(Row& key, std::size_t hash, std::size_t row, Group*& out) {
        for (std::size_t slot = table_.first(hash); !table_.empty_at(slot); slot = table_.next(slot)) {
            if (table_.hash_at(slot) != hash) continue;
            Group& group = groups_[table_.group_at(slot)];
            bool same;
            if (!same_key(group.key, key, same)) return false;
            if (same) {
                out = &group;
                return true;
            }
        }
        table_.insert(hash, static_cast<std::uint32_t>(groups_.size()));
        add_group(key, row); // copies: the buffer is reused for the next row
        out = &groups_.back();
        return true;
    }

    bool accumulate(std::size_t row, Group& group) {
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            const Slot& slot = slots_[s];
            if (slot.star) {
                ++group.accumulators[s].count;
                continue;
            }
            const Column& column = columns_[slot.column];
            const core::ExprNode& node = column.expression->condition.tree.nodes[slot.node];
            Value value;
            if (!column.evaluator->evaluate(row, node.operands[0], value)) return false;
            if (!feed(slot, column.expression->condition, group.accumulators[s], value)) return false;
        }
        return true;
    }

    bool finish(const Group& group, Row& out) {
        std::size_t next_key = 0;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const Column& column = columns_[c];
            if (!aggregating(column)) {
                if (next_key < group.key.size() && group.key[next_key].column == c) out.push_back(group.key[next_key++]);
                continue;
            }
            std::vector<Value> results(column.expression->condition.tree.nodes.size());
            for (std::size_t s = 0; s < slots_.size(); ++s) {
                if (slots_[s].column != c) continue;
                if (!result_of(slots_[s], group.accumulators[s], results[slots_[s].node])) return false;
            }
            column.evaluator->set_aggregates(&results);
            Value value;
            bool ok = column.evaluator->evaluate(group.first_row, value);
            column.evaluator->set_aggregates(nullptr);
            if (!ok) return false;
            value_cell(c, value, out.emplace_back());
            // The value may be an accumulator's own object: the cell holds its reference.
        }
        return true;
    }

    const std::vector<Column>& columns_;
    std::vector<Slot> slots_;
    std::vector<Group> groups_;
    GroupTable table_;
};

} // namespace

bool aggregate_rows(const std::vector<Column>& columns, std::size_t row_count, std::vector<Row>& out) {
    return Aggregation(columns).run(row_count, out);
}

} // namespace velarto::py::query
