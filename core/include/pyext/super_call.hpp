// The next class's attribute after `cls` in the method resolution order of
// `self`'s type, as `super(cls, self).<name>` finds it.
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace pyext {

// A `cls` that is not a class raises the RuntimeError of zero-argument
// `super()`; the interpreter's `super` raises its own errors.
Ref super_attribute(PyObject* cls, PyObject* self, PyObject* name);

}  // namespace pyext
