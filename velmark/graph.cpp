#include "graph.hpp"

#include "pyext/calls.hpp"
#include "pyext/names.hpp"

namespace velmark {

using pyext::names;

Ref read_graph(PyObject* self) { return Ref::steal(PyObject_GetAttr(self, names.dag)); }

int graph_has(PyObject* self, PyObject* node) {
    Ref graph = read_graph(self);
    if (!graph) return -1;
    Py_hash_t hash = pyext::hash_of(node);
    return hash == -1 ? -1 : Mapping(std::move(graph)).contains(node, hash);
}

int add_graph_key(const Mapping& graph, PyObject* node, Py_hash_t hash) {
    int known = graph.contains(node, hash);
    if (known != 0) return known < 0 ? -1 : 0;
    Ref empty = Ref::steal(PyList_New(0));
    return empty ? graph.set(node, hash, empty.get()) : -1;
}

Ref fresh_marks(PyObject* graph) {
    // dict.fromkeys sizes the new dict for the whole graph at once.
    return pyext::call_method(reinterpret_cast<PyObject*>(&PyDict_Type), names.fromkeys, graph, Py_False);
}

namespace {

using pyext::not_decided;

// Equality of graph nodes (exact strs, and exact tuples of them) as the
// built-in types decide it without a call; not_decided for anything else.
int node_equal(PyObject* a, PyObject* b) {
    if (a == b) return 1;
    PyTypeObject* ta = Py_TYPE(a);
    PyTypeObject* tb = Py_TYPE(b);
    bool simple_a = ta == &PyUnicode_Type || ta == &PyTuple_Type;
    bool simple_b = tb == &PyUnicode_Type || tb == &PyTuple_Type;
    if (!simple_a || !simple_b) return not_decided;
    if (ta != tb) return 0;
    if (ta == &PyUnicode_Type) return pyext::texts_equal(a, b);
    Py_ssize_t size = PyTuple_GET_SIZE(a);
    if (size != PyTuple_GET_SIZE(b)) return 0;
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item_a = PyTuple_GET_ITEM(a, i);
        PyObject* item_b = PyTuple_GET_ITEM(b, i);
        if (!PyUnicode_CheckExact(item_a) || !PyUnicode_CheckExact(item_b)) return not_decided;
        int equal = pyext::texts_equal(item_a, item_b);
        if (equal != 1) return equal;
    }
    return 1;
}

}  // namespace

int sequence_contains(PyObject* sequence, PyObject* item) {
    if (!PyList_CheckExact(sequence)) return PySequence_Contains(sequence, item);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sequence); ++i) {
        int decided = node_equal(PyList_GET_ITEM(sequence, i), item);
        if (decided == 1) return 1;
        if (decided == 0) continue;
        Ref stored = Ref::borrow(PyList_GET_ITEM(sequence, i));
        int equal = PyObject_RichCompareBool(stored.get(), item, Py_EQ);
        if (equal != 0) return equal;
    }
    return 0;
}

}  // namespace velmark
