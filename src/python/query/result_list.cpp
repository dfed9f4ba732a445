// Reading a bound list, from its values or from the chain table it shares.
#include "query/result_list.hpp"

#include <algorithm>
#include <iterator>

#include "classes.hpp"
#include "prefetch.hpp"
#include "reading_runs.hpp"

namespace velarto::py::query {

namespace {

// The tables that still read Edge objects instead of copies of their values,
// and the node stores that still read Node objects.
std::vector<const ChainTable*> tables_reading_objects;
std::vector<NodeValueStore*> stores_reading_objects;

} // namespace

NodeValueStore::~NodeValueStore() {
    if (!objects.empty()) std::erase(stores_reading_objects, this);
}

void NodeValueStore::hold_objects(std::vector<Ref> held) {
    if (held.empty()) return;
    objects = std::move(held);
    stores_reading_objects.push_back(this);
}

const NodeValue& NodeValueStore::peek(std::size_t i) const {
    return objects.empty() ? values[i] : as<NodeObject>(objects[i].get())->value.read();
}

void NodeValueStore::copy_values() {
    if (objects.empty()) return;
    // Out of the store first: dropping the objects may free one, and freeing
    // may run Python code (a finalizer among its properties), which must find
    // the store done, its values complete. They are dropped once no run is
    // on the stack: a run may be reading one of them in place.
    std::vector<Ref> held = std::move(objects);
    objects.clear();
    std::erase(stores_reading_objects, this);
    // A copy counts the node's type and properties dict, which lie all over
    // memory: they are asked for a few nodes ahead, the Node before them.
    constexpr std::size_t kNode = 32, kParts = 16;
    const std::size_t count = held.size();
    auto value_of = [&](std::size_t i) -> const NodeValue& { return as<NodeObject>(held[i].get())->value.read(); };
    values.reserve(values.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kNode < count) prefetch(held[i + kNode].get());
        if (i + kParts < count) {
            const NodeValue& ahead = value_of(i + kParts);
            prefetch(ahead.type.get());
            prefetch(ahead.properties.get());
        }
        values.push_back(value_of(i));
    }
    ReadingRun::drop_objects(std::move(held));
}

ChainTable::~ChainTable() {
    if (!edge_objects.empty()) std::erase(tables_reading_objects, this);
}

void ChainTable::hold_edge_objects(std::vector<Ref> objects) {
    if (objects.empty() || (!pending && steps.empty())) return; // nothing will read them
    edge_objects = std::move(objects);
    tables_reading_objects.push_back(this);
}

bool ChainTable::list(bool interruptible) const {
    auto& self = const_cast<ChainTable&>(*this); // tables are made non-const; lists share them as const
    ReadingRun listing; // a signal handler may copy this table's values meanwhile: its steps stay put
    std::function<bool(ChainTable&, bool)> fill = std::move(pending);
    pending = nullptr;
    listing_ = true; // steps are being written: a copy meanwhile takes every edge
    bool listed = fill(self, interruptible);
    listing_ = false;
    if (listed) return true;
    self.steps.clear();
    pending = std::move(fill);
    return false;
}

void ChainTable::copy_edge_values() const {
    if (edge_objects.empty()) return;
    auto& self = const_cast<ChainTable&>(*this); // tables are made non-const; lists share them as const
    // Out of the table first, as for node stores: dropping the objects may
    // run Python code, which must find the table done. They are dropped once
    // no run is on the stack: a run may be reading them (a listing of this
    // very table, interrupted by the signal handler that got us here).
    std::vector<Ref> held = std::move(self.edge_objects);
    self.edge_objects.clear();
    std::erase(tables_reading_objects, this);
    std::vector<EdgeValue>& values = self.store->values;
    if (pending || listing_) {
        // Every edge, by position: a listing searches them all.
        values.reserve(held.size());
        for (const Ref& object : held) values.push_back(*edge_value(object.get()));
    } else if (ReadingRun::any()) {
        // A run on the stack may be in the middle of reading the steps, which
        // therefore stay as they are: by position, but only the edges they
        // name (a match of a few edges among many copies those few).
        values.resize(held.size());
        for (std::uint32_t step : self.steps) {
            EdgeValue& value = values[step >> 1];
            if (!value.core) value = *edge_value(held[step >> 1].get());
        }
    } else {
        // Only the edges the rows use, each once; steps then name them by index.
        std::vector<std::uint32_t> index_of(held.size(), UINT32_MAX);
        for (std::uint32_t& step : self.steps) {
            std::uint32_t& index = index_of[step >> 1];
            if (index == UINT32_MAX) {
                index = static_cast<std::uint32_t>(values.size());
                values.push_back(*edge_value(held[step >> 1].get()));
            }
            step = index << 1 | (step & 1);
        }
    }
    ReadingRun::drop_objects(std::move(held));
}

PyObject* result_to_python(const QueryResult& value) {
    if (auto* node = std::get_if<NodeValue>(&value)) return node_to_python(*node);
    if (auto* edge = std::get_if<EdgeValue>(&value)) return edge_to_python(*edge);
    if (auto* plain = std::get_if<PlainValue>(&value)) return Py_NewRef(plain->object.get());
    const std::vector<EdgeValue>& edges = std::get<EdgeListValue>(value).edges;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(edges.size()));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        PyObject* item = edge_to_python(edges[i]);
        if (!item) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

