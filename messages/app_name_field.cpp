// `AppNameField.__init__`: hands its arguments to the next initialiser in the
// instance's method resolution order, as a zero-argument `super()` would, so
// subclasses and mixins compose.

#include <Python.h>

#include "classes.hpp"
#include "pyext/function.hpp"
#include "pyext/names.hpp"
#include "pyext/super_call.hpp"

namespace messages {
namespace {

using pyext::names;
using pyext::Ref;

enum Parameter { self_arg, description_arg, sample_arg, regex_arg, kwargs_arg };

}  // namespace

Ref app_name_field_init(PyObject* function, PyObject* const* args) {
    PyObject* cell_content = PyCell_GET(pyext::function_class_cell(function));
    if (cell_content == nullptr) {
        // The class statement has not finished: the metaclass (or a hook it
        // runs) called the initialiser before the class existed.
        PyErr_Format(PyExc_NameError, "free variable '%s' referenced before assignment in enclosing scope",
                     "__class__");
        return Ref();
    }
    // Held: the cell may be rebound while the lookup below runs Python code.
    Ref cls = Ref::borrow(cell_content);
    Ref base_init = pyext::super_attribute(cls.get(), args[self_arg], names.dunder_init);
    if (!base_init) return Ref();

    // The three named parameters first, then the caller's extra keywords in
    // the order given.  Binding already refused a second value for any of
    // the three, so the merge cannot overwrite one.
    Ref keywords = Ref::steal(PyDict_New());
    if (!keywords || PyDict_SetItem(keywords.get(), names.description, args[description_arg]) < 0 ||
        PyDict_SetItem(keywords.get(), names.sample, args[sample_arg]) < 0 ||
        PyDict_SetItem(keywords.get(), names.regex, args[regex_arg]) < 0 ||
        PyDict_Update(keywords.get(), args[kwargs_arg]) < 0) {
        return Ref();
    }
    Ref no_positional = Ref::steal(PyTuple_New(0));
    if (!no_positional || !Ref::steal(PyObject_Call(base_init.get(), no_positional.get(), keywords.get()))) {
        return Ref();
    }
    return Ref::borrow(Py_None);
}

}  // namespace messages
