#include "pyext/function.hpp"

#include <structmember.h>

#include <cstddef>

#include "pyext/binding.hpp"
#include "pyext/boundary.hpp"
#include "pyext/names.hpp"
#include "pyext/traceback.hpp"

namespace pyext {
namespace {

// Every object member is an owned reference (or null), released by
// `function_clear`.
struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionDef* def;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* globals;
    PyObject* defaults;     // tuple or null
    PyObject* annotations;  // dict, the function's own
    PyObject* closure;      // tuple of the `__class__` cell, or null
    PyObject* varnames;     // tuple of parameter names
    PyObject* filename;
    PyObject* code;         // `__code__`, made on first use
    PyObject* entry_code;   // traceback entry code, made on first failure
    PyObject* dict;
    PyObject* weakrefs;
};

FunctionObject* as_function(PyObject* op) { return reinterpret_cast<FunctionObject*>(op); }

// ---------------------------------------------------------------------------
// Calls.

// Failure entry: the frame shows the bound arguments and the closure's cell.
Ref failure_locals(FunctionObject* f, PyObject* const* args) {
    Ref locals = Ref::steal(PyDict_New());
    if (!locals) return locals;
    for (int i = 0; i < f->def->nparams; ++i) {
        if (args[i] == nullptr) continue;
        if (PyDict_SetItem(locals.get(), PyTuple_GET_ITEM(f->varnames, i), args[i]) < 0) return Ref();
    }
    PyObject* cls = f->closure != nullptr ? PyCell_GET(PyTuple_GET_ITEM(f->closure, 0)) : nullptr;
    if (cls != nullptr && PyDict_SetItem(locals.get(), names.dunder_class, cls) < 0) return Ref();
    return locals;
}

void add_failure_entry(FunctionObject* f, PyObject* const* args) {
    PendingError pending;
    if (f->entry_code == nullptr) {
        const char* filename = PyUnicode_AsUTF8(f->filename);
        if (filename != nullptr) f->entry_code = entry_code_new(filename, f->def->name, f->def->body_line).release();
    }
    Ref locals = failure_locals(f, args);
    PyErr_Clear();
    pending.restore();
    if (f->entry_code != nullptr) add_traceback_entry(f->entry_code, f->globals, locals.get());
}

// A call counts against the recursion limit as a Python frame does, so that
// recursion through C-level callables (a `functools.partial` of one of our
// methods, say) ends in RecursionError instead of exhausting the C stack.
PyObject* run_body(FunctionObject* f, PyObject* const* args) {
    if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    PyObject* self = reinterpret_cast<PyObject*>(f);
    PyObject* result = call_guarded<PyObject*>(nullptr, [&] { return f->def->body(self, args).release(); });
    Py_LeaveRecursiveCall();
    if (result == nullptr) add_failure_entry(f, args);
    return result;
}

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    FunctionObject* f = as_function(callable);
    BoundArguments bound;
    if (bind_arguments(*f->def, f->varnames, f->defaults, args, PyVectorcall_NARGS(nargsf), kwnames, bound) < 0) {
        return nullptr;
    }
    return run_body(f, bound.values);
}

// ---------------------------------------------------------------------------
// Attributes.

// `__code__`: a code object that carries the parameters, for introspection.
Ref make_code(FunctionObject* f) {
    const FunctionDef& def = *f->def;
    Ref freevars = Ref::steal(def.uses_class_cell ? PyTuple_Pack(1, names.dunder_class) : PyTuple_New(0));
    Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
    Ref empty_tuple = Ref::steal(PyTuple_New(0));
    if (!freevars || !empty_bytes || !empty_tuple) return Ref();
    int flags = CO_OPTIMIZED | CO_NEWLOCALS | (def.collects_keywords ? CO_VARKEYWORDS : 0) |
                (def.uses_class_cell ? CO_NESTED : 0);
    return Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewWithPosOnlyArgs(
        def.positional_count(), 0, 0, def.nparams, 0, flags, empty_bytes.get(), empty_tuple.get(), empty_tuple.get(),
        f->varnames, freevars.get(), empty_tuple.get(), f->filename, f->name, def.first_line, empty_bytes.get())));
}

PyObject* function_get_code(PyObject* self, void*) {
    FunctionObject* f = as_function(self);
    if (f->code == nullptr && (f->code = make_code(f).release()) == nullptr) return nullptr;
    return Ref::borrow(f->code).release();
}

PyObject* none_if_null(PyObject* value) { return Ref::borrow(value != nullptr ? value : Py_None).release(); }

PyObject* function_get_defaults(PyObject* self, void*) { return none_if_null(as_function(self)->defaults); }
PyObject* function_get_closure(PyObject* self, void*) { return none_if_null(as_function(self)->closure); }
PyObject* function_get_kwdefaults(PyObject*, void*) { Py_RETURN_NONE; }

