// quillmorph._core: the compiled half of the Python package, kept thin.
// The pure-Python front (quillmorph/__init__.py) checks the arguments,
// splits the channels and turns status codes into exceptions; this module
// hands two 2-D views to the library through the buffer protocol, with the
// GIL released for the whole computation.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <climits>
#include <cstring>
#include <memory>

#include "progress_bridge.h"
#include "quillmorph.h"
#include "strided_upscale.h"

namespace quillmorph_python {

namespace {

// A 2-D uint8 buffer held for the length of a call and released however
// the call ends; numpy keeps the array's memory in place while it is held.
class HeldBuffer {
   public:
    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    // False, with a Python exception set, where object has no such buffer.
    bool hold(PyObject* object, int flags, const char* name) {
        if (PyObject_GetBuffer(object, &view_, flags) != 0) return false;
        held_ = true;
        const bool bytes =
            view_.itemsize == 1 && (!view_.format || std::strcmp(view_.format, "B") == 0);
        if (view_.ndim == 2 && bytes) return true;
        PyErr_Format(PyExc_ValueError, "%s must be a 2-D buffer of uint8", name);
        return false;
    }

    Py_ssize_t rows() const { return view_.shape[0]; }
    Py_ssize_t columns() const { return view_.shape[1]; }

    // Only for sides that fit an int.
    StridedImage image() const {
        return StridedImage{static_cast<unsigned char*>(view_.buf), static_cast<int>(columns()),
                            static_cast<int>(rows()), view_.strides[0], view_.strides[1]};
    }

