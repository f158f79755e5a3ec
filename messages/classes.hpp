// The two class statements of the module body, in source order.
#pragma once

#include "pyext/module_start.hpp"

namespace messages {

// File name that every traceback entry of this module shows.
constexpr const char* source_name = "<messages>";

// `class AppNameField(StringField)` at line 6.  `class_cell` is the
// `__class__` cell of its initialiser; it is filled only once the metaclass
// has returned the class.
int declare_app_name_field(pyext::ModuleBody& body, PyObject* class_cell);

// `class UserBasicInfo(EmbeddedDocument)` at line 16.
int declare_user_basic_info(pyext::ModuleBody& body);

}  // namespace messages
