// The entry of `messages` and its module body: the outside names, then
// `AppNameField` and `UserBasicInfo`.

#include <Python.h>

#include "classes.hpp"
#include "pyext/module_start.hpp"
#include "pyext/ref.hpp"

namespace {

PyModuleDef messages_definition = {
    PyModuleDef_HEAD_INIT, nullptr, nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int messages_body(pyext::ModuleBody& body) {
    using pyext::import_names;
    // Exists before the first statement, as the compiler would make it, and
    // stays empty until `AppNameField` has been created.
    pyext::Ref class_cell = pyext::Ref::steal(PyCell_New(nullptr));
    if (!class_cell) return -1;
    if (import_names(body, 1, "orvek_fields", {"StringField", "IntField", "TimestampField"}) < 0 ||
        import_names(body, 2, "orvek_fields_network", {"EmailField"}) < 0 ||
        import_names(body, 3, "orvek_engine", {"EmbeddedDocument", "ListField"}) < 0) {
        return -1;
    }
    if (messages::declare_app_name_field(body, class_cell.get()) < 0) return -1;
    return messages::declare_user_basic_info(body);
}

}  // namespace

PyMODINIT_FUNC PyInit_messages(void) {
    return pyext::start_module(&messages_definition, "messages", "<module messages>", messages::source_name,
                               messages_body);
}
