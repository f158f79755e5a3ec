// Traceback entries for code that has no Python frame of its own.
//
// A compiled body shows up in a traceback the way Python code does: one entry
// made from a code object (file name, code name, line) and a frame over the
// module's globals, pushed while the error is pending.
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace pyext {

// An empty code object whose first line is `line`, so that a frame made from
// it reports that line.
Ref entry_code_new(const char* filename, const char* name, int line);

// Pushes one entry for `code` (borrowed) in front of the pending error's
// traceback.  `locals` (borrowed, may be null) becomes the frame's f_locals.
// Never replaces the pending error: if the entry cannot be made, the error
// passes on without it.
void add_traceback_entry(PyObject* code, PyObject* globals, PyObject* locals = nullptr);

// The same with a code object made for this one entry.
void add_traceback_entry(const char* filename, const char* name, int line, PyObject* globals,
                         PyObject* locals = nullptr);

// True when the pending error's traceback already begins with an entry of a
// code named `name`.
bool traceback_begins_with(const char* name);

}  // namespace pyext
