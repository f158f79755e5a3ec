// Every call into the interpreter's private API, and every field of its
// structs that we read or write directly, gathered here, each with the
// reason the public API does not serve.  Nothing else in the code base names
// a `_Py` symbol or reaches into an interpreter struct.  The wrappers keep
// the C API's conventions: a new reference comes back as a plain pointer,
// for the caller to own at once.
#pragma once

#include <Python.h>
#include <frameobject.h>

namespace pyext {

// The name the import system is loading an extension under (dotted inside a
// package); the public API passes it to single-phase modules no other way.
inline const char* package_context() { return _Py_PackageContext; }

// 1 and the value, 0 when `object` has no attribute `name`, -1 on error.
// The public PyObject_GetAttr would raise and we would clear an
// AttributeError on every miss.
inline int lookup_attribute(PyObject* object, PyObject* name, PyObject** value) {
    return _PyObject_LookupAttr(object, name, value);
}

// The metaclass a class statement derives from `first` and `bases`, with the
// interpreter's own conflict error; the public API has no such rule.
inline PyTypeObject* calculate_metaclass(PyTypeObject* first, PyObject* bases) {
    return _PyType_CalculateMetaclass(first, bases);
}

// A type's `__name__` as a C string, for messages; PyType_GetName only
// arrives in 3.11.
inline const char* type_name(PyTypeObject* type) { return _PyType_Name(type); }

// "module.qualname()", the interpreter's own description of a callable in
// its argument errors; no public equivalent.
inline PyObject* function_description(PyObject* callable) { return _PyObject_FunctionStr(callable); }

// KeyError(key) exactly as dict indexing raises it: PyErr_SetObject would
// take a tuple key for the exception's arguments.
inline void set_key_error(PyObject* key) { _PyErr_SetKeyError(key); }

// Equality of two exact strs without a rich comparison; PyUnicode_Compare
// would add an error case to a test that cannot fail.
inline bool text_equal(PyObject* a, PyObject* b) { return _PyUnicode_EQ(a, b) != 0; }

// Dict lookups and stores with a hash already at hand: the public calls hash
// the key again, and a tuple's hash is not cached.  Borrowed, or null (with
// an error set only when the lookup failed).
inline PyObject* dict_get_known_hash(PyObject* dict, PyObject* key, Py_hash_t hash) {
    return _PyDict_GetItem_KnownHash(dict, key, hash);
}
inline int dict_set_known_hash(PyObject* dict, PyObject* key, PyObject* value, Py_hash_t hash) {
    return _PyDict_SetItem_KnownHash(dict, key, value, hash);
}

// A str's hash when it has been computed, else -1: read where a call to
// PyObject_Hash, which would compute it, costs more than the answer is worth.
inline Py_hash_t cached_text_hash(PyObject* text) { return reinterpret_cast<PyASCIIObject*>(text)->hash; }

// Makes a frame made for a traceback entry report its code's first line;
// 3.9 can read a frame's line (PyFrame_GetLineNumber) but not set it.
inline void report_first_line(PyFrameObject* frame) { frame->f_lineno = frame->f_code->co_firstlineno; }

// Borrowed: the code name of a traceback's newest entry; 3.9 has no
// accessor for a traceback's frame, nor for a code object's name.
inline PyObject* traceback_code_name(PyObject* traceback) {
    return reinterpret_cast<PyTracebackObject*>(traceback)->tb_frame->f_code->co_name;
}

// Makes the fetched exception the `__context__` of the one now pending (or
// pending again, when none is), as an `except:` block that raises does; the
// public API would take a dozen calls to do the same.  Steals all three.
inline void chain_exceptions(PyObject* type, PyObject* value, PyObject* traceback) {
    _PyErr_ChainExceptions(type, value, traceback);
}

// Whether the calling thread holds the interpreter lock, asked without a
// fatal error when it does not (PyThreadState_Get aborts, and
// PyGILState_Check answers "yes" once finalisation has torn down its key).
// Outside finalisation every caller of ours holds it, so the cheap question
// settles the common case.
inline bool holds_interpreter_lock() {
    if (!_Py_IsFinalizing()) return true;
    PyThreadState* holder = _PyThreadState_UncheckedGet();
    return holder != nullptr && holder->thread_id == PyThread_get_thread_ident();
}

// Borrowed: the namespace of the interpreter's `builtins` module, whatever
// builtins the calling frame runs with.  PyEval_GetBuiltins answers the
// running frame's, and the interpreter's own only while no frame runs; our
// compiled code has no frame of its own, so the caller's would answer.  The
// frame is hidden for the one read, during which nothing else runs.
inline PyObject* interpreter_builtins() {
    PyThreadState* thread = PyThreadState_Get();
    PyFrameObject* caller = thread->frame;
    thread->frame = nullptr;
    PyObject* builtins = PyEval_GetBuiltins();
    thread->frame = caller;
    return builtins;
}

}  // namespace pyext
