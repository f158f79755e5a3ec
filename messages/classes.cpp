// `AppNameField`, a string field whose defaults describe application names,
// and `UserBasicInfo`, the embedded record of a user's basic information.

#include "classes.hpp"

#include "pyext/class_body.hpp"

namespace messages {
namespace {

using pyext::Annotations;
using pyext::Call;
using pyext::ClassDeclaration;
using pyext::Field;
using pyext::FunctionDef;
using pyext::Value;

constexpr FunctionDef app_name_field_methods[] = {
    FunctionDef("__init__", app_name_field_init)
        .taking({"self", "description", "sample", "regex"})
        .collecting_keywords("kwargs")
        .defaulting({Value::text("Application Name field"), Value::text("my-app-name"),
                     Value::text("^[0-z]+(-[0-z]+)+$")})
        .closing_over_class()
        .at(8)
        .failing_at(13),
};

// The annotations are the built-in types themselves: this module does not
// postpone their evaluation.  The apps item field is a plain StringField.
constexpr Field user_fields[] = {
    Field("name").at(20).annotated("str").made_by(Call("EmailField")
                                                      .with("required", Value::yes())
                                                      .with("unique", Value::yes())
                                                      .with("description", Value::text("User Name"))),
    Field("apps").at(21).annotated("list")
        .made_by(Call("ListField").with("default", Value::new_list())
                     .with("description", Value::text("Application Names")))
        .of_items(Call("StringField")),
    Field("user_id").at(22).annotated("str")
        .made_by(Call("StringField").with("description", Value::text("User unique ID"))),
    Field("confirm_time").at(23).annotated("float")
        .made_by(Call("TimestampField").with("description", Value::text("Account confirmed date"))),
};

constexpr ClassDeclaration classes[] = {
    ClassDeclaration("AppNameField").derived_from("StringField").at(6).documented("App Name field")
        .with_methods(app_name_field_methods),
    ClassDeclaration("UserBasicInfo").derived_from("EmbeddedDocument").at(16)
        .documented("All information about the user\n\n    ").annotated(Annotations::BuiltinTypes)
        .with_fields(user_fields),
};

}  // namespace

int declare_classes(pyext::ModuleBody& body) { return pyext::declare_classes(body, classes); }

}  // namespace messages
