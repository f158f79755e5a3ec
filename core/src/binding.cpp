#include "pyext/binding.hpp"

namespace pyext {
namespace {

void too_many_positional(const FunctionDef& def, Py_ssize_t argcount, Py_ssize_t ndefaults, Py_ssize_t given) {
    Ref expected = Ref::steal(ndefaults > 0 ? PyUnicode_FromFormat("from %zd to %zd", argcount - ndefaults, argcount)
                                            : PyUnicode_FromFormat("%zd", argcount));
    if (!expected) return;
    bool plural = ndefaults > 0 || argcount != 1;
    PyErr_Format(PyExc_TypeError, "%s() takes %U positional argument%s but %zd %s given", def.name,
                 expected.get(), plural ? "s" : "", given, given == 1 ? "was" : "were");
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter words it.
Ref join_missing(PyObject* names) {
    Py_ssize_t n = PyList_GET_SIZE(names);
    if (n == 1) return Ref::borrow(PyList_GET_ITEM(names, 0));
    if (n == 2) {
        return Ref::steal(PyUnicode_FromFormat("%U and %U", PyList_GET_ITEM(names, 0), PyList_GET_ITEM(names, 1)));
    }
    Ref tail = Ref::steal(PyUnicode_FromFormat(", %U, and %U", PyList_GET_ITEM(names, n - 2),
                                               PyList_GET_ITEM(names, n - 1)));
    if (!tail || PyList_SetSlice(names, n - 2, n, nullptr) < 0) return Ref();
    Ref separator = Ref::steal(PyUnicode_FromString(", "));
    if (!separator) return Ref();
    Ref head = Ref::steal(PyUnicode_Join(separator.get(), names));
    if (!head) return Ref();
    return Ref::steal(PyUnicode_Concat(head.get(), tail.get()));
}

void missing_positional(const FunctionDef& def, PyObject* varnames, PyObject* const* values, Py_ssize_t end) {
    Ref names = Ref::steal(PyList_New(0));
    if (!names) return;
    for (Py_ssize_t i = 0; i < end; ++i) {
        if (values[i] != nullptr) continue;
        Ref repr = Ref::steal(PyObject_Repr(PyTuple_GET_ITEM(varnames, i)));
        if (!repr || PyList_Append(names.get(), repr.get()) < 0) return;
    }
    Py_ssize_t count = PyList_GET_SIZE(names.get());
    Ref joined = join_missing(names.get());
    if (!joined) return;
    PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %U", def.name, count,
                 count == 1 ? "" : "s", joined.get());
}

// Index of the parameter named `keyword`, -1 when none, -2 on error.
Py_ssize_t find_parameter(PyObject* varnames, Py_ssize_t argcount, PyObject* keyword) {
    for (Py_ssize_t j = 0; j < argcount; ++j) {
        if (PyTuple_GET_ITEM(varnames, j) == keyword) return j;
    }
    for (Py_ssize_t j = 0; j < argcount; ++j) {
        int equal = PyObject_RichCompareBool(keyword, PyTuple_GET_ITEM(varnames, j), Py_EQ);
        if (equal != 0) return equal > 0 ? j : -2;
    }
    return -1;
}

int bind_keywords(const FunctionDef& def, PyObject* varnames, Py_ssize_t argcount, PyObject* const* kwvalues,
                  PyObject* kwnames, BoundArguments& bound) {
    Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", def.name);
            return -1;
        }
        Py_ssize_t j = find_parameter(varnames, argcount, keyword);
        if (j == -2) return -1;
        if (j == -1) {
            if (!bound.keywords) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", def.name, keyword);
                return -1;
            }
            if (PyDict_SetItem(bound.keywords.get(), keyword, kwvalues[i]) < 0) return -1;
            continue;
        }
        if (bound.values[j] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", def.name, keyword);
            return -1;
        }
        bound.values[j] = kwvalues[i];
    }
    return 0;
}

}  // namespace

int bind_arguments(const FunctionDef& def, PyObject* varnames, PyObject* defaults, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames, BoundArguments& bound) {
    const Py_ssize_t argcount = def.positional_count();
    // The common call, every parameter given by position, binds as it comes.
    if (nargs == argcount && kwnames == nullptr && !def.collects_keywords) {
        for (Py_ssize_t i = 0; i < nargs; ++i) bound.values[i] = args[i];
        return 0;
    }
    const Py_ssize_t ndefaults = defaults == nullptr ? 0 : PyTuple_GET_SIZE(defaults);
    if (def.collects_keywords) {
        bound.keywords = Ref::steal(PyDict_New());
        if (!bound.keywords) return -1;
    }
    for (Py_ssize_t i = 0; i < nargs && i < argcount; ++i) bound.values[i] = args[i];
    // Keywords come before the count check, as in the interpreter, so a
    // keyword that repeats a positional argument is reported as such.
    if (bind_keywords(def, varnames, argcount, args + nargs, kwnames, bound) < 0) return -1;
    if (nargs > argcount) {
        too_many_positional(def, argcount, ndefaults, nargs);
        return -1;
    }
    const Py_ssize_t required = argcount - ndefaults;
    for (Py_ssize_t i = nargs; i < required; ++i) {
        if (bound.values[i] == nullptr) {
            missing_positional(def, varnames, bound.values, required);
            return -1;
        }
    }
    for (Py_ssize_t i = required > nargs ? required : nargs; i < argcount; ++i) {
        if (bound.values[i] == nullptr) bound.values[i] = PyTuple_GET_ITEM(defaults, i - required);
    }
    if (def.collects_keywords) bound.values[argcount] = bound.keywords.get();
    return 0;
}

}  // namespace pyext
