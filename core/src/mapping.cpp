#include "pyext/mapping.hpp"

#include "pyext/calls.hpp"
#include "pyext/private_api.hpp"

namespace pyext {

Ref Mapping::find(PyObject* key, Py_hash_t hash) const {
    if (exact_dict_) return Ref::borrow(dict_get_known_hash(object_.get(), key, hash));
    int present = PySequence_Contains(object_.get(), key);
    if (present <= 0) return Ref();
    return Ref::steal(PyObject_GetItem(object_.get(), key));
}

Ref Mapping::at(PyObject* key, Py_hash_t hash) const {
    if (!exact_dict_) return Ref::steal(PyObject_GetItem(object_.get(), key));
    Ref value = find(key, hash);
    if (!value && !PyErr_Occurred()) set_key_error(key);
    return value;
}

int Mapping::truth_at(PyObject* key, Py_hash_t hash) const {
    if (!exact_dict_) {
        Ref value = at(key, hash);
        return value ? truth(value.get()) : -1;
    }
    // The bools answer without running code, so the borrowed value will do;
    // any other value is held while its truth test runs.
    PyObject* value = dict_get_known_hash(object_.get(), key, hash);
    if (value == Py_True) return 1;
    if (value == Py_False) return 0;
    if (value != nullptr) return truth(Ref::borrow(value).get());
    if (!PyErr_Occurred()) set_key_error(key);
    return -1;
}

int Mapping::contains(PyObject* key, Py_hash_t hash) const {
    if (!exact_dict_) return PySequence_Contains(object_.get(), key);
    if (dict_get_known_hash(object_.get(), key, hash) != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
}

int Mapping::set(PyObject* key, Py_hash_t hash, PyObject* value) const {
    if (exact_dict_) return dict_set_known_hash(object_.get(), key, value, hash);
    return PyObject_SetItem(object_.get(), key, value);
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
