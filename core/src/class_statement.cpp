#include "pyext/class_statement.hpp"

#include "pyext/calls.hpp"
#include "pyext/names.hpp"
#include "pyext/private_api.hpp"

namespace pyext {
namespace {

// `bases` with every non-class base that has `__mro_entries__` replaced by
// what that method returns; `bases` itself when nothing changes.
Ref resolve_bases(PyObject* bases) {
    Ref resolved = Ref::steal(PyList_New(0));
    if (!resolved) return Ref();
    bool changed = false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
        PyObject* base = PyTuple_GET_ITEM(bases, i);
        PyObject* found = nullptr;
        if (!PyType_Check(base) && lookup_attribute(base, names.dunder_mro_entries, &found) < 0) return Ref();
        Ref method = Ref::steal(found);
        if (!method) {
            if (PyList_Append(resolved.get(), base) < 0) return Ref();
            continue;
        }
        Ref entries = Ref::steal(PyObject_CallOneArg(method.get(), bases));
        if (!entries) return Ref();
        if (!PyTuple_Check(entries.get())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            return Ref();
        }
        changed = true;
        if (PyList_SetSlice(resolved.get(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, entries.get()) < 0) return Ref();
    }
    if (!changed) return Ref::borrow(bases);
    return Ref::steal(PyList_AsTuple(resolved.get()));
}

// The metaclass's `__name__` for messages; "<metaclass>" when it has none.
Ref metaclass_name(PyObject* metaclass) {
    PyObject* name = nullptr;
    if (lookup_attribute(metaclass, names.dunder_name, &name) < 0) return Ref();
    return name != nullptr ? Ref::steal(name) : Ref::steal(PyUnicode_FromString("<metaclass>"));
}

}  // namespace

Ref lookup_global(PyObject* globals, PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value == nullptr && !PyErr_Occurred()) value = PyDict_GetItemWithError(interpreter_builtins(), name);
    if (value != nullptr) return Ref::borrow(value);
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref();
}

Ref lookup_global(PyObject* globals, const char* name) {
    Ref key = Ref::steal(PyUnicode_FromString(name));
    return key ? lookup_global(globals, key.get()) : Ref();
}

int ClassStatement::begin(const char* base_name) {
    name_ = Ref::steal(PyUnicode_FromString(name_text_));
    if (!name_) return -1;
    Ref base = lookup_global(globals_, base_name);
    if (!base) return -1;
    original_bases_ = Ref::steal(PyTuple_Pack(1, base.get()));
    if (!original_bases_) return -1;
    bases_ = resolve_bases(original_bases_.get());
    if (!bases_) return -1;

    PyTypeObject* first = PyTuple_GET_SIZE(bases_.get()) > 0 ? Py_TYPE(PyTuple_GET_ITEM(bases_.get(), 0))
                                                               : &PyType_Type;
    PyTypeObject* winner = calculate_metaclass(first, bases_.get());
    if (winner == nullptr) return -1;
    metaclass_ = Ref::borrow(reinterpret_cast<PyObject*>(winner));

    PyObject* prepare = nullptr;
    if (lookup_attribute(metaclass_.get(), names.dunder_prepare, &prepare) < 0) return -1;
    Ref prepare_method = Ref::steal(prepare);
    if (prepare_method) {
        namespace_ = call_function(prepare_method.get(), name_.get(), bases_.get());
    } else {
        namespace_ = Ref::steal(PyDict_New());
    }
    if (!namespace_) return -1;
    if (!PyMapping_Check(namespace_.get())) {
        Ref meta_name = metaclass_name(metaclass_.get());
        if (!meta_name) return -1;
        PyErr_Format(PyExc_TypeError, "%S.__prepare__() must return a mapping, not %s", meta_name.get(),
                     type_name(Py_TYPE(namespace_.get())));
        return -1;
    }
    return 0;
}

int ClassStatement::set(PyObject* key, PyObject* value) { return PyObject_SetItem(namespace_.get(), key, value); }

int ClassStatement::set(const char* key, PyObject* value) {
    Ref name = Ref::steal(PyUnicode_InternFromString(key));
    return name ? set(name.get(), value) : -1;
}

Ref ClassStatement::lookup(PyObject* name) {
    Ref value = Ref::steal(PyObject_GetItem(namespace_.get(), name));
    if (value || !PyErr_ExceptionMatches(PyExc_KeyError)) return value;
    PyErr_Clear();
    return lookup_global(globals_, name);
}

Ref ClassStatement::lookup(const char* name) {
    Ref key = Ref::steal(PyUnicode_InternFromString(name));
    return key ? lookup(key.get()) : Ref();
}

int ClassStatement::annotate(const char* field, PyObject* annotation) {
    Ref annotations = Ref::steal(PyObject_GetItem(namespace_.get(), names.dunder_annotations));
    if (!annotations) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) return -1;
        PyErr_Clear();
        PyErr_SetString(PyExc_NameError, "name '__annotations__' is not defined");
        return -1;
    }
    Ref name = Ref::steal(PyUnicode_InternFromString(field));
    return name ? PyObject_SetItem(annotations.get(), name.get(), annotation) : -1;
}

Ref ClassStatement::finish() {
    if (bases_.get() != original_bases_.get() && set(names.dunder_orig_bases, original_bases_.get()) < 0) return Ref();
    return call_function(metaclass_.get(), name_.get(), bases_.get(), namespace_.get());
}

}  // namespace pyext
