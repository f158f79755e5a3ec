// Construction of a document and the operations that change its role graph.
//
// The graph maps a role name to the roles it contains and the (obj, act)
// pairs it holds, and a pair to an empty list.  Every successor is itself a
// key, no successor list holds an entry twice, keys are never removed, and
// their order (the order of first mention) is the order in which queries
// list permissions.

#include <Python.h>

#include "methods.hpp"
#include "names.hpp"
#include "pyext/function.hpp"
#include "pyext/super_call.hpp"
#include "support.hpp"

namespace velmark {
namespace {

// Adds the edge node -> successor: the node's key first (with a list holding
// the successor) when it is new, then the successor's key (with an empty
// list).  Both are hashed before anything changes, so an unhashable value
// fails without leaving a successor that is not also a key.
int add_edge(PyObject* self, PyObject* node, PyObject* successor) {
    Py_hash_t node_hash = PyObject_Hash(node);
    if (node_hash == -1) return -1;
    Py_hash_t successor_hash = PyObject_Hash(successor);
    if (successor_hash == -1) return -1;
    Ref graph_object = read_graph(self);
    if (!graph_object) return -1;
    Mapping graph(graph_object);

    Ref successors = graph.find(node, node_hash);
    if (successors) {
        int present = sequence_contains(successors.get(), successor);
        if (present < 0 || (present == 0 && append_item(successors.get(), successor) < 0)) return -1;
    } else {
        if (PyErr_Occurred()) return -1;
        Ref fresh = Ref::steal(PyList_New(1));
        if (!fresh) return -1;
        PyList_SET_ITEM(fresh.get(), 0, Ref::borrow(successor).release());
        if (graph.set(node, node_hash, fresh.get()) < 0) return -1;
    }
    int known = graph.contains(successor, successor_hash);
    if (known != 0) return known < 0 ? -1 : 0;
    Ref empty = Ref::steal(PyList_New(0));
    return empty ? graph.set(successor, successor_hash, empty.get()) : -1;
}

// Replaces the successors of `role` that are not of `kept_type` by the
// edges of its records among `records`, added through `add_method`.
PyObject* replace_successors(PyObject* self, PyObject* role, PyObject* records, PyObject* attribute,
                             PyTypeObject* kept_type, PyObject* add_method) {
    Ref own_records = records_where(records, attribute, role, Py_EQ);
    if (!own_records) return nullptr;
    Ref graph_object = read_graph(self);
    if (!graph_object) return nullptr;
    Py_hash_t role_hash = PyObject_Hash(role);
    if (role_hash == -1) return nullptr;
    Mapping graph(graph_object);
    Ref successors = graph.at(role, role_hash);
    if (!successors) return nullptr;

    Ref kept = Ref::steal(PyList_New(0));
    Ref iterator = Ref::steal(PyObject_GetIter(successors.get()));
    if (!kept || !iterator) return nullptr;
    while (Ref entry = Ref::steal(PyIter_Next(iterator.get()))) {
        if (PyObject_TypeCheck(entry.get(), kept_type) && PyList_Append(kept.get(), entry.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred() || graph.set(role, role_hash, kept.get()) < 0) return nullptr;

    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(own_records.get()); ++i) {
        Ref record = Ref::borrow(PyList_GET_ITEM(own_records.get(), i));
        if (!call_method(self, add_method, {record.get()})) return nullptr;
    }
    Py_RETURN_NONE;
}

// Calls self.<add_method>(record) for each record of the attribute `list_name`.
int add_each(PyObject* self, PyObject* list_name, PyObject* add_method) {
    Ref records = get_attr(self, list_name);
    if (!records) return -1;
    Ref iterator = Ref::steal(PyObject_GetIter(records.get()));
    if (!iterator) return -1;
    while (Ref record = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!call_method(self, add_method, {record.get()})) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// kwargs[key] = [record_class(**defaults)] unless the caller gave `key`.
int supply_default(PyObject* function, PyObject* kwargs, PyObject* key, PyObject* record_class, PyObject* kwnames,
                   std::initializer_list<PyObject*> values) {
    int given = PyDict_Contains(kwargs, key);
    if (given != 0) return given < 0 ? -1 : 0;
    Ref record = make_record(function, record_class, kwnames, values);
    if (!record) return -1;
    Ref records = Ref::steal(PyList_New(1));
    if (!records) return -1;
    PyList_SET_ITEM(records.get(), 0, record.release());
    return PyDict_SetItem(kwargs, key, records.get());
}

// The base class's `__init__`, found as zero-argument `super()` finds it:
// through the method's `__class__` cell.
Ref base_initialiser(PyObject* function, PyObject* self) {
    PyObject* cls = PyCell_GET(pyext::function_cell(function, 0));
    if (cls == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "super(): empty __class__ cell");
        return Ref();
    }
    return Ref::steal(pyext::super_attribute(cls, self, names.init));
}

}  // namespace

PyObject* init_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* kwargs = args[1];  // this call's own dict
    if (supply_default(function, kwargs, names.policies_key, names.Policy, names.policy_keywords,
                       {names.root, names.any, names.any}) < 0 ||
        supply_default(function, kwargs, names.groups_key, names.Group, names.group_keywords,
                       {names.admin, names.root}) < 0) {
        return nullptr;
    }
    Ref initialiser = base_initialiser(function, self);
    if (!initialiser) return nullptr;
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args || !Ref::steal(PyObject_Call(initialiser.get(), no_args.get(), kwargs))) return nullptr;
    Ref graph = Ref::steal(PyDict_New());
    if (!graph || PyObject_SetAttr(self, names.dag, graph.get()) < 0) return nullptr;
    if (!call_method(self, names.dag_generate, {})) return nullptr;
    Py_RETURN_NONE;
}

