// Sorting rows by property keys.
//
// Values of one key are ordered first by kind: numbers (bool, int, float),
// then texts, then every other type grouped by its type name, then null (a
// missing key, None, or a row without an entry), which is what makes nulls
// come last ascending and first descending. Within a kind Python's `<`
// decides; two values that Python refuses to order (TypeError) count as
// equal, so the sort keeps their order. Any other exception ends the sort.
//
// A key of the value itself reads a plain value as it is, and a node or an
// edge as its uid (a text), an edge list as the list of its edges' uids.
//
// When a `limit` follows, only the rows it can keep are sorted: a bounded
// heap of the best ones so far, its top the worst kept, picks them in one
// pass (a tie goes to the earlier row, as the stable sort would have it), so
// what is kept is exactly the full sort's prefix; then they are sorted.
//
// Every key value is read once, before sorting, and classified; exact ints
// that fit 64 bits, exact floats and exact strs are then compared without
// calling into Python. The sort is our own merge sort rather than
// std::stable_sort: a user's `__lt__` may answer inconsistently, and a
// standard sort may then read outside its range, while this one only ever
// moves indices between two bounded arrays.
#include "query/row_order.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "graph_elements.hpp"
#include "interrupts.hpp"

namespace velarto::py::query {

namespace {

enum class Rank : std::uint8_t { Number, Text, Other, Null };
enum class Fast : std::uint8_t { None, Int, Float, Text };

struct KeyValue {
    Rank rank = Rank::Null;
    Fast fast = Fast::None;
    std::int64_t integer = 0;
    double real = 0;
    Ref object;
    Ref type_name; // Other: the type's __name__
};

// A number read exactly (an exact int that fits 64 bits, a bool, an exact
// float) keeps no object: its value is all a comparison needs, and a sort
// that reads a key of every row then takes no reference per row.
bool classify(PyObject* object, KeyValue& out) {
    if (PyBool_Check(object) || PyLong_Check(object)) {
        out.rank = Rank::Number;
        if (PyBool_Check(object) || PyLong_CheckExact(object)) {
            int overflow = 0;
            long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
            if (value == -1 && PyErr_Occurred()) return false;
            if (!overflow) {
                out.fast = Fast::Int;
                out.integer = value;
                return true;
            }
        }
        out.object = Ref::borrow(object);
        return true;
    }
    if (PyFloat_Check(object)) {
        out.rank = Rank::Number;
        if (PyFloat_CheckExact(object)) {
            out.fast = Fast::Float;
            out.real = PyFloat_AS_DOUBLE(object);
            return true;
        }
        out.object = Ref::borrow(object);
        return true;
    }
    out.object = Ref::borrow(object);
    if (PyUnicode_Check(object)) {
        out.rank = Rank::Text;
        if (PyUnicode_CheckExact(object)) out.fast = Fast::Text;
        return true;
    }
    out.rank = Rank::Other;
    out.type_name = Ref::steal(PyType_GetName(Py_TYPE(object)));
    return static_cast<bool>(out.type_name);
}

bool read_itself(const QueryResult& entry, KeyValue& out) {
    if (auto* plain = std::get_if<PlainValue>(&entry)) {
        return plain->object.get() == Py_None || classify(plain->object.get(), out);
    }
    Ref uid;
    if (auto* node = std::get_if<NodeValue>(&entry)) {
        uid = Ref::steal(node_uid_to_python(*node));
    } else if (auto* edge = std::get_if<EdgeValue>(&entry)) {
        uid = Ref::steal(edge_uid_to_python(*edge));
    } else {
        const std::vector<EdgeValue>& edges = std::get<EdgeListValue>(entry).edges;
        uid = Ref::steal(PyList_New(static_cast<Py_ssize_t>(edges.size())));
        for (std::size_t i = 0; uid && i < edges.size(); ++i) {
            PyObject* item = edge_uid_to_python(edges[i]);
            if (!item) return false;
            PyList_SET_ITEM(uid.get(), static_cast<Py_ssize_t>(i), item);
        }
    }
    return uid && classify(uid.get(), out);
}

bool read_key(const SortKey& key, std::size_t row, KeyValue& out) {
    if (!key.list || row >= key.list->size()) return true;
    if (key.itself) return read_itself((*key.list)[row], out);
    // Read in place: a list that reads a table makes no values for it.
    PyObject* properties = key.list->properties_at(row);
    if (!properties || !PyDict_Check(properties)) return true;
    Ref held = Ref::borrow(properties);
    PyObject* found = PyDict_GetItemWithError(properties, key.key.get());
    if (!found) return !PyErr_Occurred();
    if (found == Py_None) return true;
    return classify(found, out); // takes its own reference first
}

template <class T>
int three_way(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// An int against a float exactly, as Python compares them (no rounding of
// the int); NaN orders with nothing: a tie.
int int_against_float(std::int64_t i, double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return -1;
    if (d < -9223372036854775808.0) return 1;
    const double whole = std::trunc(d);
    const auto truncated = static_cast<std::int64_t>(whole);
    if (i != truncated) return i < truncated ? -1 : 1;
    const double rest = d - whole;
    return rest > 0 ? -1 : (rest < 0 ? 1 : 0);
}

// The key's object, made anew for a number read exactly (equal in value,
// which is all Python compares).
Ref object_of(const KeyValue& value) {
    if (value.object) return value.object;
    if (value.fast == Fast::Int) return Ref::steal(PyLong_FromLongLong(value.integer));
    return Ref::steal(PyFloat_FromDouble(value.real));
}

// Rows are compared by slot: the row's key values are read into a slot of
// `values_`. A full sort gives each row its own slot; a selection holds only
// the kept rows and one spare slot for the row being read, so its memory
// does not grow with the rows.
class Sorter {
public:
    Sorter(const std::vector<SortKey>& keys, std::size_t slots)
        : keys_(keys), values_(keys.size(), std::vector<KeyValue>(slots)) {}

    // Reads the key values of `row` into `slot`.
    bool read(std::size_t row, std::size_t slot) {
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            KeyValue& value = values_[k][slot];
            value = KeyValue{};
            if (!read_key(keys_[k], row, value)) return false;
        }
        return true;
    }

    bool sort(std::vector<std::size_t>& order) {
        std::size_t n = order.size();
        constexpr std::size_t kRun = 32;
        for (std::size_t start = 0; start < n; start += kRun) insertion_sort(order, start, std::min(n, start + kRun));
        std::vector<std::size_t> buffer(n);
        for (std::size_t width = kRun; width < n; width *= 2) {
            for (std::size_t start = 0; start < n; start += 2 * width) {
                std::size_t middle = std::min(n, start + width), end = std::min(n, start + 2 * width);
                merge(order, buffer, start, middle, end);
            }
            order.swap(buffer);
        }
        return !failed_;
    }

    // The first `keep` rows of the sorted order (the sorter made with keep + 1
    // slots, `keep` < rows), read row by row.
    bool select(std::vector<std::size_t>& order, std::size_t rows, std::size_t keep) {
        rows_.assign(keep + 1, 0);
        std::vector<std::size_t> heap; // slots
        heap.reserve(keep);
        std::size_t spare = 0;
        SignalCheck signals;
        for (std::size_t row = 0; row < rows && keep > 0; ++row) {
            if (!signals.tick() || !read(row, spare)) return false;
            rows_[spare] = row;
            if (heap.size() < keep) {
                heap.push_back(spare);
                sift_up(heap, heap.size() - 1);
                spare = heap.size();
            } else if (compare_rows(spare, heap[0]) < 0) { // a tie keeps the earlier row
                std::swap(spare, heap[0]);
                sift_down(heap, 0);
            }
            if (failed_) return false;
        }
        // By position first: the merge sort keeps ties in this order.
        std::sort(heap.begin(), heap.end(), [&](std::size_t a, std::size_t b) { return rows_[a] < rows_[b]; });
        if (!sort(heap)) return false;
        order.clear();
        for (std::size_t slot : heap) order.push_back(rows_[slot]);
        return true;
    }

private:
    // Whether slot a sorts after slot b; a tie by position.
    bool after(std::size_t a, std::size_t b) {
        int c = compare_rows(a, b);
        return c > 0 || (c == 0 && rows_[a] > rows_[b]);
    }

    // A heap with the row that sorts last on top; each step stays in bounds
    // whatever a user's `__lt__` answers.
    void sift_up(std::vector<std::size_t>& heap, std::size_t at) {
        while (at > 0) {
            std::size_t parent = (at - 1) / 2;
            if (!after(heap[at], heap[parent])) return;
            std::swap(heap[at], heap[parent]);
            at = parent;
        }
    }

    void sift_down(std::vector<std::size_t>& heap, std::size_t at) {
        for (;;) {
            std::size_t last = at, left = 2 * at + 1, right = left + 1;
            if (left < heap.size() && after(heap[left], heap[last])) last = left;
            if (right < heap.size() && after(heap[right], heap[last])) last = right;
            if (last == at) return;
            std::swap(heap[at], heap[last]);
            at = last;
        }
    }

    // <0 when row a sorts before row b, >0 after, 0 when tied.
    int compare_rows(std::size_t a, std::size_t b) {
        if (!failed_ && !signals_.tick()) failed_ = true;
        for (std::size_t k = 0; k < keys_.size() && !failed_; ++k) {
            int c = compare(values_[k][a], values_[k][b]);
            if (c != 0) return keys_[k].ascending ? c : -c;
        }
        return 0;
    }

    int compare(const KeyValue& a, const KeyValue& b) {
        if (a.rank != b.rank) return a.rank < b.rank ? -1 : 1;
        if (a.rank == Rank::Null) return 0;
        if (a.fast == b.fast && a.fast == Fast::Int) return three_way(a.integer, b.integer);
        if (a.fast == b.fast && a.fast == Fast::Float) return three_way(a.real, b.real);
        if (a.fast == Fast::Int && b.fast == Fast::Float) return int_against_float(a.integer, b.real);
        if (a.fast == Fast::Float && b.fast == Fast::Int) return -int_against_float(b.integer, a.real);
        if (a.fast == b.fast && a.fast == Fast::Text) return unicode_order(a.object.get(), b.object.get());
        if (a.rank == Rank::Other) {
            int names = unicode_order(a.type_name.get(), b.type_name.get());
            if (names != 0 || failed_) return names;
        }
        Ref x = object_of(a), y = object_of(b);
        if (!x || !y) {
            failed_ = true;
            return 0;
        }
        if (less(x.get(), y.get())) return -1;
        return less(y.get(), x.get()) ? 1 : 0;
    }

    int unicode_order(PyObject* a, PyObject* b) {
        int c = PyUnicode_Compare(a, b);
        if (c == -1 && PyErr_Occurred()) failed_ = true;
        return c;
    }

    bool less(PyObject* a, PyObject* b) {
        if (failed_) return false;
        Ref result = Ref::steal(PyObject_RichCompare(a, b, Py_LT));
        if (!result) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) PyErr_Clear();
            else failed_ = true;
            return false;
        }
        int truth = PyObject_IsTrue(result.get());
        if (truth < 0) failed_ = true;
        return truth > 0;
    }

