// The start-up that every module of ours shares.
//
// The entry names the module (the package context when the import system
// loads it inside a package), creates it, puts it into the module table
// before its body runs (so code the body triggers finds the unfinished
// module), gives it a start-up `__spec__` marked as initialising (so other
// threads wait for this import instead of taking the unfinished module), and
// runs the body.  That `__spec__` is made and bound before the module enters
// the table, because making it runs Python code, during which the interpreter
// may let another thread run.  A failed body leaves no table entry behind and
// its exception passes on unchanged, with one traceback entry for the module
// body at the line of the failing statement.
//
// Line numbers, here and in the declarations of class_body.hpp, are those of
// the statements in the module's source listing: the Python text of the
// module that its traceback entries cite, under the file name `<velmark>` or
// `<messages>`.  An import has its line in the module body, a class
// statement the line of its `class`, and a field, attribute or method of a
// class body the line of its own statement there.
#pragma once

#include <Python.h>

#include <initializer_list>

#include "pyext/ref.hpp"

namespace pyext {

// What a module body works on.
struct ModuleBody {
    PyObject* module;   // borrowed from the entry
    PyObject* globals;  // the module's namespace
    const char* filename;
    int line = 1;       // the statement that runs now, for the failure entry

    // Adds a class body's traceback entry (`name`, `line`) to the pending error.
    void class_body_failed(const char* name, int body_line) const;
};

using ModuleBodyFn = int (*)(ModuleBody& body);

// The whole entry: the module, or null with the body's exception set.
// `body_code_name` names the module body's traceback entry, e.g.
// "<module velmark>".
Ref start_module(PyModuleDef* def, const char* default_name, const char* body_code_name, const char* filename,
                 ModuleBodyFn run_body);

// `from <package> import <wanted>` at `line`: calls the builtins'
// `__import__(package, globals, None, names, 0)` and binds each name in turn,
// taken with the interpreter's from-import rule.
int import_names(ModuleBody& body, int line, const char* package, std::initializer_list<const char*> wanted);

// `from __future__ import <feature>` at `line`, through the interpreter's own
// import of the standard module.
int import_future(ModuleBody& body, int line, const char* feature);

// Binds `name` in the module namespace; a null `value` passes its error on.
int bind_global(ModuleBody& body, const char* name, Ref&& value);

}  // namespace pyext
