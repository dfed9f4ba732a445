// The running totals of sum() and avg().
//
// Over ints alone the total is the exact int. Once a float comes, the total
// is what math.fsum gives over every value so far and to come: the exactly
// rounded sum, whatever the order of the values. fsum converts each int to a
// float first, so while the values are ints the sum of those conversions is
// kept too (it differs from the exact total only for ints beyond 2**53), and
// the first float seeds the float partials with it, split exactly into
// floats. Values of other Python types (a Decimal) are added with Python's
// `+` from then on.
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include "query/value_ops.hpp"
#include "ref.hpp"

namespace velarto::py::query {

// Shewchuk's exact summation of floats into non-overlapping partials, with
// the correctly rounded result math.fsum gives. Where fsum fails, the total
// is what adding in floats gives: an exact sum beyond the floats is an
// infinity, and inf + -inf is nan.
class FloatSum {
public:
    bool add(double x); // true: kept for the callers' error paths
    bool result(double& out) const;

private:
    std::vector<double> partials_; // increasing magnitude, non-overlapping
    double special_ = 0.0;         // the sum of the infinities and nans seen
};

class NumericSum {
public:
    // Adds a value that is not null: Refused for a kind sums do not take
    // (booleans, texts, lists, maps, nodes, edges).
    Outcome add(const Value& value);
    // The total (0 for no values) and the mean over `count` values (true
    // division); new references, nullptr with an exception set.
    PyObject* total() const;
    PyObject* mean(std::size_t count) const;

private:
    enum class Mode : std::uint8_t { Integers, Floats, Python };
    bool add_integer(PyObject* integer);
    bool to_floats();
    PyObject* integer_total(bool as_floats) const;

    Mode mode_ = Mode::Integers;
    long long small_ = 0;        // the exact total is big_ + small_
    Ref big_;                    // an int, or empty for 0
    Ref rounding_;               // the sum of float(v) - v over the ints; empty for 0
    bool unconvertible_ = false; // an int beyond every float was added
    FloatSum floats_;
    Ref python_; // the running total of Python's `+`
};

} // namespace velarto::py::query
