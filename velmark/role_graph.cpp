// Construction of a document and the operations that change its role graph.
//
// The graph maps a role name to the roles it contains and the (obj, act)
// pairs it holds, and a pair to an empty list.  Every successor is itself a
// key, no successor list holds an entry twice, keys are never removed, and
// their order (the order of first mention) is the order in which queries
// list permissions.

#include <Python.h>

#include "graph.hpp"
#include "methods.hpp"
#include "pyext/function.hpp"
#include "pyext/names.hpp"
#include "pyext/super_call.hpp"
#include "records.hpp"

namespace velmark {
namespace {

using pyext::call_method;
using pyext::names;

// [item]
Ref list_holding(PyObject* item) {
    Ref list = Ref::steal(PyList_New(1));
    if (list) PyList_SET_ITEM(list.get(), 0, Ref::borrow(item).release());
    return list;
}

// Adds the edge node -> successor: the node's key first (with a list holding
// the successor) when it is new, then the successor's key (with an empty
// list).  Both are hashed before anything changes, so an unhashable value
// fails without leaving a successor that is not also a key.
int add_edge(PyObject* self, PyObject* node, PyObject* successor) {
    Py_hash_t node_hash = pyext::hash_of(node);
    if (node_hash == -1) return -1;
    Py_hash_t successor_hash = pyext::hash_of(successor);
    if (successor_hash == -1) return -1;
    Ref graph_object = read_graph(self);
    if (!graph_object) return -1;
    Mapping graph(std::move(graph_object));

    Ref successors = graph.find(node, node_hash);
    if (successors) {
        int present = sequence_contains(successors.get(), successor);
        if (present < 0 || (present == 0 && append_item(successors.get(), successor) < 0)) return -1;
    } else {
        if (PyErr_Occurred()) return -1;
        Ref fresh = list_holding(successor);
        if (!fresh || graph.set(node, node_hash, fresh.get()) < 0) return -1;
    }
    return add_graph_key(graph, successor, successor_hash);
}

// Replaces the successors of `role` that are not of `kept_type` by the
// edges of its records among `records`, added through `add_method`.
Ref replace_successors(PyObject* self, PyObject* role, PyObject* records, PyObject* attribute,
                       PyTypeObject* kept_type, PyObject* add_method) {
    Ref own_records = records_where(records, attribute, role, Py_EQ);
    if (!own_records) return Ref();
    Ref graph_object = read_graph(self);
    if (!graph_object) return Ref();
    Py_hash_t role_hash = pyext::hash_of(role);
    if (role_hash == -1) return Ref();
    Mapping graph(std::move(graph_object));
    Ref successors = graph.at(role, role_hash);
    if (!successors) return Ref();

    Ref kept = Ref::steal(PyList_New(0));
    Ref iterator = Ref::steal(PyObject_GetIter(successors.get()));
    if (!kept || !iterator) return Ref();
    while (Ref entry = Ref::steal(PyIter_Next(iterator.get()))) {
        if (PyObject_TypeCheck(entry.get(), kept_type) && PyList_Append(kept.get(), entry.get()) < 0) return Ref();
    }
    if (PyErr_Occurred() || graph.set(role, role_hash, kept.get()) < 0) return Ref();

    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(own_records.get()); ++i) {
        Ref record = Ref::borrow(PyList_GET_ITEM(own_records.get(), i));
        if (!call_method(self, add_method, record.get())) return Ref();
    }
    return none();
}

// Calls self.<add_method>(record) for each record of the attribute `list_name`.
int add_each(PyObject* self, PyObject* list_name, PyObject* add_method) {
    Ref records = attribute(self, list_name);
    if (!records) return -1;
    Ref iterator = Ref::steal(PyObject_GetIter(records.get()));
    if (!iterator) return -1;
    while (Ref record = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!call_method(self, add_method, record.get())) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// kwargs[key] = [record_class(**defaults)] unless the caller gave `key`.
template <size_t N>
int supply_default(PyObject* function, PyObject* kwargs, PyObject* key, PyObject* record_class,
                   const Keyword (&defaults)[N]) {
    int given = PyDict_Contains(kwargs, key);
    if (given != 0) return given < 0 ? -1 : 0;
    Ref record = make_record(function, record_class, defaults);
    if (!record) return -1;
    Ref records = list_holding(record.get());
    return records ? PyDict_SetItem(kwargs, key, records.get()) : -1;
}

// The base class's `__init__`, found as zero-argument `super()` finds it:
// through the method's `__class__` cell.
Ref base_initialiser(PyObject* function, PyObject* self) {
    PyObject* cls = PyCell_GET(pyext::function_class_cell(function));
    if (cls == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "super(): empty __class__ cell");
        return Ref();
    }
    // Held: the cell may be rebound while the lookup runs Python code.
    Ref owned_cls = Ref::borrow(cls);
    return pyext::super_attribute(owned_cls.get(), self, names.dunder_init);
}

}  // namespace

Ref init_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* kwargs = args[1];  // this call's own dict
    if (supply_default(function, kwargs, names.policies, names.Policy,
                       {{names.sub, names.root}, {names.obj, names.any}, {names.act, names.any}}) < 0 ||
        supply_default(function, kwargs, names.groups, names.Group,
                       {{names.child, names.admin}, {names.parent, names.root}}) < 0) {
        return Ref();
    }
    Ref initialiser = base_initialiser(function, self);
    if (!initialiser) return Ref();
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || !Ref::steal(PyObject_Call(initialiser.get(), no_args.get(), kwargs))) return Ref();
    Ref graph = Ref::steal(PyDict_New());
    if (!graph || PyObject_SetAttr(self, names.dag, graph.get()) < 0) return Ref();
    if (!call_method(self, names.dag_generate)) return Ref();
    return none();
}

Ref dag_generate_body(PyObject*, PyObject* const* args) {
    PyObject* self = args[0];
    if (add_each(self, names.groups, names.dag_add_group) < 0 ||
        add_each(self, names.policies, names.dag_add_policy) < 0) {
        return Ref();
    }
    Ref graph = read_graph(self);
    if (!graph) return Ref();
    Py_hash_t hash = pyext::hash_of(names.public_role);
    if (hash == -1 || add_graph_key(Mapping(std::move(graph)), names.public_role, hash) < 0) return Ref();
    return none();
}

Ref dag_add_policy_body(PyObject*, PyObject* const* args) {
    PyObject* policy = args[1];
    Ref sub = attribute(policy, names.sub);
    if (!sub) return Ref();
    Ref pair = permission_pair(policy);
    if (!pair || add_edge(args[0], sub.get(), pair.get()) < 0) return Ref();
    return none();
}

Ref dag_add_group_body(PyObject*, PyObject* const* args) {
    PyObject* group = args[1];
    Ref child = attribute(group, names.child);
    if (!child) return Ref();
    Ref parent = attribute(group, names.parent);
    if (!parent || add_edge(args[0], child.get(), parent.get()) < 0) return Ref();
    return none();
}

Ref dag_set_policies_body(PyObject*, PyObject* const* args) {
    // A role's contained roles stay; its permission pairs are replaced.
    return replace_successors(args[0], args[1], args[2], names.sub, &PyUnicode_Type, names.dag_add_policy);
}

Ref dag_set_groups_body(PyObject*, PyObject* const* args) {
    // A role's permission pairs stay; its contained roles are replaced.
    return replace_successors(args[0], args[1], args[2], names.child, &PyTuple_Type, names.dag_add_group);
}

}  // namespace velmark
