#include "pyext/class_body.hpp"

#include <cstring>

#include "pyext/names.hpp"

namespace pyext {
namespace {

// The built-in type of that name itself, whatever the builtins module holds
// under the name now.
Ref builtin_type(const char* name) {
    static const struct {
        const char* name;
        PyTypeObject* type;
    } types[] = {{"str", &PyUnicode_Type}, {"list", &PyList_Type}, {"float", &PyFloat_Type},
                 {"dict", &PyDict_Type}, {"int", &PyLong_Type},   {"bool", &PyBool_Type}};
    for (const auto& entry : types) {
        if (std::strcmp(entry.name, name) == 0) return Ref::borrow(reinterpret_cast<PyObject*>(entry.type));
    }
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    return Ref();
}

bool uses_class_cell(const ClassDeclaration& decl) {
    for (size_t i = 0; i < decl.nmethods; ++i) {
        if (decl.methods[i].uses_class_cell) return true;
    }
    return false;
}

}  // namespace

int ClassBody::at(int line, int status) {
    if (status < 0) module_.class_body_failed(decl_.name, line);
    return status;
}

int ClassBody::set_at(int line, const char* key, Ref value) {
    return at(line, value ? statement_.set(key, value.get()) : -1);
}

int ClassBody::header() {
    Ref module_name = lookup_global(module_.globals, names.dunder_name);
    if (!module_name || statement_.set(names.dunder_module, module_name.get()) < 0) return -1;
    if (decl_.doc != nullptr) {
        Ref doc = Ref::steal(PyUnicode_FromString(decl_.doc));
        if (!doc || statement_.set(names.dunder_doc, doc.get()) < 0) return -1;
    }
    Ref qualname = Ref::steal(PyUnicode_FromString(decl_.name));
    if (!qualname || statement_.set(names.dunder_qualname, qualname.get()) < 0) return -1;
    if (decl_.annotations == Annotations::None) return 0;
    Ref annotations = Ref::steal(PyDict_New());
    return annotations ? statement_.set(names.dunder_annotations, annotations.get()) : -1;
}

Ref ClassBody::argument(const Value& value) {
    if (value.kind == Value::Kind::Name) return lookup(value.text_or_name);
    return constant_object(value);
}

// `callee(positional, **keywords)`; `positional` (when given) stands in for
// the declaration's own, as a list field's item field does.
Ref ClassBody::call(const Call& call, PyObject* callee, PyObject* positional) {
    Ref own_positional;
    if (positional == nullptr && call.positional.kind != Value::Kind::Absent) {
        if (!(own_positional = argument(call.positional))) return Ref();
        positional = own_positional.get();
    }
    Ref values[max_keywords];
    PyObject* stack[1 + max_keywords];
    size_t nargs = 0;
    if (positional != nullptr) stack[nargs++] = positional;
    Ref kwnames = Ref::steal(PyTuple_New(call.nkeywords));
    if (!kwnames) return Ref();
    for (int i = 0; i < call.nkeywords; ++i) {
        PyObject* key = PyUnicode_InternFromString(call.keywords[i].key);
        if (key == nullptr) return Ref();
        PyTuple_SET_ITEM(kwnames.get(), i, key);
        if (!(values[i] = argument(call.keywords[i].value))) return Ref();
        stack[nargs + static_cast<size_t>(i)] = values[i].get();
    }
    return Ref::steal(PyObject_Vectorcall(callee, stack, nargs, call.nkeywords > 0 ? kwnames.get() : nullptr));
}

Ref ClassBody::annotation(const char* text) {
    if (decl_.annotations == Annotations::Texts) return Ref::steal(PyUnicode_FromString(text));
    // Evaluated: the class body's own binding of the name, else the built-in
    // type; the module's globals and the builtins module are not consulted.
    Ref key = Ref::steal(PyUnicode_InternFromString(text));
    if (!key) return Ref();
    Ref value = Ref::steal(PyObject_GetItem(statement_.namespace_object(), key.get()));
    if (value || !PyErr_ExceptionMatches(PyExc_KeyError)) return value;
    PyErr_Clear();
    return builtin_type(text);
}

// Constructors are looked up first (the field's, then its item field's), then
// the item field is made and handed to the field's constructor.
int ClassBody::declare_field(const Field& field) {
    Ref constructor = lookup(field.call.callee);
    if (!constructor) return -1;
    Ref item;
    if (field.item.callee != nullptr) {
        Ref item_constructor = lookup(field.item.callee);
        if (!item_constructor || !(item = call(field.item, item_constructor.get(), nullptr))) return -1;
    }
    Ref value = call(field.call, constructor.get(), item.get());
    if (!value || statement_.set(field.name, value.get()) < 0) return -1;
    Ref annotation_value = annotation(field.annotation);
    return annotation_value ? statement_.annotate(field.name, annotation_value.get()) : -1;
}

int declare_class(ModuleBody& module, const ClassDeclaration& decl) {
    module.line = decl.line;
    ClassBody body(module, decl);
    // A method's `__class__` cell stays empty until the class exists.
    Ref class_cell;
    if (uses_class_cell(decl) && !(class_cell = Ref::steal(PyCell_New(nullptr)))) return -1;
    if (body.statement_.begin(decl.base) < 0 || body.header() < 0) return -1;
    if (decl.attributes != nullptr && decl.attributes(body) < 0) return -1;
    for (size_t i = 0; i < decl.nfields; ++i) {
        if (body.at(decl.fields[i].line, body.declare_field(decl.fields[i])) < 0) return -1;
    }
    Ref module_name = lookup_global(module.globals, names.dunder_name);
    if (!module_name) return -1;
    for (size_t i = 0; i < decl.nmethods; ++i) {
        const FunctionDef& method = decl.methods[i];
        Ref qualname = Ref::steal(PyUnicode_FromFormat("%s.%s", decl.name, method.name));
        FunctionParts parts{qualname.get(), module_name.get(), module.globals, class_cell.get(), module.filename};
        if (body.set_at(method.first_line, method.name, qualname ? function_new(method, parts) : Ref()) < 0) return -1;
    }
    Ref cls = body.statement_.finish();
    if (!cls) return -1;
    // Filled only now, never through the namespace, so the metaclass never
    // sees it.
    if (class_cell && PyCell_Set(class_cell.get(), cls.get()) < 0) return -1;
    return PyDict_SetItemString(module.globals, decl.name, cls.get());
}

}  // namespace pyext
