// `AppNameField`: a string field whose defaults describe application names.
// All it does is hand its arguments to the next initialiser in the
// instance's method resolution order, so subclasses and mixins compose as
// they would with a zero-argument `super()`.

#include <Python.h>

#include "classes.hpp"
#include "pyext/class_statement.hpp"
#include "pyext/function.hpp"
#include "pyext/super_call.hpp"

namespace messages {
namespace {

using pyext::ClassStatement;
using pyext::ModuleBody;
using pyext::Ref;

constexpr const char* default_description = "Application Name field";
constexpr const char* default_sample = "my-app-name";
constexpr const char* default_regex = "^[0-z]+(-[0-z]+)+$";

enum Parameter { self_arg, description_arg, sample_arg, regex_arg, kwargs_arg };

// Interned once; the interpreter keeps interned strings alive.
PyObject* interned(PyObject*& slot, const char* text) {
    if (slot == nullptr) slot = PyUnicode_InternFromString(text);
    return slot;
}

PyObject* initialiser_body(PyObject* function, PyObject* const* args) {
    static PyObject* init_name = nullptr;
    static PyObject* keyword_names[3] = {};
    PyObject* cell_content = PyCell_GET(pyext::function_cell(function, 0));
    if (cell_content == nullptr) {
        // The class statement has not finished: the metaclass (or a hook it
        // runs) called the initialiser before the class existed.
        PyErr_Format(PyExc_NameError, "free variable '%s' referenced before assignment in enclosing scope",
                     "__class__");
        return nullptr;
    }
    // Held: the cell may be rebound while the lookup below runs Python code.
    Ref cls = Ref::borrow(cell_content);
    if (interned(init_name, "__init__") == nullptr) return nullptr;
    Ref base_init = Ref::steal(pyext::super_attribute(cls.get(), args[self_arg], init_name));
    if (!base_init) return nullptr;

    // The three named parameters first, then the caller's extra keywords in
    // the order given.  Binding already refused a second value for any of
    // the three, so the merge cannot overwrite one.
    Ref keywords = Ref::steal(PyDict_New());
    if (!keywords) return nullptr;
    const char* texts[] = {"description", "sample", "regex"};
    for (int i = 0; i < 3; ++i) {
        if (interned(keyword_names[i], texts[i]) == nullptr ||
            PyDict_SetItem(keywords.get(), keyword_names[i], args[description_arg + i]) < 0) {
            return nullptr;
        }
    }
    if (PyDict_Update(keywords.get(), args[kwargs_arg]) < 0) return nullptr;
    Ref no_positional = Ref::steal(PyTuple_New(0));
    if (!no_positional) return nullptr;
    Ref result = Ref::steal(PyObject_Call(base_init.get(), no_positional.get(), keywords.get()));
    if (!result) return nullptr;
    Py_RETURN_NONE;
}

// Lines: the `def` at 8, the base call at 13.
const pyext::FunctionDef initialiser_def = {
    "__init__", {"self", "description", "sample", "regex", "kwargs"}, 5, true, {"__class__"}, 1,
    initialiser_body, 8, 13,
};

PyObject* make_initialiser(PyObject* globals, PyObject* class_cell) {
    Ref module_name = Ref::steal(pyext::lookup_global(globals, "__name__"));
    Ref qualname = Ref::steal(PyUnicode_FromString("AppNameField.__init__"));
    Ref defaults = Ref::steal(Py_BuildValue("(sss)", default_description, default_sample, default_regex));
    Ref annotations = Ref::steal(PyDict_New());
    Ref closure = Ref::steal(PyTuple_Pack(1, class_cell));
    if (!module_name || !qualname || !defaults || !annotations || !closure) return nullptr;
    pyext::FunctionParts parts{qualname.get(), module_name.get(), globals, nullptr,
                               defaults.get(), annotations.get(), closure.get(), source_name};
    return pyext::function_new(initialiser_def, parts);
}

int set_text(ClassStatement& statement, const char* key, const char* text) {
    Ref value = Ref::steal(PyUnicode_FromString(text));
    return value ? statement.set(key, value.get()) : -1;
}

}  // namespace

int declare_app_name_field(ModuleBody& body, PyObject* class_cell) {
    body.line = 6;
    ClassStatement statement(body.globals, "AppNameField");
    if (statement.begin("StringField") < 0 || statement.set_module_name() < 0 ||
        set_text(statement, "__doc__", "App Name field") < 0 ||
        set_text(statement, "__qualname__", "AppNameField") < 0) {
        return -1;
    }
    Ref initialiser = Ref::steal(make_initialiser(body.globals, class_cell));
    if (!initialiser || statement.set("__init__", initialiser.get()) < 0) {
        body.class_body_failed("AppNameField", 8);
        return -1;
    }
    // The cell is filled only now, never through the namespace, so the
    // metaclass never sees it.
    Ref cls = Ref::steal(statement.finish());
    if (!cls || PyCell_Set(class_cell, cls.get()) < 0) return -1;
    return PyDict_SetItemString(body.globals, "AppNameField", cls.get());
}

}  // namespace messages
