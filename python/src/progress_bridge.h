// The library's progress hook, seen from Python.  The computation runs with
// the GIL released; the hook takes it back on the calling thread to poll
// for signals (so that Ctrl-C stops a long call) and to call the user's
// progress callable, then releases it again.  Once the interpreter is
// shutting down, a thread still inside a call never takes the GIL back.
#ifndef QUILLMORPH_PYTHON_PROGRESS_BRIDGE_H
#define QUILLMORPH_PYTHON_PROGRESS_BRIDGE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <chrono>

namespace quillmorph_python {

using Clock = std::chrono::steady_clock;

// Taking the GIL back can wait for another Python thread's switch interval
// (5 ms by default), so without a callback the hook polls for signals at
// most this often: still prompt for Ctrl-C, and never a cost to the call.
constexpr Clock::duration signal_poll_interval = std::chrono::milliseconds(50);

struct ProgressBridge {
    // progress(rows_done, rows_total), or None.  Borrowed for the call.
    PyObject* callback;
    // Only the main thread runs signal handlers, so only there is polling
    // worth taking the GIL for.
    bool check_signals;
    // Without a callback, the hook takes the GIL again from this time on.
    Clock::time_point next_signal_poll;
    // The calling thread's state while the GIL is released.
    PyThreadState* released;
    // A Python exception is pending (a signal handler's or the callback's):
    // the call is being stopped and must end with it.
    bool raised;
    // The interpreter was already shutting down when the GIL was released:
    // this thread is the one shutting it down (no other runs Python code
    // then), and only it may take the GIL back.
    bool released_in_shutdown;
};

// Whether the hook has anything to do; without a callback off the main
// thread the call runs with no hook at all.
inline bool bridge_needed(const ProgressBridge& bridge) {
    return bridge.check_signals || bridge.callback != Py_None;
}

inline bool interpreter_shutting_down() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// Whether taking the GIL back would end this thread on the spot: once the
// interpreter shuts down, any other thread that asks for the GIL is exited
// with pthread_exit, and that unwinds the library's C++ frames (its worker
// threads among them), which ends the whole process with std::terminate.
inline bool gil_out_of_reach(const ProgressBridge& bridge) {
    return !bridge.released_in_shutdown && interpreter_shutting_down();
}

// Blocks this thread until the process exits.  For a call that outlived the
// interpreter: no Python code may run on it any more, and the process is
// about to end.
[[noreturn]] void wait_for_exit();

// Releases the GIL for the computation, and takes it back after.
inline void release_gil(ProgressBridge* bridge) {
    bridge->released_in_shutdown = interpreter_shutting_down();
    bridge->released = PyEval_SaveThread();
}
inline void reacquire_gil(ProgressBridge* bridge) {
    if (gil_out_of_reach(*bridge)) wait_for_exit();
    PyEval_RestoreThread(bridge->released);
}

// A qm_progress_fn over a ProgressBridge (user): called with the GIL
// released, returns non-zero to stop the call.
int report_progress(void* user, int rows_done, int rows_total);

}  // namespace quillmorph_python

#endif
