// Class creation as a class statement does it: the base looked up by name,
// the metaclass derived from the bases, the namespace from the metaclass's
// `__prepare__`, filled through item assignment, then the metaclass called
// with (name, bases, namespace).  The caller fills the namespace in its
// statement order; every step reports failure as -1 or null with the error
// set.
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace pyext {

// `name` from `globals`, else from the interpreter's builtins (never the
// calling frame's), else NameError "name '%s' is not defined".
Ref lookup_global(PyObject* globals, PyObject* name);
Ref lookup_global(PyObject* globals, const char* name);

class ClassStatement {
public:
    ClassStatement(PyObject* globals, const char* name) : globals_(globals), name_text_(name) {}

    // Base lookup, bases resolution, metaclass and namespace.
    int begin(const char* base_name);

    // ns[key] = value.
    int set(PyObject* key, PyObject* value);
    int set(const char* key, PyObject* value);
    // `name` from the namespace, then globals, then builtins.
    Ref lookup(PyObject* name);
    Ref lookup(const char* name);
    // Reads `__annotations__` back from the namespace and adds one entry.
    int annotate(const char* field, PyObject* annotation);
    // The class the metaclass returns.
    Ref finish();

    PyObject* namespace_object() const { return namespace_.get(); }

private:
    PyObject* globals_;
    const char* name_text_;
    Ref name_;
    Ref original_bases_;
    Ref bases_;
    Ref metaclass_;
    Ref namespace_;
};

}  // namespace pyext
