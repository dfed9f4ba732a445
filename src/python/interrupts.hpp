// Lets loops whose length the input decides notice Ctrl-C.
//
// A loop that runs no Python code never reaches the interpreter's own check
// for signals, so a long scan or search would hold a Ctrl-C until it ends.
// Every few thousand steps `tick` runs the pending signal handlers; a handler
// that raises (KeyboardInterrupt) makes it return false with that exception
// set, and the loop fails like any other step: what it wrote stays, what it
// held is released.
#pragma once

#include <Python.h>

#include <cstdint>

namespace velarto::py {

class SignalCheck {
public:
    bool tick() {
        if ((++steps_ & kMask) != 0) return true;
        return PyErr_CheckSignals() == 0;
    }

    // Whether the last `tick` ran the handlers: Python code, which may have
    // changed anything, so nothing borrowed before it may be read after it.
    bool just_checked() const { return steps_ != 0 && (steps_ & kMask) == 0; }

private:
    static constexpr std::uint32_t kMask = 4095;
    std::uint32_t steps_ = 0;
};

} // namespace velarto::py
