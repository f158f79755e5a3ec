#include "pyext/declaration.hpp"

namespace pyext {

Ref constant_object(const Value& value) {
    switch (value.kind) {
        case Value::Kind::None: return Ref::borrow(Py_None);
        case Value::Kind::True: return Ref::borrow(Py_True);
        case Value::Kind::Text: return Ref::steal(PyUnicode_FromString(value.text_or_name));
        case Value::Kind::NewList: return Ref::steal(PyList_New(0));
        case Value::Kind::Absent:
        case Value::Kind::Name: break;
    }
    PyErr_SetString(PyExc_SystemError, "value is not a constant");
    return Ref();
}

}  // namespace pyext
