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

// The walk's stack: for each node being walked, its successor list and the
// position reached in it.  The stack owns each visit's references and
// releases them in `pop`, a frame of ours: a successor list may be the last
// reference to objects whose `__del__` runs, and the vector's own pop_back
// and destructor are noexcept (see drop_reference).  Held as plain pointers,
// visits move as bytes when the vector grows.
class VisitStack {
public:
    VisitStack() = default;
    VisitStack(const VisitStack&) = delete;
    VisitStack& operator=(const VisitStack&) = delete;
    ~VisitStack() noexcept(false) {
        while (!visits_.empty()) pop();
    }

    bool empty() const { return visits_.empty(); }

    // Takes over `successors`, walked through `iterator` unless that is null
    // (a list, read by index).
    void push(Ref&& successors, Ref&& iterator) {
        visits_.push_back({successors.get(), iterator.get(), 0});
        (void)successors.release();
        (void)iterator.release();
    }

    // The next successor of the top visit, or null: with an error set on
    // failure.  A list is read at its size now, as list iteration reads it:
    // code run for an earlier successor may have shortened it.
    Ref advance() {
        Visit& top = visits_.back();
        if (top.iterator != nullptr) return Ref::steal(PyIter_Next(top.iterator));
        if (top.next >= PyList_GET_SIZE(top.successors)) return Ref();
        return Ref::borrow(PyList_GET_ITEM(top.successors, top.next++));
    }

    void pop() {
        Visit finished = visits_.back();
        visits_.pop_back();
        pyext::drop_reference(finished.iterator);
        pyext::drop_reference(finished.successors);
    }

private:
    struct Visit {
        PyObject* successors;  // owned
        PyObject* iterator;    // owned, or null
        Py_ssize_t next;
    };

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
            Ref successor = stack_.advance();
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
        Ref iterator;
        if (!PyList_CheckExact(successors.get())) {
            iterator = Ref::steal(PyObject_GetIter(successors.get()));
            if (!iterator) return -1;
        }
        stack_.push(std::move(successors), std::move(iterator));
        return 0;
    }

    int visit_successor(PyObject* node) {
        Py_hash_t hash = pyext::hash_of(node);
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
    Py_hash_t hash = pyext::hash_of(start);
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
    Py_hash_t child_hash = pyext::hash_of(child.get());
    if (child_hash == -1 || add_graph_key(Mapping(graph), child.get(), child_hash) < 0) return Ref();

    Ref discovered = fresh_marks(graph.get());
    if (!discovered) return Ref();
    // `self._dfs(new_group.parent, discovered)`: the method first.
    Ref dfs = attribute(self, names.dfs);
    Ref parent = dfs ? attribute(new_group, names.parent) : Ref();
    if (!parent || !pyext::call_function(dfs.get(), parent.get(), discovered.get())) return Ref();
    Ref mark = Ref::steal(PyObject_GetItem(discovered.get(), child.get()));
    int reached = mark ? pyext::truth(mark.get()) : -1;
    if (reached < 0) return Ref();
    return Ref::borrow(reached ? Py_False : Py_True);
}

}  // namespace velmark