PyObject* ResultList::to_python(std::size_t i) const {
    if (!viewing()) return result_to_python(items_[i]);
    if (table_) table_->list_rows();
    return shared_object(first_ + i);
}

namespace {

// The keeper of a store of values, made with the first object that reads it.
template <class Store>
ValueKeeper* keeper_of(const std::shared_ptr<Store>& store) {
    if (!store->keeper) {
        auto* keeper = new ValueKeeper;
        keeper->table = store;
        keeper->registered = &store->keeper;
        store->keeper = keeper;
    }
    return store->keeper;
}

} // namespace

// An object that reads its value in place, in a store that one keeper per
// store keeps alive for all of them.
PyObject* ResultList::shared_object(std::size_t row) const {
    ValueKeeper* keeper = nodes_ ? keeper_of(nodes_) : keeper_of(table_->store);
    const std::size_t place = column_ / 2;
    PyObject* made = nodes_         ? shared_node_to_python(&nodes_->value(row), keeper)
                     : reads_node() ? shared_node_to_python(&table_->node(row, place), keeper)
                                    : shared_edge_to_python(&table_->edge(row, place), keeper);
    if (!made && keeper->objects == 0) { // no object holds it: let it go
        keeper->retain();
        keeper->release();
    }
    return made;
}

PyObject* ResultList::properties_at(std::size_t i) const {
    if (nodes_) return nodes_->properties(first_ + i);
    if (!table_) return properties_of(items_[i]);
    table_->list_rows();
    const std::size_t row = first_ + i;
    if (reads_node()) return table_->node(row, column_ / 2).properties.get();
    return table_->edge(row, column_ / 2).properties.get();
}

void ResultList::drop_front(std::size_t n) {
    if (viewing()) {
        n = std::min(n, count_);
        first_ += n;
        count_ -= n;
        return;
    }
    // Moved out first: a decref that frees may run Python code, which must
    // find the list whole.
    auto end = items_.begin() + static_cast<std::ptrdiff_t>(std::min(n, items_.size()));
    std::vector<QueryResult> dropped(std::make_move_iterator(items_.begin()), std::make_move_iterator(end));
    items_.erase(items_.begin(), end);
}

void ResultList::truncate(std::size_t n) {
    if (viewing()) {
        count_ = std::min(n, count_);
        return;
    }
    if (items_.size() <= n) return;
    auto begin = items_.begin() + static_cast<std::ptrdiff_t>(n);
    std::vector<QueryResult> dropped(std::make_move_iterator(begin), std::make_move_iterator(items_.end()));
    items_.erase(begin, items_.end());
}

ResultList ResultList::pick(const std::vector<std::size_t>& rows) && {
    ResultList kept;
    kept.items_.reserve(std::min(rows.size(), size()));
    for (std::size_t row : rows) {
        if (row >= size()) continue;
        if (!viewing()) {
            kept.items_.push_back(std::move(items_[row]));
        } else if (nodes_) {
            kept.items_.emplace_back(std::in_place_type<NodeValue>, nodes_->peek(first_ + row));
        } else {
            table_->list_rows();
            const std::size_t place = column_ / 2;
            if (reads_node()) kept.items_.emplace_back(std::in_place_type<NodeValue>, table_->node(first_ + row, place));
            else kept.items_.emplace_back(std::in_place_type<EdgeValue>, table_->edge(first_ + row, place));
        }
    }
    return kept;
}

bool ResultList::holds_values() const {
    if (viewing()) return false;
    return std::any_of(items_.begin(), items_.end(),
                       [](const QueryResult& entry) { return std::holds_alternative<PlainValue>(entry); });
}

void ResultList::make_values() const {
    std::vector<QueryResult> made;
    made.reserve(count_);
    if (nodes_) {
        for (std::size_t row = first_; row < first_ + count_; ++row) {
            made.emplace_back(std::in_place_type<NodeValue>, nodes_->value(row));
        }
        items_ = std::move(made);
        nodes_.reset();
        return;
    }
    table_->list_rows();
    const std::size_t place = column_ / 2;
    for (std::size_t row = first_; row < first_ + count_; ++row) {
        if (reads_node()) {
            made.emplace_back(std::in_place_type<NodeValue>, table_->node(row, place));
        } else {
            made.emplace_back(std::in_place_type<EdgeValue>, table_->edge(row, place));
        }
    }
    items_ = std::move(made);
    table_.reset();
}

} // namespace velarto::py::query

namespace velarto::py {

void take_pending_node_values() {
    // Each store leaves the list as it copies; copying runs no Python code.
    while (!query::stores_reading_objects.empty()) query::stores_reading_objects.back()->copy_values();
}

void take_pending_edge_values() {
    // Each table leaves the list as it copies; copying runs no Python code.
    while (!query::tables_reading_objects.empty()) query::tables_reading_objects.back()->copy_edge_values();
}

} // namespace velarto::py
