#include "pyext/mapping.hpp"

namespace pyext {

Ref Mapping::find_by_protocol(PyObject* key) const {
    int present = PySequence_Contains(object_.get(), key);
    if (present <= 0) return Ref();
    return Ref::steal(PyObject_GetItem(object_.get(), key));
}

int Mapping::truth_by_protocol(PyObject* key) const {
    Ref value = Ref::steal(PyObject_GetItem(object_.get(), key));
    return value ? truth(value.get()) : -1;
}

int DictItems::next(Ref& key, Ref& value) {
    if (PyDict_GET_SIZE(dict_) != size_) {
        PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
        return -1;
    }
    PyObject *found_key, *found_value;
    if (!PyDict_Next(dict_, &position_, &found_key, &found_value)) return 0;
    // As many keys as it had, yet one more turns up: some were replaced.
    if (remaining_-- == 0) {
        PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
        return -1;
    }
    key = Ref::borrow(found_key);
    value = Ref::borrow(found_value);
    return 1;
}

}  // namespace pyext
