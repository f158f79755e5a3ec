#include "pyext/class_statement.hpp"

#include "pyext/interpreter.hpp"

namespace pyext {
namespace {

// New reference: `bases` with every non-class base that has
// `__mro_entries__` replaced by what that method returns; `bases` itself
// when nothing changes.
PyObject* resolve_bases(PyObject* bases) {
    Ref method_name = Ref::steal(PyUnicode_InternFromString("__mro_entries__"));
    Ref resolved = Ref::steal(PyList_New(0));
    if (!method_name || !resolved) return nullptr;
    bool changed = false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
        PyObject* base = PyTuple_GET_ITEM(bases, i);
        PyObject* found = nullptr;
        if (!PyType_Check(base) && _PyObject_LookupAttr(base, method_name.get(), &found) < 0) return nullptr;
        Ref method = Ref::steal(found);
        if (!method) {
            if (PyList_Append(resolved.get(), base) < 0) return nullptr;
            continue;
        }
        Ref entries = Ref::steal(PyObject_CallOneArg(method.get(), bases));
        if (!entries) return nullptr;
        if (!PyTuple_Check(entries.get())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            return nullptr;
        }
        changed = true;
        if (PyList_SetSlice(resolved.get(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, entries.get()) < 0) return nullptr;
    }
    if (!changed) return Ref::borrow(bases).release();
    return PyList_AsTuple(resolved.get());
}

// The metaclass's `__name__` for messages; "<metaclass>" when it has none.
PyObject* metaclass_name(PyObject* metaclass) {
    Ref attribute = Ref::steal(PyUnicode_InternFromString("__name__"));
    if (!attribute) return nullptr;
    PyObject* name = nullptr;
    if (_PyObject_LookupAttr(metaclass, attribute.get(), &name) < 0) return nullptr;
    return name != nullptr ? name : PyUnicode_FromString("<metaclass>");
}

}  // namespace

PyObject* lookup_global(PyObject* globals, PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value == nullptr && !PyErr_Occurred()) value = PyDict_GetItemWithError(interpreter_builtins(), name);
    if (value != nullptr) return Ref::borrow(value).release();
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

PyObject* lookup_global(PyObject* globals, const char* name) {
    Ref key = Ref::steal(PyUnicode_FromString(name));
    return key ? lookup_global(globals, key.get()) : nullptr;
}

int ClassStatement::begin(const char* base_name) {
    name_ = Ref::steal(PyUnicode_FromString(name_text_));
    if (!name_) return -1;
    Ref base = Ref::steal(lookup_global(globals_, base_name));
    if (!base) return -1;
    original_bases_ = Ref::steal(PyTuple_Pack(1, base.get()));
    if (!original_bases_) return -1;
    bases_ = Ref::steal(resolve_bases(original_bases_.get()));
    if (!bases_) return -1;

    PyTypeObject* first = PyTuple_GET_SIZE(bases_.get()) > 0 ? Py_TYPE(PyTuple_GET_ITEM(bases_.get(), 0))
                                                               : &PyType_Type;
    PyTypeObject* winner = _PyType_CalculateMetaclass(first, bases_.get());
    if (winner == nullptr) return -1;
    metaclass_ = Ref::borrow(reinterpret_cast<PyObject*>(winner));

    PyObject* prepare = nullptr;
    Ref prepare_name = Ref::steal(PyUnicode_FromString("__prepare__"));
    if (!prepare_name || _PyObject_LookupAttr(metaclass_.get(), prepare_name.get(), &prepare) < 0) return -1;
    Ref prepare_method = Ref::steal(prepare);
    if (prepare_method) {
        PyObject* args[] = {name_.get(), bases_.get()};
        namespace_ = Ref::steal(PyObject_Vectorcall(prepare_method.get(), args, 2, nullptr));
    } else {
        namespace_ = Ref::steal(PyDict_New());
    }
    if (!namespace_) return -1;
    if (!PyMapping_Check(namespace_.get())) {
        Ref meta_name = Ref::steal(metaclass_name(metaclass_.get()));
        if (!meta_name) return -1;
        PyErr_Format(PyExc_TypeError, "%S.__prepare__() must return a mapping, not %s", meta_name.get(),
                     _PyType_Name(Py_TYPE(namespace_.get())));
        return -1;
    }
    return 0;
}

int ClassStatement::set(const char* key, PyObject* value) {
    Ref name = Ref::steal(PyUnicode_InternFromString(key));
    return name ? PyObject_SetItem(namespace_.get(), name.get(), value) : -1;
}

int ClassStatement::set_module_name() {
    Ref module_name = Ref::steal(lookup_global(globals_, "__name__"));
    return module_name ? set("__module__", module_name.get()) : -1;
}

PyObject* ClassStatement::lookup(const char* name) {
    Ref key = Ref::steal(PyUnicode_InternFromString(name));
    if (!key) return nullptr;
    PyObject* value = PyObject_GetItem(namespace_.get(), key.get());
    if (value != nullptr || !PyErr_ExceptionMatches(PyExc_KeyError)) return value;
    PyErr_Clear();
    return lookup_global(globals_, key.get());
}

int ClassStatement::annotate(const char* field, PyObject* annotation) {
    Ref key = Ref::steal(PyUnicode_InternFromString("__annotations__"));
    if (!key) return -1;
    Ref annotations = Ref::steal(PyObject_GetItem(namespace_.get(), key.get()));
    if (!annotations) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) return -1;
        PyErr_Clear();
        PyErr_SetString(PyExc_NameError, "name '__annotations__' is not defined");
        return -1;
    }
    Ref name = Ref::steal(PyUnicode_InternFromString(field));
    return name ? PyObject_SetItem(annotations.get(), name.get(), annotation) : -1;
}

PyObject* ClassStatement::finish() {
    if (bases_.get() != original_bases_.get() && set("__orig_bases__", original_bases_.get()) < 0) return nullptr;
    PyObject* args[] = {name_.get(), bases_.get(), namespace_.get()};
    return PyObject_Vectorcall(metaclass_.get(), args, 3, nullptr);
}

}  // namespace pyext
