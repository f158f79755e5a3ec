#include "pyext/interpreter.hpp"

namespace pyext {

PyObject* interpreter_builtins() {
    // PyEval_GetBuiltins answers the running frame's builtins, and the
    // interpreter's own only while no frame runs.  Our compiled code has no
    // frame of its own, so the caller's would answer; hide it for the one
    // read, during which nothing else runs.
    PyThreadState* thread = PyThreadState_Get();
    PyFrameObject* caller = thread->frame;
    thread->frame = nullptr;
    PyObject* builtins = PyEval_GetBuiltins();
    thread->frame = caller;
    return builtins;
}

}  // namespace pyext
