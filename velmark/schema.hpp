// The class statements of the module body: `Policy`, `Group`, `RoleContent`
// and `Velmark`, each made through its base's metaclass.
#pragma once

#include "pyext/module_start.hpp"

namespace velmark {

int declare_classes(pyext::ModuleBody& body);

}  // namespace velmark
