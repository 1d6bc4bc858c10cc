// The library's progress hook, seen from Python.  The computation runs with
// the GIL released; the hook takes it back on the calling thread to poll
// for signals (so that Ctrl-C stops a long call) and to call the user's
// progress callable, then releases it again.
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
};

// Whether the hook has anything to do; without a callback off the main
// thread the call runs with no hook at all.
inline bool bridge_needed(const ProgressBridge& bridge) {
    return bridge.check_signals || bridge.callback != Py_None;
}

// Releases the GIL for the computation, and takes it back after.
inline void release_gil(ProgressBridge* bridge) { bridge->released = PyEval_SaveThread(); }
inline void reacquire_gil(ProgressBridge* bridge) { PyEval_RestoreThread(bridge->released); }

// A qm_progress_fn over a ProgressBridge (user): called with the GIL
// released, returns non-zero to stop the call.
int report_progress(void* user, int rows_done, int rows_total);

}  // namespace quillmorph_python

#endif
