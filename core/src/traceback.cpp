#include "pyext/traceback.hpp"

#include <frameobject.h>

#include <cstring>

namespace pyext {

Ref entry_code_new(const char* filename, const char* name, int line) {
    return Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, name, line)));
}

void add_traceback_entry(PyObject* code, PyObject* globals, PyObject* locals) {
    // The frame constructor looks into `globals` and must not see the pending
    // error, so the error is held aside while the frame is made.
    PendingError pending;
    auto* code_object = reinterpret_cast<PyCodeObject*>(code);
    PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), code_object, globals, locals);
    if (frame == nullptr) {
        PyErr_Clear();
        pending.restore();
        return;
    }
    frame->f_lineno = code_object->co_firstlineno;
    pending.restore();
    // On failure the interpreter keeps the original error pending, chained
    // to its own; either way an error passes on, so the result is not needed.
    (void)PyTraceBack_Here(frame);
    Py_DECREF(frame);
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
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    bool begins = false;
    if (traceback != nullptr && PyTraceBack_Check(traceback)) {
        PyFrameObject* frame = reinterpret_cast<PyTracebackObject*>(traceback)->tb_frame;
        const char* code_name = PyUnicode_AsUTF8(frame->f_code->co_name);
        if (code_name == nullptr) PyErr_Clear();
        begins = code_name != nullptr && std::strcmp(code_name, name) == 0;
    }
    PyErr_Restore(type, value, traceback);
    return begins;
}

}  // namespace pyext
