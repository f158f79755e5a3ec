// The entry of `velmark` and its module body: the outside names first, then
// the record and document classes.

#include <Python.h>

#include "pyext/module_start.hpp"
#include "schema.hpp"

namespace {

PyModuleDef velmark_definition = {
    PyModuleDef_HEAD_INIT, nullptr, nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int velmark_body(pyext::ModuleBody& body) {
    using pyext::import_names;
    if (pyext::import_future(body, 1, "annotations") < 0 ||
        import_names(body, 2, "orvek_fields", {"StringField", "DictField"}) < 0 ||
        import_names(body, 3, "orvek_engine", {"AclItem"}) < 0 ||
        import_names(body, 4, "orvek_engine", {"ListField", "EmbeddedDocumentField"}) < 0 ||
        import_names(body, 5, "orvek_engine", {"Document", "EmbeddedDocument"}) < 0 ||
        import_names(body, 6, "orvek_engine", {"Acl"}) < 0) {
        return -1;
    }
    return velmark::declare_classes(body);
}

}  // namespace

PyMODINIT_FUNC PyInit_velmark(void) {
    return pyext::start_module(&velmark_definition, "velmark", "<module velmark>", "<velmark>", velmark_body)
        .release();
}
