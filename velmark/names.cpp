#include "names.hpp"

#include <initializer_list>

namespace velmark {

Names names;

namespace {

bool intern(PyObject*& slot, const char* text) {
    if (slot == nullptr) slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

bool keywords(PyObject*& slot, std::initializer_list<const char*> texts) {
    if (slot != nullptr) return true;
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(texts.size()));
    if (tuple == nullptr) return false;
    Py_ssize_t i = 0;
    for (const char* text : texts) {
        PyObject* name = PyUnicode_InternFromString(text);
        if (name == nullptr) {
            Py_DECREF(tuple);
            return false;
        }
        PyTuple_SET_ITEM(tuple, i++, name);
    }
    slot = tuple;
    return true;
}

}  // namespace

int names_init() {
    Names& n = names;
    bool ok = intern(n.dag, "dag") && intern(n.policies, "policies") && intern(n.groups, "groups") &&
              intern(n.sub, "sub") && intern(n.obj, "obj") && intern(n.act, "act") && intern(n.child, "child") &&
              intern(n.parent, "parent") && intern(n.dfs, "_dfs") && intern(n.check_new_group, "_check_new_group") &&
              intern(n.dag_add_policy, "_dag_add_policy") && intern(n.dag_add_group, "_dag_add_group") &&
              intern(n.dag_set_policies, "_dag_set_policies") && intern(n.dag_set_groups, "_dag_set_groups") &&
              intern(n.dag_generate, "_dag_generate") && intern(n.add_permissions, "_add_permissions") &&
              intern(n.set_sub_permissions, "_set_sub_permissions") && intern(n.add_groups, "_add_groups") &&
              intern(n.set_sub_groups, "_set_sub_groups") && intern(n.get_role_contents, "get_role_contents") &&
              intern(n.save, "save") && intern(n.from_display, "from_display") && intern(n.fromkeys, "fromkeys") &&
              intern(n.keys, "keys") && intern(n.append, "append") && intern(n.extend, "extend") &&
              intern(n.init, "__init__") && intern(n.Policy, "Policy") && intern(n.Group, "Group") &&
              intern(n.RoleContent, "RoleContent") && intern(n.AclItem, "AclItem") &&
              intern(n.public_role, "public") && intern(n.root, "root") && intern(n.admin, "admin") &&
              intern(n.any, "*") && intern(n.comma, ",") && intern(n.policies_key, "policies") &&
              intern(n.groups_key, "groups") && keywords(n.policy_keywords, {"sub", "obj", "act"}) &&
              keywords(n.group_keywords, {"child", "parent"}) &&
              keywords(n.contents_keywords, {"name", "roles", "permissions"}) &&
              keywords(n.implicit_keywords, {"name", "permissions"}) &&
              keywords(n.role_name_keyword, {"role_name"});
    return ok ? 0 : -1;
}

}  // namespace velmark
