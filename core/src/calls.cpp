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

bool texts_equal(PyObject* a, PyObject* b) {
    if (a == b) return true;
    Py_hash_t hash_a = cached_text_hash(a);
    Py_hash_t hash_b = cached_text_hash(b);
    if (hash_a != -1 && hash_b != -1 && hash_a != hash_b) return false;
    return text_equal(a, b);
}

int compare_truth(PyObject* left, PyObject* right, int op) {
    // Two ready exact strs compare as the str type decides, without a call.
    if ((op == Py_EQ || op == Py_NE) && ready_texts(left, right)) {
        return texts_equal(left, right) == (op == Py_EQ);
    }
    Ref result = Ref::steal(PyObject_RichCompare(left, right, op));
    return result ? truth(result.get()) : -1;
}

}  // namespace pyext
