// Sorting rows by property keys.
//
// Values of one key are ordered first by kind: numbers (bool, int, float),
// then texts, then every other type grouped by its type name, then null (a
// missing key, None, or a row without an entry), which is what makes nulls
// come last ascending and first descending. Within a kind Python's `<`
// decides; two values that Python refuses to order (TypeError) count as
// equal, so the sort keeps their order. Any other exception ends the sort.
//
// Every key value is read once, before sorting, and classified; exact ints
// that fit 64 bits, exact floats and exact strs are then compared without
// calling into Python. The sort is our own merge sort rather than
// std::stable_sort: a user's `__lt__` may answer inconsistently, and a
// standard sort may then read outside its range, while this one only ever
// moves indices between two bounded arrays.
#include "query/row_order.hpp"

#include "interrupts.hpp"

#include <cstdint>

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

bool classify(PyObject* object, KeyValue& out) {
    out.object = Ref::borrow(object);
    if (PyBool_Check(object) || PyLong_Check(object)) {
        out.rank = Rank::Number;
        if (!PyBool_Check(object) && !PyLong_CheckExact(object)) return true;
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (value == -1 && PyErr_Occurred()) return false;
        if (!overflow) {
            out.fast = Fast::Int;
            out.integer = value;
        }
        return true;
    }
    if (PyFloat_Check(object)) {
        out.rank = Rank::Number;
        if (PyFloat_CheckExact(object)) {
            out.fast = Fast::Float;
            out.real = PyFloat_AS_DOUBLE(object);
        }
        return true;
    }
    if (PyUnicode_Check(object)) {
        out.rank = Rank::Text;
        if (PyUnicode_CheckExact(object)) out.fast = Fast::Text;
        return true;
    }
    out.rank = Rank::Other;
    out.type_name = Ref::steal(PyType_GetName(Py_TYPE(object)));
    return static_cast<bool>(out.type_name);
}

bool read_key(const SortKey& key, std::size_t row, KeyValue& out) {
    if (!key.list || row >= key.list->size()) return true;
    PyObject* properties = properties_of((*key.list)[row]);
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

class Sorter {
public:
    Sorter(const std::vector<SortKey>& keys, std::vector<std::vector<KeyValue>> values)
        : keys_(keys), values_(std::move(values)) {}

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

private:
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
        if (a.fast == b.fast && a.fast == Fast::Text) return unicode_order(a.object.get(), b.object.get());
        if (a.rank == Rank::Other) {
            int names = unicode_order(a.type_name.get(), b.type_name.get());
            if (names != 0 || failed_) return names;
        }
        if (less(a.object.get(), b.object.get())) return -1;
        return less(b.object.get(), a.object.get()) ? 1 : 0;
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
    std::vector<std::vector<KeyValue>> values_; // per key, per row
    bool failed_ = false;
    SignalCheck signals_;
};

} // namespace

bool sorted_rows(const std::vector<SortKey>& keys, std::size_t rows, std::vector<std::size_t>& order) {
    std::vector<std::vector<KeyValue>> values(keys.size());
    SignalCheck signals;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        values[k].resize(rows);
        for (std::size_t row = 0; row < rows; ++row) {
            if (!signals.tick() || !read_key(keys[k], row, values[k][row])) return false;
        }
    }
    order.resize(rows);
    for (std::size_t row = 0; row < rows; ++row) order[row] = row;
    return Sorter(keys, std::move(values)).sort(order);
}

} // namespace velarto::py::query