PyObject* dag_generate_body(PyObject*, PyObject* const* args) {
    PyObject* self = args[0];
    if (add_each(self, names.groups, names.dag_add_group) < 0 ||
        add_each(self, names.policies, names.dag_add_policy) < 0) {
        return nullptr;
    }
    Ref graph_object = read_graph(self);
    if (!graph_object) return nullptr;
    Mapping graph(graph_object);
    Py_hash_t hash = PyObject_Hash(names.public_role);
    if (hash == -1) return nullptr;
    int present = graph.contains(names.public_role, hash);
    if (present < 0) return nullptr;
    if (present == 0) {
        Ref empty = Ref::steal(PyList_New(0));
        if (!empty || graph.set(names.public_role, hash, empty.get()) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* dag_add_policy_body(PyObject*, PyObject* const* args) {
    PyObject* policy = args[1];
    Ref sub = get_attr(policy, names.sub);
    if (!sub) return nullptr;
    Ref obj = get_attr(policy, names.obj);
    if (!obj) return nullptr;
    Ref act = get_attr(policy, names.act);
    if (!act) return nullptr;
    Ref pair = Ref::steal(PyTuple_Pack(2, obj.get(), act.get()));
    if (!pair || add_edge(args[0], sub.get(), pair.get()) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject* dag_add_group_body(PyObject*, PyObject* const* args) {
    PyObject* group = args[1];
    Ref child = get_attr(group, names.child);
    if (!child) return nullptr;
    Ref parent = get_attr(group, names.parent);
    if (!parent || add_edge(args[0], child.get(), parent.get()) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject* dag_set_policies_body(PyObject*, PyObject* const* args) {
    // A role's contained roles stay; its permission pairs are replaced.
    return replace_successors(args[0], args[1], args[2], names.sub, &PyUnicode_Type, names.dag_add_policy);
}

PyObject* dag_set_groups_body(PyObject*, PyObject* const* args) {
    // A role's permission pairs stay; its contained roles are replaced.
    return replace_successors(args[0], args[1], args[2], names.child, &PyTuple_Type, names.dag_add_group);
}

}  // namespace velmark