PyGetSetDef function_getset[] = {
    {"__code__", function_get_code, nullptr, nullptr, nullptr},
    {"__defaults__", function_get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", function_get_kwdefaults, nullptr, nullptr, nullptr},
    {"__closure__", function_get_closure, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__name__", T_OBJECT, offsetof(FunctionObject, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(FunctionObject, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(FunctionObject, doc), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(FunctionObject, globals), READONLY, nullptr},
    {"__annotations__", T_OBJECT, offsetof(FunctionObject, annotations), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// Copied and pickled as functions are: by reference, under the qualified
// name that the module holds them by.
PyObject* function_reduce(PyObject* self, PyObject*) { return Ref::borrow(as_function(self)->qualname).release(); }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Type slots.

PyObject* function_descr_get(PyObject* self, PyObject* instance, PyObject*) {
    if (instance == nullptr || instance == Py_None) return Ref::borrow(self).release();
    return PyMethod_New(self, instance);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// The members that hold objects, for traverse and clear alike.
constexpr PyObject* FunctionObject::*object_members[] = {
    &FunctionObject::name,     &FunctionObject::qualname, &FunctionObject::module,      &FunctionObject::doc,
    &FunctionObject::globals,  &FunctionObject::defaults, &FunctionObject::annotations, &FunctionObject::closure,
    &FunctionObject::varnames, &FunctionObject::filename, &FunctionObject::code,        &FunctionObject::entry_code,
    &FunctionObject::dict,
};

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    for (PyObject* FunctionObject::*member : object_members) Py_VISIT(as_function(self)->*member);
    return 0;
}

int function_clear(PyObject* self) {
    for (PyObject* FunctionObject::*member : object_members) Py_CLEAR(as_function(self)->*member);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    if (as_function(self)->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
    function_clear(self);
    PyObject_GC_Del(self);
}

PyTypeObject function_type = [] {
    PyTypeObject type{};
    type.ob_base.ob_base.ob_refcnt = 1;
    type.tp_name = "compiled_function";
    type.tp_basicsize = sizeof(FunctionObject);
    type.tp_dealloc = function_dealloc;
    type.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    type.tp_repr = function_repr;
    type.tp_call = PyVectorcall_Call;
    type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                    Py_TPFLAGS_METHOD_DESCRIPTOR;
    type.tp_traverse = function_traverse;
    type.tp_clear = function_clear;
    type.tp_weaklistoffset = offsetof(FunctionObject, weakrefs);
    type.tp_methods = function_methods;
    type.tp_members = function_members;
    type.tp_getset = function_getset;
    type.tp_descr_get = function_descr_get;
    type.tp_dictoffset = offsetof(FunctionObject, dict);
    return type;
}();

// ---------------------------------------------------------------------------
// Construction: what the definition says, as objects.

Ref interned_tuple(const char* const* texts, int count) {
    Ref tuple = Ref::steal(PyTuple_New(count));
    for (int i = 0; tuple && i < count; ++i) {
        PyObject* text = PyUnicode_InternFromString(texts[i]);
        if (text == nullptr) return Ref();
        PyTuple_SET_ITEM(tuple.get(), i, text);
    }
    return tuple;
}

// Null without an error for a function without defaults.
Ref defaults_tuple(const FunctionDef& def) {
    if (def.ndefaults == 0) return Ref();
    Ref tuple = Ref::steal(PyTuple_New(def.ndefaults));
    for (int i = 0; tuple && i < def.ndefaults; ++i) {
        Ref value = constant_object(def.defaults[i]);
        if (!value) return Ref();
        PyTuple_SET_ITEM(tuple.get(), i, value.release());
    }
    return tuple;
}

// A dict of its own for each function, as Python makes one per `def`.
Ref annotations_dict(const FunctionDef& def) {
    Ref dict = Ref::steal(PyDict_New());
    for (int i = 0; dict && i < def.nannotations; ++i) {
        Ref text = Ref::steal(PyUnicode_FromString(def.annotations[i].text));
        if (!text || PyDict_SetItemString(dict.get(), def.annotations[i].key, text.get()) < 0) return Ref();
    }
    return dict;
}

}  // namespace

int function_type_ready() { return PyType_Ready(&function_type); }

Ref function_new(const FunctionDef& def, const FunctionParts& parts) {
    Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
    Ref varnames = interned_tuple(def.params, def.nparams);
    Ref filename = Ref::steal(PyUnicode_FromString(parts.filename));
    Ref doc = def.doc != nullptr ? Ref::steal(PyUnicode_FromString(def.doc)) : Ref::borrow(Py_None);
    Ref defaults = defaults_tuple(def);
    Ref annotations = annotations_dict(def);
    Ref closure = def.uses_class_cell ? Ref::steal(PyTuple_Pack(1, parts.class_cell)) : Ref();
    if (!name || !varnames || !filename || !doc || !annotations || (def.ndefaults > 0 && !defaults) ||
        (def.uses_class_cell && !closure)) {
        return Ref();
    }
    FunctionObject* f = PyObject_GC_New(FunctionObject, &function_type);
    if (f == nullptr) return Ref();
    f->vectorcall = function_vectorcall;
    f->def = &def;
    f->name = name.release();
    f->qualname = Ref::borrow(parts.qualname).release();
    f->module = Ref::borrow(parts.module_name).release();
    f->doc = doc.release();
    f->globals = Ref::borrow(parts.globals).release();
    f->defaults = defaults.release();
    f->annotations = annotations.release();
    f->closure = closure.release();
    f->varnames = varnames.release();
    f->filename = filename.release();
    f->code = nullptr;
    f->entry_code = nullptr;
    f->dict = nullptr;
    f->weakrefs = nullptr;
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

PyObject* function_globals(PyObject* function) { return as_function(function)->globals; }

PyObject* function_class_cell(PyObject* function) { return PyTuple_GET_ITEM(as_function(function)->closure, 0); }

bool is_function_with_body(PyObject* object, FunctionBody body) {
    return Py_TYPE(object) == &function_type && as_function(object)->def->body == body;
}

}  // namespace pyext
