#include "pyext/super_call.hpp"

#include "pyext/ref.hpp"

namespace pyext {

PyObject* super_attribute(PyObject* cls, PyObject* self, PyObject* name) {
    if (!PyType_Check(cls)) {
        PyErr_Format(PyExc_RuntimeError, "super(): __class__ is not a type (%s)", Py_TYPE(cls)->tp_name);
        return nullptr;
    }
    PyObject* args[] = {cls, self};
    Ref proxy = Ref::steal(PyObject_Vectorcall(reinterpret_cast<PyObject*>(&PySuper_Type), args, 2, nullptr));
    return proxy ? PyObject_GetAttr(proxy.get(), name) : nullptr;
}

}  // namespace pyext
