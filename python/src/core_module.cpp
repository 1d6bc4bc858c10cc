// quillmorph._core: the compiled half of the Python package, kept thin.
// The pure-Python front (quillmorph/__init__.py) checks the arguments,
// loops over the planes of a stack and turns status codes into exceptions;
// this module hands two 2-D views of 8- or 16-bit samples to the library
// through the buffer protocol, with the GIL released for the whole
// computation.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "progress_bridge.h"
#include "quillmorph.h"
#include "strided_upscale.h"

namespace quillmorph_python {

namespace {

bool machine_is_little_endian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// The samples of a buffer format: unsigned 8-bit ("B") or 16-bit ("H"),
// after an optional byte-order character.
struct SampleFormat {
    int bytes;     // 1 or 2; 0 for any other format
    bool swapped;  // 16-bit samples in the other byte order than the machine's
};

SampleFormat sample_format(const Py_buffer& view) {
    const char* format = view.format ? view.format : "B";
    char order = '@';
    if (*format && std::strchr("@=<>!", *format)) order = *format++;
    if (std::strcmp(format, "B") == 0 && view.itemsize == 1) return {1, false};
    if (std::strcmp(format, "H") != 0 || view.itemsize != 2) return {0, false};
    const bool big = order == '>' || order == '!';
    const bool little = order == '<';
    return {2, machine_is_little_endian() ? big : little};
}

// A 2-D buffer of 8- or 16-bit samples held for the length of a call and
// released however the call ends; numpy keeps the array's memory in place
// while it is held.
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
        format_ = sample_format(view_);
        if (view_.ndim == 2 && format_.bytes != 0) return true;
        PyErr_Format(PyExc_ValueError, "%s must be a 2-D buffer of uint8 or uint16", name);
        return false;
    }

    Py_ssize_t rows() const { return view_.shape[0]; }
    Py_ssize_t columns() const { return view_.shape[1]; }

    int sample_bytes() const { return format_.bytes; }
    bool swapped() const { return format_.swapped; }

    // Only for sides that fit an int.
    StridedImage image() const {
        return StridedImage{static_cast<unsigned char*>(view_.buf),
                            static_cast<int>(columns()),
                            static_cast<int>(rows()),
                            view_.strides[0],
                            view_.strides[1],
                            format_.bytes,
                            format_.swapped};
    }

   private:
    Py_buffer view_{};
    bool held_ = false;
    SampleFormat format_{};
};

// Holds the input and output buffers of a call: samples of one width, and
// an output in the machine's byte order (the front makes it so).
bool hold_pair(HeldBuffer& lr, PyObject* source, const char* source_name, HeldBuffer& hr,
               PyObject* target) {
    if (!lr.hold(source, PyBUF_RECORDS_RO, source_name) || !hr.hold(target, PyBUF_RECORDS, "out"))
        return false;
    if (lr.sample_bytes() == hr.sample_bytes() && !hr.swapped()) return true;
    PyErr_Format(PyExc_ValueError, "out must have the dtype of %s, in the machine's byte order",
                 source_name);
    return false;
}

using OptionsPointer = std::unique_ptr<qm_options, void (*)(qm_options*)>;

// Runs call(options) with the GIL released; the status, or NULL with the
// exception that a signal handler or the progress callable raised.
template <typename Call>
PyObject* run_released(int threads, int maxval, PyObject* progress, bool check_signals,
                       const Call& call) {
    OptionsPointer options(qm_options_new(), qm_options_free);
    if (!options) return PyLong_FromLong(QM_ERROR_NO_MEMORY);
    int status = qm_options_set_threads(options.get(), threads);
    if (status == QM_OK) status = qm_options_set_maxval(options.get(), maxval);
    if (status != QM_OK) return PyLong_FromLong(status);
    ProgressBridge bridge = {progress, check_signals, Clock::now(), nullptr, false, false};
    if (bridge_needed(bridge)) qm_options_set_progress(options.get(), report_progress, &bridge);

    release_gil(&bridge);
    status = call(options.get());
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
    int threads = 0, maxval = 0, check_signals = 0;
    if (!PyArg_ParseTuple(args, "OOiiOp:upscale_2d", &source, &target, &threads, &maxval, &progress,
                          &check_signals))
        return nullptr;
    if (!valid_progress(progress)) return nullptr;
    HeldBuffer lr, hr;
    if (!hold_pair(lr, source, "image", hr, target)) return nullptr;
    if (hr.rows() != 2 * lr.rows() || hr.columns() != 2 * lr.columns()) {
        PyErr_SetString(PyExc_ValueError, "out must have twice the rows and columns of image");
        return nullptr;
    }
    // Sides past an int are past what the library addresses, and it says so.
    if (lr.rows() > INT_MAX / 2 || lr.columns() > INT_MAX / 2)
        return PyLong_FromLong(QM_ERROR_TOO_LARGE);
    const StridedImage from = lr.image(), to = hr.image();
    return run_released(
        threads, maxval, progress, check_signals != 0,
        [&](const qm_options* options) { return upscale_strided(from, to, maxval, options); });
}

