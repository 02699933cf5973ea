// Ctrl-C during a call that runs with the interpreter lock released. While such a call made from
// the main thread runs, a SIGINT handler of our own sets the call's cancel flag and then passes
// the signal on to the handler it replaced (the interpreter's, which records it). The core stops
// at its next poll; with the lock re-acquired, the interpreter runs its signal handlers, which
// raise KeyboardInterrupt.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "quorvel/cancel.hpp"

namespace quorvel::py {

// Notes the interpreter's main thread; called when the module is executed.
bool note_main_thread();

// Watches for SIGINT from construction to destruction, both with the interpreter lock held, when
// constructed on the main thread of the main interpreter while the interpreter handles SIGINT;
// otherwise watches nothing (flag() is nullptr: Python delivers signals to the main thread only).
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The flag that the handler sets, or nullptr.
    const CancelFlag* flag() const { return flag_; }

  private:
    const CancelFlag* flag_ = nullptr;
};

// Thrown once a Python exception is pending (the guard of every entry point returns it as is).
struct PythonErrorPending {};

} // namespace quorvel::py
