// A mapping reached with one hash per key: an exact dict goes straight to the
// dict's known-hash calls, anything else through the mapping protocol, with
// the same meaning.
#pragma once

#include <Python.h>

#include "pyext/calls.hpp"
#include "pyext/private_api.hpp"
#include "pyext/ref.hpp"

namespace pyext {

// The exact dict's paths are here, to be inlined into the walks and graph
// updates that call them once per node; the protocol's are in mapping.cpp.
class Mapping {
public:
    explicit Mapping(Ref object) : object_(std::move(object)), exact_dict_(PyDict_CheckExact(object_.get())) {}

    PyObject* object() const { return object_.get(); }

    // The value of a key the mapping holds; null without an error when it
    // holds none (membership decides, not a subscript that a `__missing__`
    // could answer), null with one when asking failed.
    Ref find(PyObject* key, Py_hash_t hash) const {
        if (!exact_dict_) return find_by_protocol(key);
        return Ref::borrow(dict_get_known_hash(object_.get(), key, hash));
    }

    // mapping[key]: KeyError(key) when absent.
    Ref at(PyObject* key, Py_hash_t hash) const {
        if (!exact_dict_) return Ref::steal(PyObject_GetItem(object_.get(), key));
        PyObject* value = dict_get_known_hash(object_.get(), key, hash);
        if (value == nullptr && !PyErr_Occurred()) set_key_error(key);
        return Ref::borrow(value);
    }

    // The truth of mapping[key]: 1 or 0, -1 on error.
    int truth_at(PyObject* key, Py_hash_t hash) const {
        if (!exact_dict_) return truth_by_protocol(key);
        // The bools answer without running code, so the borrowed value will
        // do; any other value is held while its truth test runs.
        PyObject* value = dict_get_known_hash(object_.get(), key, hash);
        if (value == Py_True) return 1;
        if (value == Py_False) return 0;
        if (value != nullptr) return truth(Ref::borrow(value).get());
        if (!PyErr_Occurred()) set_key_error(key);
        return -1;
    }

    // key in mapping: 1 or 0, -1 on error.
    int contains(PyObject* key, Py_hash_t hash) const {
        if (!exact_dict_) return PySequence_Contains(object_.get(), key);
        if (dict_get_known_hash(object_.get(), key, hash) != nullptr) return 1;
        return PyErr_Occurred() ? -1 : 0;
    }

    int set(PyObject* key, Py_hash_t hash, PyObject* value) const {
        if (exact_dict_) return dict_set_known_hash(object_.get(), key, value, hash);
        return PyObject_SetItem(object_.get(), key, value);
    }

private:
    Ref find_by_protocol(PyObject* key) const;
    int truth_by_protocol(PyObject* key) const;

    Ref object_;
    bool exact_dict_;
};

// `for key, value in dict.items()` over an exact dict, with the checks the
// interpreter's own iterator makes: the loop body may run code that changes
// the dict, and the next step then fails with the same RuntimeError.
class DictItems {
public:
    // `dict` is borrowed; the caller holds it for the whole loop.
    explicit DictItems(PyObject* dict) : dict_(dict), size_(PyDict_GET_SIZE(dict)), remaining_(size_) {}

    // 1 with the next pair in `key` and `value`, 0 at the end, -1 with an
    // error set.
    int next(Ref& key, Ref& value);

private:
    PyObject* dict_;
    Py_ssize_t size_;
    Py_ssize_t remaining_;
    Py_ssize_t position_ = 0;
};

}  // namespace pyext
