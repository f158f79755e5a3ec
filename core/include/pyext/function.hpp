// The function type of compiled methods.
//
// A `FunctionDef` describes one function: its parameters and the C++ body
// that runs once the arguments are bound.  `function_new` makes a function
// object from it that behaves like a Python function where host code can
// tell: it binds to an instance as a method, binds arguments with the
// interpreter's rules and messages, and reports `__name__`, `__qualname__`,
// `__module__`, `__doc__`, `__defaults__`, `__kwdefaults__`,
// `__annotations__`, `__closure__` and a `__code__` that carries its
// parameters, so `inspect.signature` reads it like a Python function.
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace pyext {

// The body of a function.  `args` holds the bound arguments in parameter
// order, borrowed for the duration of the call; for a function with
// `**kwargs` the last one is the keyword dict.  Returns a new reference, or
// null with an error set.
using FunctionBody = PyObject* (*)(PyObject* function, PyObject* const* args);

constexpr int max_parameters = 8;

struct FunctionDef {
    const char* name;
    // Parameter names in order; with `varkeywords` the last collects the
    // keyword arguments that match no other parameter.
    const char* params[max_parameters];
    int nparams;
    bool varkeywords;
    // Names of the closure's cells, in closure order.
    const char* freevars[2];
    int nfreevars;
    FunctionBody body;
    int first_line;  // first line of `__code__`
    int body_line;   // line of the traceback entry of a failure in the body
};

// What a function object gets besides its definition.  All borrowed; null
// `defaults`, `closure` and `doc` mean none.
struct FunctionParts {
    PyObject* qualname;
    PyObject* module_name;
    PyObject* globals;
    PyObject* doc;
    PyObject* defaults;     // tuple
    PyObject* annotations;  // dict, kept as given (each function owns its own)
    PyObject* closure;      // tuple of cells
    const char* filename;   // shown by traceback entries
};

// Readies the function type; call once from each module's entry.
int function_type_ready();

// New reference.
PyObject* function_new(const FunctionDef& def, const FunctionParts& parts);

// Borrowed: the module globals of a function made by `function_new`.
PyObject* function_globals(PyObject* function);
// Borrowed: closure cell `index` of a function made by `function_new`.
PyObject* function_cell(PyObject* function, int index);

// True when `object` is a function of this type running `body`.
bool is_function_with_body(PyObject* object, FunctionBody body);

}  // namespace pyext
