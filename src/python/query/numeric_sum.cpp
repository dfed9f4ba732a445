// Exact totals for sum() and avg(); see numeric_sum.hpp.
#include "query/numeric_sum.hpp"

#include <cmath>
#include <utility>

namespace velarto::py::query {

namespace {

constexpr long long kExactInFloat = 1LL << 53; // every int of this size or less is a float exactly

// Ints are added by int's own code: a subclass's __radd__ has no say.
PyObject* int_add(PyObject* a, PyObject* b) { return PyLong_Type.tp_as_number->nb_add(a, b); }
PyObject* int_subtract(PyObject* a, PyObject* b) { return PyLong_Type.tp_as_number->nb_subtract(a, b); }

// a += b for ints, a empty standing for 0.
bool add_ints(Ref& a, PyObject* b) {
    a = a ? Ref::steal(int_add(a.get(), b)) : Ref::steal(PyLong_Type.tp_as_number->nb_positive(b));
    return static_cast<bool>(a);
}

} // namespace

// ---------------------------------------------------------------- FloatSum

bool FloatSum::add(double x) {
    const double given = x;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < partials_.size(); ++i) {
        double y = partials_[i];
        if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
        double high = x + y;
        double low = y - (high - x);
        if (low != 0.0) partials_[kept++] = low;
        x = high;
    }
    partials_.resize(kept);
    if (x == 0.0) return true;
    if (std::isfinite(x)) {
        partials_.push_back(x);
        return true;
    }
    // Finite values whose sum is not: the total overflows to an infinity, as
    // adding in floats would, instead of failing.
    const double special = std::isfinite(given) ? x : given;
    special_ += special;
    partials_.clear();
    return true;
}

bool FloatSum::result(double& out) const {
    if (special_ != 0.0 || std::isnan(special_)) {
        out = special_; // inf + -inf is nan, as in floats
        return true;
    }
    out = 0.0;
    std::size_t n = partials_.size();
    if (n == 0) return true;
    double high = partials_[--n];
    double low = 0.0;
    while (n > 0) { // add from the top while the sum stays exact
        double x = high;
        double y = partials_[--n];
        high = x + y;
        low = y - (high - x);
        if (low != 0.0) break;
    }
    // Round half to even correctly: when the partial below points the same
    // way as the rounding error, the tie goes the other way.
    if (n > 0 && ((low < 0.0 && partials_[n - 1] < 0.0) || (low > 0.0 && partials_[n - 1] > 0.0))) {
        double y = low * 2.0;
        double x = high + y;
        if (y == x - high) high = x;
    }
    out = high;
    return true;
}

// ---------------------------------------------------------------- NumericSum

bool NumericSum::add_integer(PyObject* integer) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(integer, &overflow);
    long long sum;
    if (!overflow && !__builtin_add_overflow(small_, value, &sum)) {
        small_ = sum;
    } else if (!add_ints(big_, integer)) {
        return false;
    }
    if (!overflow && value <= kExactInFloat && value >= -kExactInFloat) return true;
    // Beyond 2**53: keep what the conversion to float adds.
    double converted = PyLong_AsDouble(integer);
    if (converted == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
        unconvertible_ = true;
        return true;
    }
    Ref as_int = Ref::steal(PyLong_FromDouble(converted));
    Ref gap = Ref::steal(as_int ? int_subtract(as_int.get(), integer) : nullptr);
    return gap && add_ints(rounding_, gap.get());
}

// The exact total, or (as_floats) the total of the ints as floats, as an int.
PyObject* NumericSum::integer_total(bool as_floats) const {
    Ref total = Ref::steal(PyLong_FromLongLong(small_));
    if (total && big_) total = Ref::steal(int_add(total.get(), big_.get()));
    if (total && as_floats && rounding_) total = Ref::steal(int_add(total.get(), rounding_.get()));
    return total.release();
}

// The first float: the ints so far enter the partials as the exact sum of
// their conversions, split into floats.
bool NumericSum::to_floats() {
    mode_ = Mode::Floats;
    if (unconvertible_) {
        PyErr_SetString(PyExc_OverflowError, "int too large to convert to float");
        return false;
    }
    Ref rest = Ref::steal(integer_total(true));
    while (rest) {
        double part = PyLong_AsDouble(rest.get());
        if (part == -1.0 && PyErr_Occurred()) return false;
        if (part == 0.0) return true;
        if (!floats_.add(part)) return false;
        Ref taken = Ref::steal(PyLong_FromDouble(part));
        rest = Ref::steal(taken ? int_subtract(rest.get(), taken.get()) : nullptr);
    }
    return false;
}

Outcome NumericSum::add(const Value& value) {
    Kind kind = kind_of(value);
    if (kind != Kind::Integer && kind != Kind::Float && kind != Kind::Other) return Outcome::Refused;
    PyObject* object = value.object.get();
    if (mode_ != Mode::Python && kind == Kind::Other) {
        python_ = Ref::steal(total());
        mode_ = Mode::Python;
        if (!python_) return Outcome::Failed;
    }
    switch (mode_) {
    case Mode::Integers:
        if (kind == Kind::Integer) return add_integer(object) ? Outcome::Done : Outcome::Failed;
        if (!to_floats()) return Outcome::Failed;
        [[fallthrough]];
    case Mode::Floats: {
        double x = kind == Kind::Float ? PyFloat_AS_DOUBLE(object) : PyLong_AsDouble(object);
        if (x == -1.0 && PyErr_Occurred()) return Outcome::Failed;
        return floats_.add(x) ? Outcome::Done : Outcome::Failed;
    }
    default:
        python_ = Ref::steal(PyNumber_Add(python_.get(), object));
        return python_ ? Outcome::Done : Outcome::Failed;
    }
}

PyObject* NumericSum::total() const {
    switch (mode_) {
    case Mode::Integers: return integer_total(false);
    case Mode::Floats: {
        double sum;
        return floats_.result(sum) ? PyFloat_FromDouble(sum) : nullptr;
    }
    default: return Ref(python_).release();
    }
}

PyObject* NumericSum::mean(std::size_t count) const {
    Ref sum = Ref::steal(total());
    Ref divisor = Ref::steal(PyLong_FromSize_t(count));
    return sum && divisor ? PyNumber_TrueDivide(sum.get(), divisor.get()) : nullptr;
}

} // namespace velarto::py::query
