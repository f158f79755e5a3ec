// The record classes and the document class, declared for the engine.
//
// Lines below are those of the module's source listing; a failure reports
// the line of the statement that failed, in the module body's traceback
// entry and, for a statement inside a class body, in that body's entry.

#include "schema.hpp"

#include "methods.hpp"
#include "pyext/field_declaration.hpp"
#include "pyext/function.hpp"

namespace velmark {
namespace {

using pyext::AnnotationKind;
using pyext::ClassStatement;
using pyext::FieldDeclaration;
using pyext::ModuleBody;
using pyext::OptionValue;
using pyext::Ref;

constexpr const char* role_name_pattern = "^(?=[A-Za-z0-9])(?!.*__)[A-Za-z0-9_]{1,18}[A-Za-z0-9]$";
constexpr const char* app_name_pattern = "^(?=[A-Za-z0-9])(?!.*--)[A-Za-z0-9-]{1,18}[A-Za-z0-9]$";

const FieldDeclaration policy_fields[] = {
    {"sub", 10, "str", "StringField", {{"required", OptionValue::True}}, 1},
    {"obj", 11, "str", "StringField", {{"required", OptionValue::True}}, 1},
    {"act", 12, "str", "StringField", {{"required", OptionValue::True}}, 1},
};

const FieldDeclaration group_fields[] = {
    {"child", 16, "str", "StringField",
     {{"required", OptionValue::True}, {"regex", OptionValue::Text, role_name_pattern}}, 2},
    {"parent", 17, "str", "StringField",
     {{"required", OptionValue::True}, {"regex", OptionValue::Text, role_name_pattern}}, 2},
};

const FieldDeclaration role_content_fields[] = {
    {"name", 21, "str", "StringField",
     {{"sample", OptionValue::Text, "user_admin"},
      {"description", OptionValue::Text, "Role Name"},
      {"regex", OptionValue::Text, role_name_pattern}},
     3},
    {"roles", 22, "list", "ListField",
     {{"description", OptionValue::Text, "Contained Roles"}, {"default", OptionValue::NewList}}, 2,
     "StringField", {{"regex", OptionValue::Text, role_name_pattern}}, 1},
    {"permissions", 23, "list", "ListField",
     {{"description", OptionValue::Text, "Contained Permissions"}, {"default", OptionValue::NewList}}, 2,
     "EmbeddedDocumentField", {}, 0, "AclItem", false},
};

const FieldDeclaration velmark_fields[] = {
    {"name", 43, "str", "StringField",
     {{"description", OptionValue::Text, "Application Name"},
      {"unique", OptionValue::True},
      {"regex", OptionValue::Text, app_name_pattern}},
     3},
    {"policies", 44, "list", "ListField", {}, 0, "EmbeddedDocumentField", {}, 0, "Policy", true},
    {"groups", 45, "list", "ListField", {}, 0, "EmbeddedDocumentField", {}, 0, "Group", true},
    {"new_user_fields", 46, "list", "ListField",
     {{"description", OptionValue::Text, "Needed new user's information"}, {"default", OptionValue::NewList}}, 2,
     "StringField"},
    {"new_user_roles", 47, "list", "ListField",
     {{"description", OptionValue::Text, "Default roles for new user"}, {"default", OptionValue::NewList}}, 2,
     "StringField"},
    {"new_user_profile", 48, "dict", "DictField", {{"description", OptionValue::Text, "New user's profile"}}, 1},
    {"callback_urls", 49, "list", "ListField",
     {{"description", OptionValue::Text, "List of authorized callback Url"}, {"default", OptionValue::NewList}}, 2,
     "StringField"},
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

struct Annotation {
    const char* parameter;
    const char* text;
};

struct MethodRow {
    pyext::FunctionDef def;
    const char* doc;
    bool public_operation;  // ends with `_acl=None`
    Annotation annotations[3];
    int nannotations;
};

const MethodRow method_rows[] = {
    {{"__init__", {"self", "kwargs"}, 2, true, {"__class__"}, 1, init_body, 51, 51}, nullptr, false, {}, 0},
    {{"_dag_add_policy", {"self", "policy"}, 2, false, {}, 0, dag_add_policy_body, 60, 60},
     nullptr, false, {{"policy", "Policy"}}, 1},
    {{"_dag_set_policies", {"self", "sub", "policies"}, 3, false, {}, 0, dag_set_policies_body, 68, 68},
     nullptr, false, {{"policies", "list"}}, 1},
    {{"_dag_add_group", {"self", "group"}, 2, false, {}, 0, dag_add_group_body, 75, 75},
     nullptr, false, {{"group", "Group"}}, 1},
    {{"_dag_set_groups", {"self", "child", "groups"}, 3, false, {}, 0, dag_set_groups_body, 83, 83},
     nullptr, false, {{"child", "str"}, {"groups", "list"}}, 2},
    {{"_dag_generate", {"self"}, 1, false, {}, 0, dag_generate_body, 90, 90}, nullptr, false, {}, 0},
    {{"_dfs", {"self", "start", "discovered"}, 3, false, {}, 0, dfs_body, 98, 98},
     dfs_doc, false, {{"start", "str"}, {"discovered", "dict"}, {"return", "dict"}}, 3},
    {{"_check_new_group", {"self", "new_group"}, 2, false, {}, 0, check_new_group_body, 117, 117},
     check_new_group_doc, false, {{"new_group", "Group"}, {"return", "bool"}}, 2},
    {{"_add_permissions", {"self", "sub", "permissions"}, 3, false, {}, 0, add_permissions_body, 134, 134},
     nullptr, false, {{"sub", "str"}, {"permissions", "list"}}, 2},
    {{"_add_groups", {"self", "child", "parents"}, 3, false, {}, 0, add_groups_body, 142, 142},
     nullptr, false, {{"child", "str"}, {"parents", "list"}}, 2},
    {{"_set_sub_permissions", {"self", "sub", "permissions"}, 3, false, {}, 0, set_sub_permissions_body, 152, 152},
     nullptr, false, {{"sub", "str"}, {"permissions", "list"}}, 2},
    {{"_set_sub_groups", {"self", "child", "parents"}, 3, false, {}, 0, set_sub_groups_body, 163, 163},
     nullptr, false, {{"child", "str"}, {"parents", "list"}}, 2},
    {{"get_role_contents", {"self", "role_name", "_acl"}, 3, false, {}, 0, get_role_contents_body, 183, 183},
     get_role_contents_doc, true, {{"role_name", "str"}}, 1},
    {{"add_role_permissions", {"self", "role_name", "permissions", "_acl"}, 4, false, {}, 0,
      add_role_permissions_body, 204, 204},
     nullptr, true, {{"role_name", "str"}, {"permissions", "list"}}, 2},
    {{"set_role_permissions", {"self", "role_name", "permissions", "_acl"}, 4, false, {}, 0,
      set_role_permissions_body, 211, 211},
     nullptr, true, {{"role_name", "str"}, {"permissions", "list"}}, 2},
    {{"add_role_sub_roles", {"self", "role_name", "sub_role_names", "_acl"}, 4, false, {}, 0,
      add_role_sub_roles_body, 218, 218},
     nullptr, true, {{"role_name", "str"}, {"sub_role_names", "list"}}, 2},
    {{"set_role_sub_roles", {"self", "role_name", "sub_role_names", "_acl"}, 4, false, {}, 0,
      set_role_sub_roles_body, 224, 224},
     nullptr, true, {{"role_name", "str"}, {"sub_role_names", "list"}}, 2},
    {{"get_implicit_permissions_for_roles", {"self", "role_names", "_acl"}, 3, false, {}, 0,
      get_implicit_permissions_body, 230, 230},
     implicit_permissions_doc, true, {{"role_names", "list"}}, 1},
};

// Each public operation with whether it takes `permissions` records.
const struct {
    const char* name;
    bool takes_permissions;
} actions[] = {
    {"get_role_contents", false},  {"add_role_permissions", true}, {"set_role_permissions", true},
    {"add_role_sub_roles", false}, {"set_role_sub_roles", false},  {"get_implicit_permissions_for_roles", false},
};

// Binds the class a finished statement returns; for a failure inside the
// class body, `line` names the failing statement's line there.
class ClassBody {
public:
    ClassBody(ModuleBody& module, const char* name, int line) : module_(module), name_(name), statement_(module.globals, name) {
        module_.line = line;
    }
    ClassStatement& statement() { return statement_; }

    // Passes `status` on, adding the class body's entry when it failed.
    int at(int line, int status) {
        if (status < 0) module_.class_body_failed(name_, line);
        return status;
    }
    int header(const char* doc) {
        if (statement_.set_module_name() < 0) return -1;
        if (doc != nullptr) {
            Ref doc_text = Ref::steal(PyUnicode_FromString(doc));
            if (!doc_text || statement_.set("__doc__", doc_text.get()) < 0) return -1;
        }
        Ref qualname = Ref::steal(PyUnicode_FromString(name_));
        Ref annotations = Ref::steal(PyDict_New());
        if (!qualname || !annotations) return -1;
        return statement_.set("__qualname__", qualname.get()) < 0 ? -1
                                                                  : statement_.set("__annotations__", annotations.get());
    }
    int fields(const FieldDeclaration* declarations, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const FieldDeclaration& field = declarations[i];
            if (at(field.line, pyext::declare_field(statement_, field, AnnotationKind::Text)) < 0) return -1;
        }
        return 0;
    }
    // New reference: the class, also bound in the module.
    PyObject* finish() {
        Ref cls = Ref::steal(statement_.finish());
        if (!cls || PyDict_SetItemString(module_.globals, name_, cls.get()) < 0) return nullptr;
        return cls.release();
    }

private:
    ModuleBody& module_;
    const char* name_;
    ClassStatement statement_;
};

int record_class(ModuleBody& module, const char* name, int line, const FieldDeclaration* fields, size_t count) {
    ClassBody body(module, name, line);
    if (body.statement().begin("EmbeddedDocument") < 0 || body.header(nullptr) < 0 || body.fields(fields, count) < 0) {
        return -1;
    }
    return Ref::steal(body.finish()) ? 0 : -1;
}

PyObject* build_actions(ClassStatement& statement) {
    Ref actions_dict = Ref::steal(PyDict_New());
    if (!actions_dict) return nullptr;
    for (const auto& action : actions) {
        Ref entry = Ref::steal(PyDict_New());
        Ref out = Ref::steal(statement.lookup("RoleContent"));
        if (!entry || !out || PyDict_SetItemString(entry.get(), "out", out.get()) < 0) return nullptr;
        if (action.takes_permissions) {
            Ref inputs = Ref::steal(PyDict_New());
            Ref acl_item = Ref::steal(statement.lookup("AclItem"));
            if (!inputs || !acl_item || PyDict_SetItemString(inputs.get(), "permissions", acl_item.get()) < 0 ||
                PyDict_SetItemString(entry.get(), "in", inputs.get()) < 0) {
                return nullptr;
            }
        }
        if (PyDict_SetItemString(actions_dict.get(), action.name, entry.get()) < 0) return nullptr;
    }
    return actions_dict.release();
}

PyObject* make_method(const MethodRow& row, PyObject* globals, PyObject* class_cell) {
    Ref module_name = Ref::steal(pyext::lookup_global(globals, "__name__"));
    Ref qualname = Ref::steal(PyUnicode_FromFormat("Velmark.%s", row.def.name));
    Ref annotations = Ref::steal(PyDict_New());
    Ref doc = Ref::steal(row.doc != nullptr ? PyUnicode_FromString(row.doc) : Ref::borrow(Py_None).release());
    Ref defaults = row.public_operation ? Ref::steal(PyTuple_Pack(1, Py_None)) : Ref();
    Ref closure = row.def.nfreevars > 0 ? Ref::steal(PyTuple_Pack(1, class_cell)) : Ref();
    if (!module_name || !qualname || !annotations || !doc || (row.public_operation && !defaults) ||
        (row.def.nfreevars > 0 && !closure)) {
        return nullptr;
    }
    for (int i = 0; i < row.nannotations; ++i) {
        Ref text = Ref::steal(PyUnicode_FromString(row.annotations[i].text));
        if (!text || PyDict_SetItemString(annotations.get(), row.annotations[i].parameter, text.get()) < 0) {
            return nullptr;
        }
    }
    pyext::FunctionParts parts{qualname.get(), module_name.get(), globals,     doc.get(),
                               defaults.get(), annotations.get(), closure.get(), "<velmark>"};
    return pyext::function_new(row.def, parts);
}

int velmark_class(ModuleBody& module, PyObject* class_cell) {
    ClassBody body(module, "Velmark", 26);
    ClassStatement& statement = body.statement();
    if (statement.begin("Document") < 0 || body.header(velmark_doc) < 0) return -1;
    Ref key_fields = Ref::steal(Py_BuildValue("[s]", "name"));
    if (body.at(33, key_fields ? statement.set("_key_fields", key_fields.get()) : -1) < 0) return -1;
    Ref actions_dict = Ref::steal(build_actions(statement));
    if (body.at(34, actions_dict ? statement.set("_actions", actions_dict.get()) : -1) < 0) return -1;
    if (body.fields(velmark_fields, sizeof velmark_fields / sizeof *velmark_fields) < 0) return -1;
    for (const MethodRow& row : method_rows) {
        Ref method = Ref::steal(make_method(row, module.globals, class_cell));
        if (body.at(row.def.first_line, method ? statement.set(row.def.name, method.get()) : -1) < 0) return -1;
    }
    Ref cls = Ref::steal(statement.finish());
    if (!cls || PyCell_Set(class_cell, cls.get()) < 0) return -1;
    return PyDict_SetItemString(module.globals, "Velmark", cls.get());
}

}  // namespace

int declare_classes(ModuleBody& body) {
    // The `__class__` cell of `Velmark.__init__`: empty until the class exists.
    Ref class_cell = Ref::steal(PyCell_New(nullptr));
    if (!class_cell) return -1;
    if (record_class(body, "Policy", 9, policy_fields, 3) < 0 || record_class(body, "Group", 15, group_fields, 2) < 0 ||
        record_class(body, "RoleContent", 20, role_content_fields, 3) < 0) {
        return -1;
    }
    return velmark_class(body, class_cell.get());
}

}  // namespace velmark
