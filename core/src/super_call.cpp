#include "pyext/super_call.hpp"

#include "pyext/calls.hpp"

namespace pyext {

Ref super_attribute(PyObject* cls, PyObject* self, PyObject* name) {
    if (!PyType_Check(cls)) {
        PyErr_Format(PyExc_RuntimeError, "super(): __class__ is not a type (%s)", Py_TYPE(cls)->tp_name);
        return Ref();
    }
    Ref proxy = call_function(reinterpret_cast<PyObject*>(&PySuper_Type), cls, self);
    return proxy ? Ref::steal(PyObject_GetAttr(proxy.get(), name)) : Ref();
}

}  // namespace pyext
