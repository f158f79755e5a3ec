// The strings our code hands the interpreter again and again (attribute
// names, keys, keywords, texts), interned once per process and kept for its
// life.  One table for both modules: a name added here is made at start-up
// and read as `names.<member>`.
#pragma once

#include <Python.h>

#define PYEXT_NAMES(X)                                  \
    /* module start-up and class statements */          \
    X(dunder_import, "__import__")                      \
    X(dunder_name, "__name__")                          \
    X(dunder_module, "__module__")                      \
    X(dunder_qualname, "__qualname__")                  \
    X(dunder_doc, "__doc__")                            \
    X(dunder_spec, "__spec__")                          \
    X(dunder_orig_bases, "__orig_bases__")              \
    X(dunder_init, "__init__")                          \
    X(dunder_class, "__class__")                        \
    X(dunder_annotations, "__annotations__")            \
    X(dunder_mro_entries, "__mro_entries__")            \
    X(dunder_prepare, "__prepare__")                    \
    /* the document and its records */                  \
    X(dag, "dag")                                       \
    X(policies, "policies")                             \
    X(groups, "groups")                                 \
    X(sub, "sub")                                       \
    X(obj, "obj")                                       \
    X(act, "act")                                       \
    X(child, "child")                                   \
    X(parent, "parent")                                 \
    X(name, "name")                                     \
    X(roles, "roles")                                   \
    X(permissions, "permissions")                       \
    X(role_name, "role_name")                           \
    /* methods reached through an object */             \
    X(dfs, "_dfs")                                      \
    X(check_new_group, "_check_new_group")              \
    X(dag_add_policy, "_dag_add_policy")                \
    X(dag_add_group, "_dag_add_group")                  \
    X(dag_set_policies, "_dag_set_policies")            \
    X(dag_set_groups, "_dag_set_groups")                \
    X(dag_generate, "_dag_generate")                    \
    X(add_permissions, "_add_permissions")              \
    X(set_sub_permissions, "_set_sub_permissions")      \
    X(add_groups, "_add_groups")                        \
    X(set_sub_groups, "_set_sub_groups")                \
    X(get_role_contents, "get_role_contents")           \
    X(save, "save")                                     \
    X(from_display, "from_display")                     \
    X(fromkeys, "fromkeys")                             \
    X(keys, "keys")                                     \
    X(append, "append")                                 \
    X(extend, "extend")                                 \
    /* module globals the methods read */               \
    X(Policy, "Policy")                                 \
    X(Group, "Group")                                   \
    X(RoleContent, "RoleContent")                       \
    X(AclItem, "AclItem")                               \
    /* texts */                                         \
    X(public_role, "public")                            \
    X(root, "root")                                     \
    X(admin, "admin")                                   \
    X(any, "*")                                         \
    X(comma, ",")                                       \
    /* keywords of `AppNameField.__init__` */           \
    X(description, "description")                       \
    X(sample, "sample")                                 \
    X(regex, "regex")

namespace pyext {

struct Names {
#define PYEXT_NAME_MEMBER(member, text) PyObject* member = nullptr;
    PYEXT_NAMES(PYEXT_NAME_MEMBER)
#undef PYEXT_NAME_MEMBER
};

extern Names names;

// Makes every name that is not made yet; 0, or -1 with an error set.
int names_init();

}  // namespace pyext
