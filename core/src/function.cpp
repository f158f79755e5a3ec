#include "pyext/function.hpp"

#include <structmember.h>

#include <cstddef>

#include "pyext/binding.hpp"
#include "pyext/boundary.hpp"
#include "pyext/traceback.hpp"

namespace pyext {
namespace {

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
    PyObject* annotations;  // dict
    PyObject* closure;      // tuple or null
    PyObject* varnames;     // tuple of parameter names
    PyObject* filename;
    PyObject* code;         // `__code__`, made on first use
    PyObject* entry_code;   // traceback entry code, made on first failure
    PyObject* dict;
    PyObject* weakrefs;
};

FunctionObject* as_function(PyObject* op) { return reinterpret_cast<FunctionObject*>(op); }

// ---------------------------------------------------------------------------
// Failure entry: the frame shows the bound arguments and the closure's cells.

PyObject* failure_locals(FunctionObject* f, PyObject* const* args) {
    Ref locals = Ref::steal(PyDict_New());
    if (!locals) return nullptr;
    for (int i = 0; i < f->def->nparams; ++i) {
        if (args[i] == nullptr) continue;
        if (PyDict_SetItem(locals.get(), PyTuple_GET_ITEM(f->varnames, i), args[i]) < 0) return nullptr;
    }
    for (int i = 0; i < f->def->nfreevars && f->closure != nullptr; ++i) {
        PyObject* content = PyCell_GET(PyTuple_GET_ITEM(f->closure, i));
        if (content == nullptr) continue;
        if (PyDict_SetItemString(locals.get(), f->def->freevars[i], content) < 0) return nullptr;
    }
    return locals.release();
}

void add_failure_entry(FunctionObject* f, PyObject* const* args) {
    PendingError pending;
    if (f->entry_code == nullptr) {
        const char* filename = PyUnicode_AsUTF8(f->filename);
        if (filename != nullptr) f->entry_code = entry_code_new(filename, f->def->name, f->def->body_line);
    }
    Ref locals = Ref::steal(failure_locals(f, args));
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
    PyObject* result = call_guarded<PyObject*>(nullptr, [&] { return f->def->body(self, args); });
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
// `__code__`: a code object that carries the parameters, for introspection.

PyObject* make_code(FunctionObject* f) {
    const FunctionDef& def = *f->def;
    Ref freevars = Ref::steal(PyTuple_New(def.nfreevars));
    if (!freevars) return nullptr;
    for (int i = 0; i < def.nfreevars; ++i) {
        PyObject* name = PyUnicode_InternFromString(def.freevars[i]);
        if (name == nullptr) return nullptr;
        PyTuple_SET_ITEM(freevars.get(), i, name);
    }
    Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
    Ref empty_tuple = Ref::steal(PyTuple_New(0));
    if (!empty_bytes || !empty_tuple) return nullptr;
    int flags = CO_OPTIMIZED | CO_NEWLOCALS | (def.varkeywords ? CO_VARKEYWORDS : 0) |
                (def.nfreevars > 0 ? CO_NESTED : 0);
    int argcount = def.nparams - (def.varkeywords ? 1 : 0);
    return reinterpret_cast<PyObject*>(PyCode_NewWithPosOnlyArgs(
        argcount, 0, 0, def.nparams, 0, flags, empty_bytes.get(), empty_tuple.get(), empty_tuple.get(),
        f->varnames, freevars.get(), empty_tuple.get(), f->filename, f->name, def.first_line,
        empty_bytes.get()));
}

PyObject* function_get_code(PyObject* self, void*) {
    FunctionObject* f = as_function(self);
    if (f->code == nullptr && (f->code = make_code(f)) == nullptr) return nullptr;
    Py_INCREF(f->code);
    return f->code;
}

PyObject* none_if_null(PyObject* value) {
    if (value == nullptr) value = Py_None;
    Py_INCREF(value);
    return value;
}

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
    if (instance == nullptr || instance == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, instance);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* f = as_function(self);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->globals);
    Py_VISIT(f->defaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->closure);
    Py_VISIT(f->varnames);
    Py_VISIT(f->filename);
    Py_VISIT(f->code);
    Py_VISIT(f->entry_code);
    Py_VISIT(f->dict);
    return 0;
}

int function_clear(PyObject* self) {
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->closure);
    Py_CLEAR(f->varnames);
    Py_CLEAR(f->filename);
    Py_CLEAR(f->code);
    Py_CLEAR(f->entry_code);
    Py_CLEAR(f->dict);
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

PyObject* varnames_new(const FunctionDef& def) {
    Ref names = Ref::steal(PyTuple_New(def.nparams));
    if (!names) return nullptr;
    for (int i = 0; i < def.nparams; ++i) {
        PyObject* name = PyUnicode_InternFromString(def.params[i]);
        if (name == nullptr) return nullptr;
        PyTuple_SET_ITEM(names.get(), i, name);
    }
    return names.release();
}

}  // namespace

int function_type_ready() { return PyType_Ready(&function_type); }

PyObject* function_new(const FunctionDef& def, const FunctionParts& parts) {
    Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
    Ref varnames = Ref::steal(varnames_new(def));
    Ref filename = Ref::steal(PyUnicode_FromString(parts.filename));
    if (!name || !varnames || !filename) return nullptr;
    FunctionObject* f = PyObject_GC_New(FunctionObject, &function_type);
    if (f == nullptr) return nullptr;
    f->vectorcall = function_vectorcall;
    f->def = &def;
    f->name = name.release();
    f->qualname = Ref::borrow(parts.qualname).release();
    f->module = Ref::borrow(parts.module_name).release();
    f->doc = Ref::borrow(parts.doc != nullptr ? parts.doc : Py_None).release();
    f->globals = Ref::borrow(parts.globals).release();
    f->defaults = Ref::borrow(parts.defaults).release();
    f->annotations = Ref::borrow(parts.annotations).release();
    f->closure = Ref::borrow(parts.closure).release();
    f->varnames = varnames.release();
    f->filename = filename.release();
    f->code = nullptr;
    f->entry_code = nullptr;
    f->dict = nullptr;
    f->weakrefs = nullptr;
    PyObject_GC_Track(f);
    return reinterpret_cast<PyObject*>(f);
}

PyObject* function_globals(PyObject* function) { return as_function(function)->globals; }

PyObject* function_cell(PyObject* function, int index) {
    return PyTuple_GET_ITEM(as_function(function)->closure, index);
}

bool is_function_with_body(PyObject* object, FunctionBody body) {
    return Py_TYPE(object) == &function_type && as_function(object)->def->body == body;
}

}  // namespace pyext
