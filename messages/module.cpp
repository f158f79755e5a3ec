// The entry of `messages` and its module body: the outside names, then
// `AppNameField` and `UserBasicInfo`.

#include <Python.h>

#include "classes.hpp"
#include "pyext/module_start.hpp"

namespace {

PyModuleDef messages_definition = {
    PyModuleDef_HEAD_INIT, nullptr, nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int messages_body(pyext::ModuleBody& body) {
    using pyext::import_names;
    if (import_names(body, 1, "orvek_fields", {"StringField", "IntField", "TimestampField"}) < 0 ||
        import_names(body, 2, "orvek_fields_network", {"EmailField"}) < 0 ||
        import_names(body, 3, "orvek_engine", {"EmbeddedDocument", "ListField"}) < 0) {
        return -1;
    }
    return messages::declare_classes(body);
}

}  // namespace

PyMODINIT_FUNC PyInit_messages(void) {
    return pyext::start_module(&messages_definition, "messages", "<module messages>", "<messages>", messages_body)
        .release();
}
