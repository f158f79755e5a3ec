// `UserBasicInfo`: the embedded record of a user's basic information.
// Its annotations are the built-in types themselves (this module does not
// postpone their evaluation), unless the class body itself binds the name.

#include <Python.h>

#include "classes.hpp"
#include "pyext/class_statement.hpp"
#include "pyext/field_declaration.hpp"

namespace messages {
namespace {

using pyext::ClassStatement;
using pyext::FieldDeclaration;
using pyext::ModuleBody;
using pyext::OptionValue;
using pyext::Ref;

constexpr const char* class_name = "UserBasicInfo";
constexpr const char* class_doc = "All information about the user\n\n    ";

// In declaration order; the apps item field is a plain StringField.
const FieldDeclaration user_fields[] = {
    {"name", 20, "str", "EmailField",
     {{"required", OptionValue::True}, {"unique", OptionValue::True}, {"description", OptionValue::Text, "User Name"}},
     3},
    {"apps", 21, "list", "ListField",
     {{"default", OptionValue::NewList}, {"description", OptionValue::Text, "Application Names"}}, 2,
     "StringField"},
    {"user_id", 22, "str", "StringField", {{"description", OptionValue::Text, "User unique ID"}}, 1},
    {"confirm_time", 23, "float", "TimestampField", {{"description", OptionValue::Text, "Account confirmed date"}},
     1},
};

int header(ClassStatement& statement) {
    if (statement.set_module_name() < 0) return -1;
    Ref doc = Ref::steal(PyUnicode_FromString(class_doc));
    if (!doc || statement.set("__doc__", doc.get()) < 0) return -1;
    Ref qualname = Ref::steal(PyUnicode_FromString(class_name));
    if (!qualname || statement.set("__qualname__", qualname.get()) < 0) return -1;
    Ref annotations = Ref::steal(PyDict_New());
    return annotations ? statement.set("__annotations__", annotations.get()) : -1;
}

}  // namespace

int declare_user_basic_info(ModuleBody& body) {
    body.line = 16;
    ClassStatement statement(body.globals, class_name);
    if (statement.begin("EmbeddedDocument") < 0 || header(statement) < 0) return -1;
    for (const FieldDeclaration& field : user_fields) {
        if (pyext::declare_field(statement, field, pyext::AnnotationKind::BuiltinType) < 0) {
            body.class_body_failed(class_name, field.line);
            return -1;
        }
    }
    Ref cls = Ref::steal(statement.finish());
    return cls ? PyDict_SetItemString(body.globals, class_name, cls.get()) : -1;
}

}  // namespace messages