    void insertion_sort(std::vector<std::size_t>& order, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin + 1; i < end; ++i) {
            std::size_t row = order[i], j = i;
            while (j > begin && compare_rows(row, order[j - 1]) < 0) {
                order[j] = order[j - 1];
                --j;
            }
            order[j] = row;
        }
    }

    // Stable: a row of the right run goes first only when it sorts strictly before.
    void merge(const std::vector<std::size_t>& in, std::vector<std::size_t>& out, std::size_t begin,
               std::size_t middle, std::size_t end) {
        std::size_t left = begin, right = middle, next = begin;
        while (left < middle && right < end) {
            out[next++] = compare_rows(in[right], in[left]) < 0 ? in[right++] : in[left++];
        }
        while (left < middle) out[next++] = in[left++];
        while (right < end) out[next++] = in[right++];
    }

    const std::vector<SortKey>& keys_;
    std::vector<std::vector<KeyValue>> values_; // per key, per slot
    std::vector<std::size_t> rows_;             // a selection's row per slot
    bool failed_ = false;
    SignalCheck signals_;
};

} // namespace

bool sorted_rows(const std::vector<SortKey>& keys, std::size_t rows, std::vector<std::size_t>& order,
                 std::size_t keep) {
    if (keep < rows) return Sorter(keys, keep + 1).select(order, rows, keep);
    Sorter sorter(keys, rows);
    SignalCheck signals;
    for (std::size_t row = 0; row < rows; ++row) {
        if (!signals.tick() || !sorter.read(row, row)) return false;
    }
    order.resize(rows);
    for (std::size_t row = 0; row < rows; ++row) order[row] = row;
    return sorter.sort(order);
}

} // namespace velarto::py::query
