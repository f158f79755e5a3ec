#include "pyext/module_start.hpp"

#include <string>

#include "pyext/boundary.hpp"
#include "pyext/calls.hpp"
#include "pyext/function.hpp"
#include "pyext/names.hpp"
#include "pyext/private_api.hpp"
#include "pyext/traceback.hpp"

namespace pyext {
namespace {

// The module definition keeps a pointer to its name, so the chosen name must
// outlive the import that chose it.
const char* keep_name(const char* chosen) {
    static std::string kept;
    kept = chosen;
    return kept.c_str();
}

// The start-up `__spec__`, marked as initialising, so that another thread's
// import that finds the unfinished module in the table waits for this one.
// Made and bound before the module enters the table: making it runs Python
// code (importing `importlib` on first use, `_spec_from_module` itself), and
// the interpreter may switch threads while that code runs.
int set_startup_spec(PyObject* module, PyObject* globals) {
    // The interpreter's own import, whatever `__import__` the caller's frame has.
    Ref fromlist = Ref::steal(Py_BuildValue("(s)", "_spec_from_module"));
    if (!fromlist) return -1;
    Ref bootstrap = Ref::steal(PyImport_ImportModuleLevel("importlib._bootstrap", nullptr, nullptr, fromlist.get(), 0));
    if (!bootstrap) return -1;
    Ref spec_from_module = Ref::steal(PyObject_GetAttrString(bootstrap.get(), "_spec_from_module"));
    if (!spec_from_module) return -1;
    Ref startup = Ref::steal(PyObject_CallOneArg(spec_from_module.get(), module));
    if (!startup || PyObject_SetAttrString(startup.get(), "_initializing", Py_True) < 0) return -1;
    return PyDict_SetItem(globals, names.dunder_spec, startup.get());
}

// The failure path: entry for the module body, module out of the table,
// exception unchanged.
void discard_module(ModuleBody& body, const char* body_code_name) {
    if (!traceback_begins_with(body_code_name)) {
        add_traceback_entry(body.filename, body_code_name, body.line, body.globals);
    }
    PendingError pending;
    Ref name = Ref::borrow(PyDict_GetItemWithError(body.globals, names.dunder_name));
    if (name) (void)PyObject_DelItem(PyImport_GetModuleDict(), name.get());
    PyErr_Clear();  // an error of the lookup or the deletion is discarded
    pending.restore();
}

// The interpreter's rule for taking `name` from what `__import__` returned:
// its attribute, else its submodule from the module table, else ImportError.
Ref take_imported_name(PyObject* package, PyObject* name) {
    PyObject* value = nullptr;
    if (lookup_attribute(package, name, &value) != 0) return Ref::steal(value);
    Ref package_name = Ref::steal(PyObject_GetAttr(package, names.dunder_name));
    if (!package_name) PyErr_Clear();
    if (package_name && !PyUnicode_Check(package_name.get())) package_name.reset();
    if (package_name) {
        Ref full_name = Ref::steal(PyUnicode_FromFormat("%U.%U", package_name.get(), name));
        if (!full_name) return Ref();
        Ref submodule = Ref::steal(PyImport_GetModule(full_name.get()));
        if (submodule || PyErr_Occurred()) return submodule;
    }
    Ref shown_name = package_name ? package_name : Ref::steal(PyUnicode_FromString("<unknown module name>"));
    Ref path = Ref::steal(PyModule_Check(package) ? PyModule_GetFilenameObject(package) : nullptr);
    if (!path || !PyUnicode_Check(path.get())) {
        PyErr_Clear();
        path.reset();
    }
    Ref location = path ? path : Ref::steal(PyUnicode_FromString("unknown location"));
    if (!shown_name || !location) return Ref();
    Ref message = Ref::steal(PyUnicode_FromFormat("cannot import name %R from %R (%S)", name, shown_name.get(),
                                                  location.get()));
    if (message) PyErr_SetImportError(message.get(), package_name.get(), path.get());
    return Ref();
}

}  // namespace

void ModuleBody::class_body_failed(const char* name, int body_line) const {
    add_traceback_entry(filename, name, body_line, globals);
}

int bind_global(ModuleBody& body, const char* name, Ref&& value) {
    Ref owned = std::move(value);
    return owned ? PyDict_SetItemString(body.globals, name, owned.get()) : -1;
}

Ref start_module(PyModuleDef* def, const char* default_name, const char* body_code_name, const char* filename,
                 ModuleBodyFn run_body) {
    return call_guarded(Ref(), [&]() -> Ref {
        if (function_type_ready() < 0 || names_init() < 0 || watch_interpreter_exit() < 0) return Ref();
        const char* context = package_context();
        def->m_name = keep_name(context != nullptr ? context : default_name);
        Ref module = Ref::steal(PyModule_Create2(def, PYTHON_API_VERSION));
        if (!module) return Ref();
        ModuleBody body{module.get(), PyModule_GetDict(module.get()), filename};
        if (set_startup_spec(body.module, body.globals) < 0) return Ref();
        Ref table_key = Ref::steal(PyUnicode_FromString(def->m_name));
        if (!table_key || PyObject_SetItem(PyImport_GetModuleDict(), table_key.get(), module.get()) < 0) {
            return Ref();
        }
        // From here on a failure, a C++ exception included, takes the module
        // out of the table again.
        if (PyDict_SetItem(body.globals, names.dunder_doc, Py_None) < 0 ||
            call_guarded(-1, [&] { return run_body(body); }) < 0) {
            discard_module(body, body_code_name);
            return Ref();
        }
        return module;
    });
}

int import_names(ModuleBody& body, int line, const char* package, std::initializer_list<const char*> wanted) {
    body.line = line;
    Ref import_function = Ref::borrow(PyDict_GetItemWithError(interpreter_builtins(), names.dunder_import));
    if (!import_function) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "__import__ not found");
        return -1;
    }
    Ref package_name = Ref::steal(PyUnicode_FromString(package));
    Ref fromlist = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(wanted.size())));
    Ref level = Ref::steal(PyLong_FromLong(0));
    if (!package_name || !fromlist || !level) return -1;
    Py_ssize_t index = 0;
    for (const char* name : wanted) {
        PyObject* item = PyUnicode_InternFromString(name);
        if (item == nullptr) return -1;
        PyTuple_SET_ITEM(fromlist.get(), index++, item);
    }
    Ref imported = call_function(import_function.get(), package_name.get(), body.globals, Py_None, fromlist.get(),
                                 level.get());
    if (!imported) return -1;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(fromlist.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(fromlist.get(), i);
        Ref value = take_imported_name(imported.get(), name);
        if (!value || PyDict_SetItem(body.globals, name, value.get()) < 0) return -1;
    }
    return 0;
}

int import_future(ModuleBody& body, int line, const char* feature) {
    body.line = line;
    Ref future = Ref::steal(PyImport_ImportModule("__future__"));
    if (!future) return -1;
    return bind_global(body, feature, Ref::steal(PyObject_GetAttrString(future.get(), feature)));
}

}  // namespace pyext