PyObject* upscale_region_2d(PyObject* /*module*/, PyObject* args) {
    PyObject* source = nullptr;
    PyObject* target = nullptr;
    PyObject* progress = nullptr;
    int window_y = 0, window_x = 0, image_height = 0, image_width = 0, region_y = 0, region_x = 0,
        threads = 0, maxval = 0, check_signals = 0;
    if (!PyArg_ParseTuple(args, "OOiiiiiiiiOp:upscale_region_2d", &source, &target, &window_y,
                          &window_x, &image_height, &image_width, &region_y, &region_x, &threads,
                          &maxval, &progress, &check_signals) ||
        !valid_progress(progress))
        return nullptr;
    HeldBuffer window, hr;
    if (!hold_pair(window, source, "window", hr, target)) return nullptr;
    if (window.rows() > INT_MAX || window.columns() > INT_MAX || hr.rows() > INT_MAX ||
        hr.columns() > INT_MAX)
        return PyLong_FromLong(QM_ERROR_TOO_LARGE);
    const StridedImage lr = window.image(), region = hr.image();
    if (!has_plain_rows(lr) || !has_plain_rows(region)) {
        PyErr_SetString(PyExc_ValueError,
                        "window and out must hold each row's samples side by side, aligned and "
                        "in the machine's byte order");
        return nullptr;
    }
    return run_released(
        threads, maxval, progress, check_signals != 0, [&](const qm_options* options) {
            if (lr.sample_bytes == 1)
                return qm_upscale_region(lr.origin, lr.width, lr.height, lr.row_step, window_x,
                                         window_y, image_width, image_height, region_x, region_y,
                                         region.width, region.height, region.origin,
                                         region.row_step, options);
            return qm_upscale16_region(
                reinterpret_cast<const std::uint16_t*>(lr.origin), lr.width, lr.height, lr.row_step,
                window_x, window_y, image_width, image_height, region_x, region_y, region.width,
                region.height, reinterpret_cast<std::uint16_t*>(region.origin), region.row_step,
                options);
        });
}

PyObject* region_window(PyObject* /*module*/, PyObject* args) {
    int image_height = 0, image_width = 0, region_y = 0, region_x = 0, region_height = 0,
        region_width = 0;
    if (!PyArg_ParseTuple(args, "iiiiii:region_window", &image_height, &image_width, &region_y,
                          &region_x, &region_height, &region_width))
        return nullptr;
    int y = 0, x = 0, height = 0, width = 0;
    const int status = qm_region_window(image_width, image_height, region_x, region_y, region_width,
                                        region_height, &x, &y, &width, &height);
    return Py_BuildValue("(iiiii)", status, y, x, height, width);
}

PyObject* status_string(PyObject* /*module*/, PyObject* status) {
    const long code = PyLong_AsLong(status);
    if (code == -1 && PyErr_Occurred()) return nullptr;
    const int known = code < INT_MIN || code > INT_MAX ? INT_MIN : static_cast<int>(code);
    return PyUnicode_FromString(qm_status_string(known));
}

PyObject* vector_target(PyObject* /*module*/, PyObject* /*no_arguments*/) {
    const char* name = qm_vector_target();
    if (!name) Py_RETURN_NONE;
    return PyUnicode_FromString(name);
}

PyDoc_STRVAR(upscale_2d_doc,
             "upscale_2d(image, out, threads, maxval, progress, check_signals) -> int\n\n"
             "Upscales the 2-D uint8 or uint16 buffer image (either byte order) into out\n"
             "(twice its rows and columns, the same samples in the machine's byte order) with\n"
             "the GIL released, and returns the library's status code.  progress is None or\n"
             "progress(rows_done, rows_total), a true result stopping the call;\n"
             "check_signals polls for signals as the call goes.  An exception raised by\n"
             "progress or by a signal handler stops the call and propagates.");
PyDoc_STRVAR(upscale_region_2d_doc,
             "upscale_region_2d(window, out, window_y, window_x, image_height, image_width,\n"
             "                  region_y, region_x, threads, maxval, progress,\n"
             "                  check_signals) -> int\n\n"
             "Writes the region of the upscaled image at (region_y, region_x), out's shape,\n"
             "from window, the part of the LR image at (window_y, window_x), with the GIL\n"
             "released; returns the library's status code.  Both buffers hold each row's\n"
             "samples side by side, aligned and in the machine's byte order.  progress and\n"
             "check_signals as for upscale_2d.");
PyDoc_STRVAR(region_window_doc,
             "region_window(image_height, image_width, region_y, region_x, region_height,\n"
             "              region_width) -> (status, y, x, height, width)\n\n"
             "The LR window the region of the output depends on (its rectangle widened by\n"
             "HALO LR pixels, clipped to the image), with the library's status code.");
PyDoc_STRVAR(status_string_doc,
             "status_string(status) -> str\n\nThe library's sentence for a status code.");
PyDoc_STRVAR(
    vector_target_doc,
    "vector_target() -> Optional[str]\n\nThe copy of the vector code the library runs, or None\n"
    "when QUILLMORPH_CPU names one that is unknown or that this processor cannot run.");
PyDoc_STRVAR(module_doc,
             "The compiled half of quillmorph: the library's calls on 2-D buffers.  Use the\n"
             "quillmorph package instead.");

PyMethodDef core_methods[] = {
    {"upscale_2d", upscale_2d, METH_VARARGS, upscale_2d_doc},
    {"upscale_region_2d", upscale_region_2d, METH_VARARGS, upscale_region_2d_doc},
    {"region_window", region_window, METH_VARARGS, region_window_doc},
    {"status_string", status_string, METH_O, status_string_doc},
    {"vector_target", vector_target, METH_NOARGS, vector_target_doc},
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
    {"ERROR_SAMPLE", QM_ERROR_SAMPLE},
    {"ERROR_VECTOR_TARGET", QM_ERROR_VECTOR_TARGET},
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
