// Calls our code makes into Python objects, and the truth of what comes back.
// The argument arrays are sized by the compiler from each call site.
#pragma once

#include <Python.h>

#include <cstddef>
#include <iterator>

#include "pyext/ref.hpp"

namespace pyext {

// callable(*args)
template <typename... Args>
Ref call_function(PyObject* callable, Args... args) {
    if constexpr (sizeof...(args) == 0) {
        return Ref::steal(PyObject_CallNoArgs(callable));
    } else {
        PyObject* stack[] = {args...};
        return Ref::steal(PyObject_Vectorcall(callable, stack, std::size(stack), nullptr));
    }
}

// self.<name>(*args), looked up on the object each time, so that a subclass
// or an instance attribute that overrides the method is honoured.
template <typename... Args>
Ref call_method(PyObject* self, PyObject* name, Args... args) {
    PyObject* stack[] = {self, args...};
    return Ref::steal(PyObject_VectorcallMethod(name, stack, std::size(stack), nullptr));
}

struct Keyword {
    PyObject* name;   // an interned str
    PyObject* value;
};

// The names of `keywords` as a new tuple, their values put into `values`.
Ref keyword_names(const Keyword* keywords, size_t count, PyObject** values);

// callable(**{name: value, ...}), the keywords in the order given.
template <size_t N>
Ref call_keywords(PyObject* callable, const Keyword (&keywords)[N]) {
    PyObject* stack[N];
    Ref kwnames = keyword_names(keywords, N, stack);
    return kwnames ? Ref::steal(PyObject_Vectorcall(callable, stack, 0, kwnames.get())) : Ref();
}

// self.<name>(**{name: value, ...}), looked up as `call_method` does.
template <size_t N>
Ref call_method_keywords(PyObject* self, PyObject* name, const Keyword (&keywords)[N]) {
    PyObject* stack[1 + N] = {self};
    Ref kwnames = keyword_names(keywords, N, stack + 1);
    return kwnames ? Ref::steal(PyObject_VectorcallMethod(name, stack, 1, kwnames.get())) : Ref();
}

// The truth of `value`, with the bools answered without a call.
inline int truth(PyObject* value) {
    if (value == Py_True) return 1;
    if (value == Py_False) return 0;
    return PyObject_IsTrue(value);
}

// Whether `a` and `b` are exact strs that `texts_equal` may compare.  A str
// made through the legacy C API is not ready until the str type readies it
// (on its first comparison or hash), and reads as empty before then.
inline bool ready_texts(PyObject* a, PyObject* b) {
    return PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b) && PyUnicode_IS_READY(a) && PyUnicode_IS_READY(b);
}

// Equality of two ready exact strs as the str type decides it, answered
// early by identity and by cached hashes that differ.
bool texts_equal(PyObject* a, PyObject* b);

// The truth of `left == right` (or `!=`, by `op`): the left operand's
// comparison answers first, as in Python.
int compare_truth(PyObject* left, PyObject* right, int op);

}  // namespace pyext
