#include "pyext/calls.hpp"

#include "pyext/private_api.hpp"

namespace pyext {
namespace {

// Our calls pass three arguments at most, besides the object.
constexpr size_t max_call_args = 4;

bool fits(size_t count) {
    if (count <= max_call_args) return true;
    PyErr_SetString(PyExc_SystemError, "too many arguments for an internal call");
    return false;
}

// The keywords' names as a tuple, their values put on `stack` from `first` on.
Ref keyword_names(std::initializer_list<Keyword> keywords, PyObject** stack, size_t first) {
    Ref kwnames = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    if (!kwnames) return kwnames;
    Py_ssize_t index = 0;
    for (const Keyword& keyword : keywords) {
        PyTuple_SET_ITEM(kwnames.get(), index, Ref::borrow(keyword.name).release());
        stack[first + static_cast<size_t>(index++)] = keyword.value;
    }
    return kwnames;
}

}  // namespace

Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args) {
    if (!fits(args.size() + 1)) return Ref();
    PyObject* stack[max_call_args];
    stack[0] = self;
    size_t nargs = 1;
    for (PyObject* arg : args) stack[nargs++] = arg;
    return Ref::steal(PyObject_VectorcallMethod(name, stack, nargs, nullptr));
}

Ref call_keywords(PyObject* callable, std::initializer_list<Keyword> keywords) {
    if (!fits(keywords.size())) return Ref();
    PyObject* stack[max_call_args];
    Ref kwnames = keyword_names(keywords, stack, 0);
    if (!kwnames) return Ref();
    return Ref::steal(PyObject_Vectorcall(callable, stack, 0, kwnames.get()));
}

Ref call_method_keywords(PyObject* self, PyObject* name, std::initializer_list<Keyword> keywords) {
    if (!fits(keywords.size() + 1)) return Ref();
    PyObject* stack[max_call_args];
    stack[0] = self;
    Ref kwnames = keyword_names(keywords, stack, 1);
    if (!kwnames) return Ref();
    return Ref::steal(PyObject_VectorcallMethod(name, stack, 1, kwnames.get()));
}

bool texts_equal(PyObject* a, PyObject* b) {
    if (a == b) return true;
    Py_hash_t hash_a = reinterpret_cast<PyASCIIObject*>(a)->hash;
    Py_hash_t hash_b = reinterpret_cast<PyASCIIObject*>(b)->hash;
    if (hash_a != -1 && hash_b != -1 && hash_a != hash_b) return false;
    return text_equal(a, b);
}

int compare_truth(PyObject* left, PyObject* right, int op) {
    // Two exact strs compare as the str type decides, without a call.
    if (PyUnicode_CheckExact(left) && PyUnicode_CheckExact(right) && (op == Py_EQ || op == Py_NE)) {
        return texts_equal(left, right) == (op == Py_EQ);
    }
    Ref result = Ref::steal(PyObject_RichCompare(left, right, op));
    return result ? truth(result.get()) : -1;
}

}  // namespace pyext
