// What our code needs of the interpreter that its public API answers only
// through the running frame.
#pragma once

#include <Python.h>

namespace pyext {

// Borrowed: the namespace of the interpreter's `builtins` module, whatever
// builtins the calling frame runs with.
PyObject* interpreter_builtins();

}  // namespace pyext
