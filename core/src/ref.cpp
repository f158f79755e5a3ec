#include "pyext/ref.hpp"

namespace pyext {

std::atomic<bool> interpreter_exiting{false};

namespace {

PyObject* note_exit(PyObject*, PyObject*) {
    interpreter_exiting.store(true, std::memory_order_relaxed);
    Py_RETURN_NONE;
}

PyMethodDef note_exit_def = {"_note_exit", note_exit, METH_NOARGS, nullptr};
bool watching = false;

}  // namespace

int watch_interpreter_exit() {
    if (watching) return 0;
    // The interpreter's own import of its built-in module, whatever
    // `__import__` the caller's frame has.
    Ref atexit = Ref::steal(PyImport_ImportModuleLevel("atexit", nullptr, nullptr, nullptr, 0));
    Ref hook = atexit ? Ref::steal(PyCFunction_New(&note_exit_def, nullptr)) : Ref();
    Ref registered = hook ? Ref::steal(PyObject_CallMethod(atexit.get(), "register", "O", hook.get())) : Ref();
    if (!registered) return -1;
    watching = true;
    return 0;
}

}  // namespace pyext
