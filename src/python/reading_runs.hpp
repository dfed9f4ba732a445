// Runs that read values in place, and what waits for them to end.
//
// A run reads node and edge values where they lie: in the Node and Edge
// objects of the graph's dicts, and in the stores and tables of other runs
// that row objects read in place (held_value.hpp). Python code can run in
// the middle of a run (a property's `==`, a signal handler, a finalizer, or
// another thread let in by either), and that code may assign any object's
// `properties`, drop any object, or clear any dict.
//
// The rule: what a run may be reading is never freed or moved while a run is
// on the stack. Objects are held by the run itself (Ref), and their own
// values never move; the rest goes through here:
//   - a store or table of shared values whose last reader let go (a row
//     object that gained its own value, or died) is freed when the last run
//     ends (`release_keeper`), not at once;
//   - objects that a table stops holding while copying their values are
//     dropped then too (`drop_objects`), and the copy leaves the table's
//     steps where they are.
// A `ReadingRun` is entered at the door of every query call, so the rule
// holds whichever step, listing or projection is reading.
//
// The count is the process's, not a thread's: a pointer taken by a run in
// one thread is what another thread's assignment must not free. Everything
// here runs under the interpreter lock.
#pragma once

#include <cstddef>
#include <vector>

#include "ref.hpp"

namespace velarto::py {

struct ValueKeeper;

class ReadingRun {
public:
    ReadingRun() { ++depth_; }
    ~ReadingRun() {
        if (--depth_ == 0 && waiting_) finish();
    }
    ReadingRun(const ReadingRun&) = delete;
    ReadingRun& operator=(const ReadingRun&) = delete;

    static bool any() { return depth_ != 0; }
    // Frees `keeper` (whose last reader let go) when no run is on the stack.
    static void release_keeper(ValueKeeper* keeper);
    // Drops `objects` when no run is on the stack (now, if none is).
    static void drop_objects(std::vector<Ref>&& objects);

private:
    static void finish();

    static inline std::size_t depth_ = 0;
    static inline bool waiting_ = false;
};

} // namespace velarto::py
