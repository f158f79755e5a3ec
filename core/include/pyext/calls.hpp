// Calls our code makes into Python objects, and the truth of what comes back.
#pragma once

#include <Python.h>

#include <initializer_list>

#include "pyext/ref.hpp"

namespace pyext {

// self.<name>(*args), looked up on the object each time, so that a subclass
// or an instance attribute that overrides the method is honoured.
Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args);

struct Keyword {
    PyObject* name;   // an interned str
    PyObject* value;
};

// callable(**{name: value, ...}), the keywords in the order given.
Ref call_keywords(PyObject* callable, std::initializer_list<Keyword> keywords);

// self.<name>(**{name: value, ...}), looked up as `call_method` does.
Ref call_method_keywords(PyObject* self, PyObject* name, std::initializer_list<Keyword> keywords);

// The truth of `value`, with the bools answered without a call.
inline int truth(PyObject* value) {
    if (value == Py_True) return 1;
    if (value == Py_False) return 0;
    return PyObject_IsTrue(value);
}

// Equality of two exact strs as the str type decides it, answered early by
// identity and by cached hashes that differ.
bool texts_equal(PyObject* a, PyObject* b);

// The truth of `left == right` (or `!=`, by `op`): the left operand's
// comparison answers first, as in Python.
int compare_truth(PyObject* left, PyObject* right, int op);

}  // namespace pyext
