#include "pyext/field_declaration.hpp"

#include <cstring>

namespace pyext {
namespace {

PyObject* option_value(const FieldOption& option) {
    switch (option.kind) {
        case OptionValue::True: Py_RETURN_TRUE;
        case OptionValue::Text: return PyUnicode_FromString(option.text);
        case OptionValue::NewList: return PyList_New(0);
    }
    return nullptr;
}

// New reference: `constructor(*positional, **options)`, the keywords in
// declaration order and made anew for this call.
PyObject* call_constructor(PyObject* constructor, PyObject* positional, const FieldOption* options, int noptions,
                           PyObject* extra_key = nullptr, PyObject* extra_value = nullptr) {
    constexpr int max_args = 6;
    Ref values[max_args];
    PyObject* args[max_args];
    int nargs = 0;
    if (positional != nullptr) args[nargs++] = positional;
    int nkeywords = noptions + (extra_key != nullptr ? 1 : 0);
    Ref kwnames = Ref::steal(PyTuple_New(nkeywords));
    if (!kwnames) return nullptr;
    for (int i = 0; i < noptions; ++i) {
        PyObject* key = PyUnicode_InternFromString(options[i].key);
        if (key == nullptr) return nullptr;
        PyTuple_SET_ITEM(kwnames.get(), i, key);
        values[i] = Ref::steal(option_value(options[i]));
        if (!values[i]) return nullptr;
        args[nargs + i] = values[i].get();
    }
    if (extra_key != nullptr) {
        PyTuple_SET_ITEM(kwnames.get(), noptions, Ref::borrow(extra_key).release());
        args[nargs + noptions] = extra_value;
    }
    return PyObject_Vectorcall(constructor, args, static_cast<size_t>(nargs), nkeywords > 0 ? kwnames.get() : nullptr);
}

// New reference: the built-in type of that name itself, whatever the
// builtins module holds under the name now.
PyObject* builtin_type(const char* name) {
    static const struct {
        const char* name;
        PyTypeObject* type;
    } types[] = {{"str", &PyUnicode_Type}, {"list", &PyList_Type}, {"float", &PyFloat_Type},
                 {"dict", &PyDict_Type}, {"int", &PyLong_Type},   {"bool", &PyBool_Type}};
    for (const auto& entry : types) {
        if (std::strcmp(entry.name, name) == 0) return Ref::borrow(reinterpret_cast<PyObject*>(entry.type)).release();
    }
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    return nullptr;
}

PyObject* annotation_value(ClassStatement& statement, const char* annotation, AnnotationKind kind) {
    if (kind == AnnotationKind::Text) return PyUnicode_FromString(annotation);
    Ref key = Ref::steal(PyUnicode_InternFromString(annotation));
    if (!key) return nullptr;
    PyObject* value = PyObject_GetItem(statement.namespace_object(), key.get());
    if (value != nullptr || !PyErr_ExceptionMatches(PyExc_KeyError)) return value;
    PyErr_Clear();
    return builtin_type(annotation);
}

}  // namespace

int declare_field(ClassStatement& statement, const FieldDeclaration& field, AnnotationKind annotation_kind) {
    Ref constructor = Ref::steal(statement.lookup(field.constructor));
    if (!constructor) return -1;
    Ref item;
    if (field.item_constructor != nullptr) {
        Ref item_constructor = Ref::steal(statement.lookup(field.item_constructor));
        if (!item_constructor) return -1;
        Ref record;
        if (field.record_class != nullptr && !(record = Ref::steal(statement.lookup(field.record_class)))) return -1;
        if (!record) {
            item = Ref::steal(
                call_constructor(item_constructor.get(), nullptr, field.item_options, field.nitem_options));
        } else if (field.record_as_keyword) {
            Ref keyword = Ref::steal(PyUnicode_InternFromString("document_type"));
            if (!keyword) return -1;
            item = Ref::steal(call_constructor(item_constructor.get(), nullptr, nullptr, 0, keyword.get(), record.get()));
        } else {
            item = Ref::steal(call_constructor(item_constructor.get(), record.get(), nullptr, 0));
        }
        if (!item) return -1;
    }
    Ref value = Ref::steal(call_constructor(constructor.get(), item.get(), field.options, field.noptions));
    if (!value || statement.set(field.name, value.get()) < 0) return -1;
    Ref annotation = Ref::steal(annotation_value(statement, field.annotation, annotation_kind));
    return annotation ? statement.annotate(field.name, annotation.get()) : -1;
}

}  // namespace pyext
