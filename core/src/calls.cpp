#include "pyext/calls.hpp"

#include "pyext/private_api.hpp"

namespace pyext {

Ref keyword_names(const Keyword* keywords, size_t count, PyObject** values) {
    Ref kwnames = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!kwnames) return kwnames;
    for (size_t i = 0; i < count; ++i) {
        PyTuple_SET_ITEM(kwnames.get(), static_cast<Py_ssize_t>(i), Ref::borrow(keywords[i].name).release());
        values[i] = keywords[i].value;
    }
    return kwnames;
}

int compare_by_protocol(PyObject* left, PyObject* right, int op) {
    Ref result = Ref::steal(PyObject_RichCompare(left, right, op));
    return result ? truth(result.get()) : -1;
}

}  // namespace pyext
