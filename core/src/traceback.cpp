#include "pyext/traceback.hpp"

#include <frameobject.h>

#include <cstring>

#include "pyext/private_api.hpp"

namespace pyext {

Ref entry_code_new(const char* filename, const char* name, int line) {
    return Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, name, line)));
}

void add_traceback_entry(PyObject* code, PyObject* globals, PyObject* locals) {
    // The frame constructor looks into `globals` and must not see the pending
    // error, so the error is held aside while the frame is made.
    PendingError pending;
    auto* code_object = reinterpret_cast<PyCodeObject*>(code);
    Ref frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(PyThreadState_Get(), code_object, globals, locals)));
    if (!frame) PyErr_Clear();
    pending.restore();
    if (!frame) return;
    auto* frame_object = reinterpret_cast<PyFrameObject*>(frame.get());
    report_first_line(frame_object);
    // On failure the interpreter keeps the original error pending, chained
    // to its own; either way an error passes on, so the result is not needed.
    (void)PyTraceBack_Here(frame_object);
}

void add_traceback_entry(const char* filename, const char* name, int line, PyObject* globals,
                         PyObject* locals) {
    Ref code;
    {
        PendingError pending;
        code = entry_code_new(filename, name, line);
        if (!code) PyErr_Clear();
        pending.restore();
    }
    if (code) add_traceback_entry(code.get(), globals, locals);
}

bool traceback_begins_with(const char* name) {
    PendingError pending;
    bool begins = false;
    PyObject* traceback = pending.traceback();
    if (traceback != nullptr && PyTraceBack_Check(traceback)) {
        const char* code_name = PyUnicode_AsUTF8(traceback_code_name(traceback));
        if (code_name == nullptr) PyErr_Clear();
        begins = code_name != nullptr && std::strcmp(code_name, name) == 0;
    }
    pending.restore();
    return begins;
}

}  // namespace pyext
