// Calls our code makes into Python objects, and the truth of what comes back.
// The argument arrays are sized by the compiler from each call site.
#pragma once

#include <Python.h>

#include <cstddef>
#include <iterator>

#include "pyext/private_api.hpp"
#include "pyext/ref.hpp"

namespace pyext {

// callable(*args), with at least one argument.
template <typename... Args>
Ref call_function(PyObject* callable, Args... args) {
    PyObject* stack[] = {args...};
    return Ref::steal(PyObject_Vectorcall(callable, stack, std::size(stack), nullptr));
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

// hash(object), read straight from an exact str that has computed it.
inline Py_hash_t hash_of(PyObject* object) {
    if (PyUnicode_CheckExact(object)) {
        Py_hash_t cached = cached_text_hash(object);
        if (cached != -1) return cached;
    }
    return PyObject_Hash(object);
}

// What an equality answered without a call says when it cannot tell.
constexpr int not_decided = -2;

// Equality of two exact strs as the str type decides it, without a call: 1
// or 0, answered early by identity and by cached hashes that differ, or
// not_decided for a str made through the legacy C API and not yet readied,
// which reads as empty until the str type readies it.
inline int texts_equal(PyObject* a, PyObject* b) {
    if (a == b) return 1;
    // A str is readied before its hash is computed, so two cached hashes
    // also say that both are ready.
    Py_hash_t hash_a = cached_text_hash(a);
    Py_hash_t hash_b = cached_text_hash(b);
    if (hash_a != -1 && hash_b != -1) return hash_a == hash_b && text_equal(a, b);
    if (!PyUnicode_IS_READY(a) || !PyUnicode_IS_READY(b)) return not_decided;
    return text_equal(a, b);
}

// The truth of `left <op> right` by rich comparison: 1 or 0, -1 on error.
int compare_by_protocol(PyObject* left, PyObject* right, int op);

// The truth of `left == right` (or `!=`, by `op`): the left operand's
// comparison answers first, as in Python.  Two exact strs compare as the str
// type decides, without a call.
inline int compare_truth(PyObject* left, PyObject* right, int op) {
    if ((op == Py_EQ || op == Py_NE) && PyUnicode_CheckExact(left) && PyUnicode_CheckExact(right)) {
        int equal = texts_equal(left, right);
        if (equal != not_decided) return equal == (op == Py_EQ);
    }
    return compare_by_protocol(left, right, op);
}

}  // namespace pyext
