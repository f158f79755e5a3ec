// The record classes and the document class, declared for the engine.

#include "schema.hpp"

#include "methods.hpp"
#include "pyext/class_body.hpp"
#include "pyext/names.hpp"

namespace velmark {
namespace {

using pyext::Annotations;
using pyext::Call;
using pyext::ClassBody;
using pyext::ClassDeclaration;
using pyext::Field;
using pyext::FunctionDef;
using pyext::Parameter;
using pyext::typed;
using pyext::Value;
using pyext::names;

constexpr const char* role_name_pattern = "^(?=[A-Za-z0-9])(?!.*__)[A-Za-z0-9_]{1,18}[A-Za-z0-9]$";
constexpr const char* app_name_pattern = "^(?=[A-Za-z0-9])(?!.*--)[A-Za-z0-9-]{1,18}[A-Za-z0-9]$";

constexpr Call string_field("StringField");
constexpr Call required_string = string_field.with("required", Value::yes());
constexpr Call role_name_string = required_string.with("regex", Value::text(role_name_pattern));
constexpr Call list_field("ListField");
constexpr Call record_field("EmbeddedDocumentField");

// A list field with a description and a fresh empty list as its default.
constexpr Call described_list(const char* description) {
    return list_field.with("description", Value::text(description)).with("default", Value::new_list());
}

// ---------------------------------------------------------------------------
// The records.

constexpr Field policy_fields[] = {
    Field("sub").at(10).annotated("str").made_by(required_string),
    Field("obj").at(11).annotated("str").made_by(required_string),
    Field("act").at(12).annotated("str").made_by(required_string),
};

constexpr Field group_fields[] = {
    Field("child").at(16).annotated("str").made_by(role_name_string),
    Field("parent").at(17).annotated("str").made_by(role_name_string),
};

constexpr Field role_content_fields[] = {
    Field("name").at(21).annotated("str").made_by(string_field.with("sample", Value::text("user_admin"))
                                                      .with("description", Value::text("Role Name"))
                                                      .with("regex", Value::text(role_name_pattern))),
    Field("roles").at(22).annotated("list").made_by(described_list("Contained Roles"))
        .of_items(string_field.with("regex", Value::text(role_name_pattern))),
    Field("permissions").at(23).annotated("list").made_by(described_list("Contained Permissions"))
        .of_items(record_field.given(Value::name("AclItem"))),
};

// ---------------------------------------------------------------------------
// The document.

constexpr Field velmark_fields[] = {
    Field("name").at(43).annotated("str").made_by(string_field.with("description", Value::text("Application Name"))
                                                      .with("unique", Value::yes())
                                                      .with("regex", Value::text(app_name_pattern))),
    Field("policies").at(44).annotated("list").made_by(list_field)
        .of_items(record_field.with("document_type", Value::name("Policy"))),
    Field("groups").at(45).annotated("list").made_by(list_field)
        .of_items(record_field.with("document_type", Value::name("Group"))),
    Field("new_user_fields").at(46).annotated("list").made_by(described_list("Needed new user's information"))
        .of_items(string_field),
    Field("new_user_roles").at(47).annotated("list").made_by(described_list("Default roles for new user"))
        .of_items(string_field),
    Field("new_user_profile").at(48).annotated("dict")
        .made_by(Call("DictField").with("description", Value::text("New user's profile"))),
    Field("callback_urls").at(49).annotated("list").made_by(described_list("List of authorized callback Url"))
        .of_items(string_field),
};

constexpr const char* velmark_doc =
    "Permission organization of an application. This object only contains the role and role contents\n"
    "\n"
    "    Rules:\n"
    "        * Each user could only be assigned to a role\n"
    "    ";

constexpr const char* dfs_doc =
    "Deep First Search\n\n        Args:\n            start: start point\n            discovered: a dictionary "
    "[point, discovered] to mark if a point could be reached from start point\n\n        Returns:\n            "
    "discovered record after searching.\n        ";
constexpr const char* check_new_group_doc =
    "Check if new added group will break DAG (making a circular)\n\n        Args:\n            new_group: New group "
    "to be added into DAG\n\n        Returns:\n            True if the new group is safe else False\n        ";
constexpr const char* get_role_contents_doc =
    "Get Role Contents\n\n        Args:\n            role_name: Name of role\n            _acl: Access Control "
    "List\n\n        Returns:\n            Role Content object\n        ";
constexpr const char* implicit_permissions_doc =
    "Get full recursive permission of a list of roles\n\n        Args:\n            role_names (:obj:`list`): Role "
    "list\n            _acl: Access Control List\n\n        Returns:\n            Role Content object of all "
    "implicit permissions\n        ";

// A method whose parameters are `self` and `params`.
constexpr FunctionDef method(const char* name, pyext::FunctionBody body, std::initializer_list<Parameter> params) {
    return FunctionDef(name, body).taking({"self"}).taking(params);
}

// One of the operations the engine calls: it ends with `_acl=None`, which it
// accepts and never reads.
constexpr FunctionDef operation(const char* name, pyext::FunctionBody body, std::initializer_list<Parameter> params) {
    return method(name, body, params).taking({"_acl"}).defaulting({Value::none()});
}

constexpr FunctionDef velmark_methods[] = {
    FunctionDef("__init__", init_body).taking({"self"}).collecting_keywords("kwargs").closing_over_class().at(51),
    method("_dag_add_policy", dag_add_policy_body, {typed("policy", "Policy")}).at(60),
    method("_dag_set_policies", dag_set_policies_body, {"sub", typed("policies", "list")}).at(68),
    method("_dag_add_group", dag_add_group_body, {typed("group", "Group")}).at(75),
    method("_dag_set_groups", dag_set_groups_body, {typed("child", "str"), typed("groups", "list")}).at(83),
    method("_dag_generate", dag_generate_body, {}).at(90),
    method("_dfs", dfs_body, {typed("start", "str"), typed("discovered", "dict")})
        .returning("dict").documented(dfs_doc).at(98),
    method("_check_new_group", check_new_group_body, {typed("new_group", "Group")})
        .returning("bool").documented(check_new_group_doc).at(117),
    method("_add_permissions", add_permissions_body, {typed("sub", "str"), typed("permissions", "list")}).at(134),
    method("_add_groups", add_groups_body, {typed("child", "str"), typed("parents", "list")}).at(142),
    method("_set_sub_permissions", set_sub_permissions_body, {typed("sub", "str"), typed("permissions", "list")})
        .at(152),
    method("_set_sub_groups", set_sub_groups_body, {typed("child", "str"), typed("parents", "list")}).at(163),
    operation("get_role_contents", get_role_contents_body, {typed("role_name", "str")})
        .documented(get_role_contents_doc).at(183),
    operation("add_role_permissions", add_role_permissions_body,
              {typed("role_name", "str"), typed("permissions", "list")}).at(204),
    operation("set_role_permissions", set_role_permissions_body,
              {typed("role_name", "str"), typed("permissions", "list")}).at(211),
    operation("add_role_sub_roles", add_role_sub_roles_body,
              {typed("role_name", "str"), typed("sub_role_names", "list")}).at(218),
    operation("set_role_sub_roles", set_role_sub_roles_body,
              {typed("role_name", "str"), typed("sub_role_names", "list")}).at(224),
    operation("get_implicit_permissions_for_roles", get_implicit_permissions_body, {typed("role_names", "list")})
        .documented(implicit_permissions_doc).at(230),
};

// The operations declared to the engine, each with whether it takes
// `permissions` records, in declaration order.
const struct {
    const char* name;
    bool takes_permissions;
} actions[] = {
    {"get_role_contents", false},  {"add_role_permissions", true}, {"set_role_permissions", true},
    {"add_role_sub_roles", false}, {"set_role_sub_roles", false},  {"get_implicit_permissions_for_roles", false},
};

// {operation: {"out": RoleContent[, "in": {"permissions": AclItem}]}}, the
// classes looked up afresh for every entry.
Ref build_actions(ClassBody& body) {
    Ref actions_dict = Ref::steal(PyDict_New());
    if (!actions_dict) return Ref();
    for (const auto& action : actions) {
        Ref entry = Ref::steal(PyDict_New());
        Ref out = body.lookup(names.RoleContent);
        if (!entry || !out || PyDict_SetItemString(entry.get(), "out", out.get()) < 0) return Ref();
        if (action.takes_permissions) {
            Ref inputs = Ref::steal(PyDict_New());
            Ref acl_item = body.lookup(names.AclItem);
            if (!inputs || !acl_item || PyDict_SetItem(inputs.get(), names.permissions, acl_item.get()) < 0 ||
                PyDict_SetItemString(entry.get(), "in", inputs.get()) < 0) {
                return Ref();
            }
        }
        if (PyDict_SetItemString(actions_dict.get(), action.name, entry.get()) < 0) return Ref();
    }
    return actions_dict;
}

// `_key_fields` and `_actions`, the engine's metadata, before the fields.
int velmark_attributes(ClassBody& body) {
    if (body.set_at(33, "_key_fields", Ref::steal(Py_BuildValue("[s]", "name"))) < 0) return -1;
    return body.set_at(34, "_actions", build_actions(body));
}

constexpr ClassDeclaration record(const char* name) {
    return ClassDeclaration(name).derived_from("EmbeddedDocument").annotated(Annotations::Texts);
}

constexpr ClassDeclaration classes[] = {
    record("Policy").at(9).with_fields(policy_fields),
    record("Group").at(15).with_fields(group_fields),
    record("RoleContent").at(20).with_fields(role_content_fields),
    ClassDeclaration("Velmark").derived_from("Document").at(26).documented(velmark_doc)
        .annotated(Annotations::Texts).with_attributes(velmark_attributes)
        .with_fields(velmark_fields).with_methods(velmark_methods),
};

}  // namespace

int declare_classes(pyext::ModuleBody& body) { return pyext::declare_classes(body, classes); }

}  // namespace velmark
