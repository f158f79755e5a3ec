// The depth-first walk over the role graph and the cycle check built on it.
//
// The walk marks, in its caller's mapping, every node reachable from a start
// node, pre-order, successors in list order, each node entered at most once.
// When the document's `_dfs` is this module's own, the whole walk runs here
// with an explicit stack (so a chain of a million roles needs no C stack and
// no Python call per node); when a subclass overrides `_dfs`, each node that
// is entered goes through the override, as the recursive definition says.

#include <Python.h>

#include <vector>

#include "graph.hpp"
#include "methods.hpp"
#include "pyext/calls.hpp"
#include "pyext/function.hpp"
#include "pyext/names.hpp"
#include "records.hpp"

namespace velmark {
namespace {

using pyext::call_method;
using pyext::names;

// True when `self._dfs` is this module's own `_dfs`, bound to `self`.
int dfs_is_native(PyObject* self) {
    Ref method = attribute(self, names.dfs);
    if (!method) return -1;
    return PyMethod_Check(method.get()) && PyMethod_GET_SELF(method.get()) == self &&
           pyext::is_function_with_body(PyMethod_GET_FUNCTION(method.get()), dfs_body);
}

// One node on the walk: its successor list and the position reached in it.
// Move-only, so that the stack's vector moves visits when it grows; a copy
// would take references only to drop them again.
struct Visit {
    Visit() = default;
    Visit(Visit&&) = default;
    Visit& operator=(Visit&&) = default;
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;

    Ref successors;
    Ref iterator;       // for successor containers that are not lists
    Py_ssize_t next = 0;

    // The next successor, or null: with an error set on failure.  The list
    // is read at its size now, as list iteration reads it: code run for an
    // earlier successor may have shortened it.
    Ref advance() {
        if (!iterator) {
            if (next >= PyList_GET_SIZE(successors.get())) return Ref();
            return Ref::borrow(PyList_GET_ITEM(successors.get(), next++));
        }
        return Ref::steal(PyIter_Next(iterator.get()));
    }
};

// The walk's stack.  A finished visit is moved out of the vector and
// released here: its successor list may be the last reference to objects
// whose `__del__` runs, and the vector's own pop_back and destructor are
// noexcept (see drop_reference).
class VisitStack {
public:
    VisitStack() = default;
    VisitStack(const VisitStack&) = delete;
    VisitStack& operator=(const VisitStack&) = delete;
    ~VisitStack() noexcept(false) {
        while (!visits_.empty()) pop();
    }

    bool empty() const { return visits_.empty(); }
    Visit& top() { return visits_.back(); }
    void push(Visit&& visit) { visits_.push_back(std::move(visit)); }
    void pop() {
        Visit finished = std::move(visits_.back());
        visits_.pop_back();
    }

private:
    std::vector<Visit> visits_;
};

// Walks on from a start that is already marked.  Each successor whose mark
// is false is entered: here, when `_dfs` is our own, or through the
// document's `_dfs` otherwise, which is looked up only once a successor needs
// entering.
class Walk {
public:
    Walk(PyObject* self, Mapping graph, Mapping marks)
        : self_(self), graph_(std::move(graph)), marks_(std::move(marks)) {}

    int run(PyObject* start, Py_hash_t hash) {
        if (push_successors(start, hash) < 0) return -1;
        while (!stack_.empty()) {
            Ref successor = stack_.top().advance();
            if (!successor) {
                if (PyErr_Occurred()) return -1;
                stack_.pop();
                continue;
            }
            if (visit_successor(successor.get()) < 0) return -1;
        }
        return 0;
    }

private:
    int push_successors(PyObject* node, Py_hash_t hash) {
        Ref successors = graph_.at(node, hash);
        if (!successors) return -1;
        // Permission nodes have nothing to visit; skip the frame.
        if (PyList_CheckExact(successors.get()) && PyList_GET_SIZE(successors.get()) == 0) return 0;
        Visit visit;
        if (!PyList_CheckExact(successors.get())) {
            visit.iterator = Ref::steal(PyObject_GetIter(successors.get()));
            if (!visit.iterator) return -1;
        }
        visit.successors = std::move(successors);
        stack_.push(std::move(visit));
        return 0;
    }

    int visit_successor(PyObject* node) {
        Py_hash_t hash = PyObject_Hash(node);
        if (hash == -1) return -1;
        int reached = marks_.truth_at(node, hash);
        if (reached != 0) return reached < 0 ? -1 : 0;
        if (native_ < 0 && (native_ = dfs_is_native(self_)) < 0) return -1;
        if (native_) return marks_.set(node, hash, Py_True) < 0 ? -1 : push_successors(node, hash);
        return call_method(self_, names.dfs, node, marks_.object()) ? 0 : -1;
    }

    PyObject* self_;
    Mapping graph_;
    Mapping marks_;
    int native_ = -1;  // not yet known
    VisitStack stack_;
};

}  // namespace

Ref dfs_body(PyObject*, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* start = args[1];
    PyObject* discovered = args[2];
    // The start is marked before anything is read from the document, and
    // stays marked whatever fails after.
    Mapping marks(Ref::borrow(discovered));
    Py_hash_t hash = PyObject_Hash(start);
    if (hash == -1 || marks.set(start, hash, Py_True) < 0) return Ref();
    Ref graph = read_graph(self);
    if (!graph) return Ref();
    Walk walk(self, Mapping(std::move(graph)), std::move(marks));
    if (walk.run(start, hash) < 0) return Ref();
    return Ref::borrow(discovered);
}

Ref check_new_group_body(PyObject*, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* new_group = args[1];
    // `if new_group.child not in self.dag`: both read, then the child hashed.
    Ref child = attribute(new_group, names.child);
    if (!child) return Ref();
    Ref graph = read_graph(self);
    if (!graph) return Ref();
    Py_hash_t child_hash = PyObject_Hash(child.get());
    if (child_hash == -1 || add_graph_key(Mapping(graph), child.get(), child_hash) < 0) return Ref();

    Ref discovered = fresh_marks(graph.get());
    if (!discovered) return Ref();
    Ref parent = attribute(new_group, names.parent);
    if (!parent || !call_method(self, names.dfs, parent.get(), discovered.get())) return Ref();
    Ref mark = Ref::steal(PyObject_GetItem(discovered.get(), child.get()));
    int reached = mark ? pyext::truth(mark.get()) : -1;
    if (reached < 0) return Ref();
    return Ref::borrow(reached ? Py_False : Py_True);
}

}  // namespace velmark
