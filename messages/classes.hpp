// The two class statements of the module body, `AppNameField` at line 6 and
// `UserBasicInfo` at line 16.
#pragma once

#include "pyext/module_start.hpp"

namespace messages {

int declare_classes(pyext::ModuleBody& body);

// The body of `AppNameField.__init__`.
pyext::Ref app_name_field_init(PyObject* function, PyObject* const* args);

}  // namespace messages
