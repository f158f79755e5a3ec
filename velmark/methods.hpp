// The bodies of the methods of `Velmark`.  Each receives its function object
// and the bound arguments, `args[0]` being the document.
#pragma once

#include <Python.h>

namespace velmark {

// role graph
PyObject* init_body(PyObject* function, PyObject* const* args);
PyObject* dag_add_policy_body(PyObject* function, PyObject* const* args);
PyObject* dag_set_policies_body(PyObject* function, PyObject* const* args);
PyObject* dag_add_group_body(PyObject* function, PyObject* const* args);
PyObject* dag_set_groups_body(PyObject* function, PyObject* const* args);
PyObject* dag_generate_body(PyObject* function, PyObject* const* args);
// walk and cycle check
PyObject* dfs_body(PyObject* function, PyObject* const* args);
PyObject* check_new_group_body(PyObject* function, PyObject* const* args);
// permission updates
PyObject* add_permissions_body(PyObject* function, PyObject* const* args);
PyObject* set_sub_permissions_body(PyObject* function, PyObject* const* args);
PyObject* add_role_permissions_body(PyObject* function, PyObject* const* args);
PyObject* set_role_permissions_body(PyObject* function, PyObject* const* args);
// sub-role updates
PyObject* add_groups_body(PyObject* function, PyObject* const* args);
PyObject* set_sub_groups_body(PyObject* function, PyObject* const* args);
PyObject* add_role_sub_roles_body(PyObject* function, PyObject* const* args);
PyObject* set_role_sub_roles_body(PyObject* function, PyObject* const* args);
// queries
PyObject* get_role_contents_body(PyObject* function, PyObject* const* args);
PyObject* get_implicit_permissions_body(PyObject* function, PyObject* const* args);

}  // namespace velmark
