// The bodies of the methods of `Velmark`.  Each receives its function object
// and the bound arguments, `args[0]` being the document, and answers the
// method's result (null with an error set on failure).
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace velmark {

using pyext::Ref;

// role graph
Ref init_body(PyObject* function, PyObject* const* args);
Ref dag_add_policy_body(PyObject* function, PyObject* const* args);
Ref dag_set_policies_body(PyObject* function, PyObject* const* args);
Ref dag_add_group_body(PyObject* function, PyObject* const* args);
Ref dag_set_groups_body(PyObject* function, PyObject* const* args);
Ref dag_generate_body(PyObject* function, PyObject* const* args);
// walk and cycle check
Ref dfs_body(PyObject* function, PyObject* const* args);
Ref check_new_group_body(PyObject* function, PyObject* const* args);
// permission updates
Ref add_permissions_body(PyObject* function, PyObject* const* args);
Ref set_sub_permissions_body(PyObject* function, PyObject* const* args);
Ref add_role_permissions_body(PyObject* function, PyObject* const* args);
Ref set_role_permissions_body(PyObject* function, PyObject* const* args);
// sub-role updates
Ref add_groups_body(PyObject* function, PyObject* const* args);
Ref set_sub_groups_body(PyObject* function, PyObject* const* args);
Ref add_role_sub_roles_body(PyObject* function, PyObject* const* args);
Ref set_role_sub_roles_body(PyObject* function, PyObject* const* args);
// queries
Ref get_role_contents_body(PyObject* function, PyObject* const* args);
Ref get_implicit_permissions_body(PyObject* function, PyObject* const* args);

}  // namespace velmark
