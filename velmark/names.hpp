// Interned strings that the methods use as attribute names, keys and texts.
// Made once per process; the interpreter keeps interned strings alive.
#pragma once

#include <Python.h>

namespace velmark {

struct Names {
    // attributes of the document and its records
    PyObject *dag, *policies, *groups, *sub, *obj, *act, *child, *parent;
    // methods reached through the object
    PyObject *dfs, *check_new_group, *dag_add_policy, *dag_add_group, *dag_set_policies, *dag_set_groups,
        *dag_generate, *add_permissions, *set_sub_permissions, *add_groups, *set_sub_groups, *get_role_contents,
        *save, *from_display, *fromkeys, *keys, *append, *extend, *init;
    // module globals
    PyObject *Policy, *Group, *RoleContent, *AclItem;
    // texts
    PyObject *public_role, *root, *admin, *any, *comma, *policies_key, *groups_key;
    // keyword names of the calls the methods make
    PyObject *policy_keywords;        // (sub, obj, act)
    PyObject *group_keywords;         // (child, parent)
    PyObject *contents_keywords;      // (name, roles, permissions)
    PyObject *implicit_keywords;      // (name, permissions)
    PyObject *role_name_keyword;      // (role_name,)
};

extern Names names;

int names_init();

}  // namespace velmark
