// The role graph as the methods reach it: through the document's `dag`
// attribute, with each node hashed once per step.
#pragma once

#include <Python.h>

#include "pyext/mapping.hpp"
#include "pyext/ref.hpp"

namespace velmark {

using pyext::Mapping;
using pyext::Ref;

// The document's role graph, read through its attribute.
Ref read_graph(PyObject* self);

// Whether `node` is a key of the document's role graph: 1, 0, or -1 on error.
int graph_has(PyObject* self, PyObject* node);

// Makes `node` a key with a new empty successor list unless it is one.
int add_graph_key(const Mapping& graph, PyObject* node, Py_hash_t hash);

// A new mapping of every key of `graph`, in its order, to False: the marks a
// walk starts from.
Ref fresh_marks(PyObject* graph);

// `item in sequence`: identity or equality, for successor lists and stored
// record lists alike.  A list is scanned by index against its live size with
// each entry held, so an `__eq__` that changes the list cannot make the scan
// read freed memory; graph nodes of the built-in types compare without
// calling back into Python.
int sequence_contains(PyObject* sequence, PyObject* item);

}  // namespace velmark
