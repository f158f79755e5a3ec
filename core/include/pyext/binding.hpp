// Argument binding for compiled functions, with the interpreter's own rules
// and messages for a function whose parameters are positional-or-keyword,
// optionally followed by `**kwargs`.
#pragma once

#include <Python.h>

#include "pyext/function.hpp"

namespace pyext {

struct BoundArguments {
    // Borrowed from the caller's arguments or the defaults, except the
    // keyword dict of `**kwargs`, which `keywords` owns.
    PyObject* values[max_parameters] = {};
    Ref keywords;
};

// Binds `args` (`nargs` positional, then one value per name of `kwnames`).
// Returns 0, or -1 with the interpreter's TypeError set.
int bind_arguments(const FunctionDef& def, PyObject* varnames, PyObject* defaults, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames, BoundArguments& bound);

}  // namespace pyext
