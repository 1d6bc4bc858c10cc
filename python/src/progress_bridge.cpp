#include "progress_bridge.h"

#include <thread>

namespace quillmorph_python {

namespace {

// 1 to stop, 0 to go on; sets bridge->raised (with the exception pending)
// when Python code failed.  Called with the GIL held.
int ask_python(ProgressBridge* bridge, int rows_done, int rows_total) {
    // A handler that raised (KeyboardInterrupt, by default) stops the call
    // and its exception is the call's result.
    if (bridge->check_signals && PyErr_CheckSignals() != 0) {
        bridge->raised = true;
        return 1;
    }
    if (bridge->callback == Py_None) return 0;
    PyObject* answer = PyObject_CallFunction(bridge->callback, "ii", rows_done, rows_total);
    if (!answer) {
        bridge->raised = true;
        return 1;
    }
    const int stop = PyObject_IsTrue(answer);
    Py_DECREF(answer);
    if (stop < 0) {
        bridge->raised = true;
        return 1;
    }
    return stop;
}

}  // namespace

void wait_for_exit() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int report_progress(void* user, int rows_done, int rows_total) {
    auto* bridge = static_cast<ProgressBridge*>(user);
    // Once an exception is pending no Python code may run before the call
    // returns it: the library is asked to stop again without the GIL.  A
    // call that outlived the interpreter stops too, and its thread waits
    // for the exit when it returns.
    if (bridge->raised || gil_out_of_reach(*bridge)) return 1;
    if (bridge->callback == Py_None) {
        const Clock::time_point now = Clock::now();
        if (now < bridge->next_signal_poll) return 0;
        bridge->next_signal_poll = now + signal_poll_interval;
    }
    reacquire_gil(bridge);
    const int stop = ask_python(bridge, rows_done, rows_total);
    release_gil(bridge);
    return stop;
}

}  // namespace quillmorph_python