   private:
    Py_buffer view_{};
    bool held_ = false;
};

using OptionsPointer = std::unique_ptr<qm_options, void (*)(qm_options*)>;

// Runs call(options) with the GIL released; the status, or NULL with the
// exception that a signal handler or the progress callable raised.
template <typename Call>
PyObject* run_released(int threads, PyObject* progress, bool check_signals, const Call& call) {
    OptionsPointer options(qm_options_new(), qm_options_free);
    if (!options) return PyLong_FromLong(QM_ERROR_NO_MEMORY);
    const int threads_status = qm_options_set_threads(options.get(), threads);
    if (threads_status != QM_OK) return PyLong_FromLong(threads_status);
    ProgressBridge bridge = {progress, check_signals, Clock::now(), nullptr, false};
    if (bridge_needed(bridge)) qm_options_set_progress(options.get(), report_progress, &bridge);

    release_gil(&bridge);
    const int status = call(options.get());
    reacquire_gil(&bridge);
    if (bridge.raised) return nullptr;
    return PyLong_FromLong(status);
}

bool valid_progress(PyObject* progress) {
    if (progress == Py_None || PyCallable_Check(progress)) return true;
    PyErr_SetString(PyExc_TypeError, "progress must be callable or None");
    return false;
}

PyObject* upscale_2d(PyObject* /*module*/, PyObject* args) {
    PyObject* source = nullptr;
    PyObject* target = nullptr;
    PyObject* progress = nullptr;
    int threads = 0;
    int check_signals = 0;
    if (!PyArg_ParseTuple(args, "OOiOp:upscale_2d", &source, &target, &threads, &progress,
                          &check_signals))
        return nullptr;
    if (!valid_progress(progress)) return nullptr;
    HeldBuffer lr, hr;
    if (!lr.hold(source, PyBUF_RECORDS_RO, "image") || !hr.hold(target, PyBUF_RECORDS, "out"))
        return nullptr;
    if (hr.rows() != 2 * lr.rows() || hr.columns() != 2 * lr.columns()) {
        PyErr_SetString(PyExc_ValueError, "out must have twice the rows and columns of image");
        return nullptr;
    }
    // Sides past an int are past what the library addresses, and it says so.
    if (lr.rows() > INT_MAX / 2 || lr.columns() > INT_MAX / 2)
        return PyLong_FromLong(QM_ERROR_TOO_LARGE);
    const StridedImage from = lr.image(), to = hr.image();
    return run_released(threads, progress, check_signals != 0, [&](const qm_options* options) {
        return upscale_strided(from, to, options);
    });
}

PyObject* upscale_region_2d(PyObject* /*module*/, PyObject* args) {
    PyObject* source = nullptr;
    PyObject* target = nullptr;
    PyObject* progress = nullptr;
    int window_y = 0, window_x = 0, image_height = 0, image_width = 0, region_y = 0, region_x = 0,
        threads = 0, check_signals = 0;
    if (!PyArg_ParseTuple(args, "OOiiiiiiiOp:upscale_region_2d", &source, &target, &window_y,
                          &window_x, &image_height, &image_width, &region_y, &region_x, &threads,
                          &progress, &check_signals) ||
        !valid_progress(progress))
        return nullptr;
    HeldBuffer window, hr;
    if (!window.hold(source, PyBUF_RECORDS_RO, "window") || !hr.hold(target, PyBUF_RECORDS, "out"))
        return nullptr;
    if (window.rows() > INT_MAX || window.columns() > INT_MAX || hr.rows() > INT_MAX ||
        hr.columns() > INT_MAX)
        return PyLong_FromLong(QM_ERROR_TOO_LARGE);
    const StridedImage lr = window.image(), region = hr.image();
    if (lr.column_step != 1 || region.column_step != 1) {
        PyErr_SetString(PyExc_ValueError,
                        "window and out must hold each row's pixels side by side");
        return nullptr;
    }
    return run_released(threads, progress, check_signals != 0, [&](const qm_options* options) {
        return qm_upscale_region(lr.origin, lr.width, lr.height, lr.row_step, window_x, window_y,
                                 image_width, image_height, region_x, region_y, region.width,
                                 region.height, region.origin, region.row_step, options);
    });
}

PyObject* status_string(PyObject* /*module*/, PyObject* status) {
    const long code = PyLong_AsLong(status);
    if (code == -1 && PyErr_Occurred()) return nullptr;
    const int known = code < INT_MIN || code > INT_MAX ? INT_MIN : static_cast<int>(code);
    return PyUnicode_FromString(qm_status_string(known));
}

PyDoc_STRVAR(upscale_2d_doc,
             "upscale_2d(image, out, threads, progress, check_signals) -> int\n\n"
             "Upscales the 2-D uint8 buffer image into out (twice its rows and columns) with\n"
             "the GIL released, and returns the library's status code.  progress is None or\n"
             "progress(rows_done, rows_total), a true result stopping the call;\n"
             "check_signals polls for signals as the call goes.  An exception raised by\n"
             "progress or by a signal handler stops the call and propagates.");
PyDoc_STRVAR(upscale_region_2d_doc,
             "upscale_region_2d(window, out, window_y, window_x, image_height, image_width,\n"
             "                  region_y, region_x, threads, progress, check_signals) -> int\n\n"
             "Writes the region of the upscaled image at (region_y, region_x), out's shape,\n"
             "from window, the part of the LR image at (window_y, window_x), with the GIL\n"
             "released; returns the library's status code.  Both buffers hold each row's\n"
             "pixels side by side.  progress and check_signals as for upscale_2d.");
PyDoc_STRVAR(status_string_doc,
             "status_string(status) -> str\n\nThe library's sentence for a status code.");
PyDoc_STRVAR(module_doc,
             "The compiled half of quillmorph: the library's calls on 2-D buffers.  Use the\n"
             "quillmorph package instead.");

PyMethodDef core_methods[] = {
    {"upscale_2d", upscale_2d, METH_VARARGS, upscale_2d_doc},
    {"upscale_region_2d", upscale_region_2d, METH_VARARGS, upscale_region_2d_doc},
    {"status_string", status_string, METH_O, status_string_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef core_module = {
    PyModuleDef_HEAD_INIT,
    "quillmorph._core",
    module_doc,
    0,
    core_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The status codes the front maps to exceptions, by their C names less QM_.
struct NamedStatus {
    const char* name;
    int code;
};
constexpr NamedStatus statuses[] = {
    {"OK", QM_OK},
    {"ERROR_ARGUMENT", QM_ERROR_ARGUMENT},
    {"ERROR_SIZE", QM_ERROR_SIZE},
    {"ERROR_TOO_LARGE", QM_ERROR_TOO_LARGE},
    {"ERROR_NO_MEMORY", QM_ERROR_NO_MEMORY},
    {"ERROR_READ", QM_ERROR_READ},
    {"ERROR_WRITE", QM_ERROR_WRITE},
    {"ERROR_CANCELLED", QM_ERROR_CANCELLED},
};

bool add_constants(PyObject* module) {
    for (const NamedStatus& status : statuses)
        if (PyModule_AddIntConstant(module, status.name, status.code) != 0) return false;
    return PyModule_AddIntConstant(module, "HALO", QM_HALO) == 0 &&
           PyModule_AddStringConstant(module, "version", qm_version_string()) == 0;
}

}  // namespace

}  // namespace quillmorph_python

// Python finds the module by this name: PyInit_ and the module's, _core.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
PyMODINIT_FUNC PyInit__core(void) {
    PyObject* module = PyModule_Create(&quillmorph_python::core_module);
    if (module && !quillmorph_python::add_constants(module)) Py_CLEAR(module);
    return module;
}
