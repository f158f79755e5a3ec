// The two role queries.  Both answer with a `RoleContent` built by its
// `from_display`, the class looked up in the module namespace at each call.
// A permission travels in its display form: {"obj": ..., "act": ...}.

#include <Python.h>

#include "graph.hpp"
#include "methods.hpp"
#include "pyext/calls.hpp"
#include "pyext/names.hpp"
#include "records.hpp"

namespace velmark {
namespace {

using pyext::call_method;
using pyext::names;

// New display form {"obj": obj, "act": act}, in that key order.
Ref display_form(PyObject* obj, PyObject* act) {
    Ref display = Ref::steal(PyDict_New());
    if (!display || PyDict_SetItem(display.get(), names.obj, obj) < 0 ||
        PyDict_SetItem(display.get(), names.act, act) < 0) {
        return Ref();
    }
    return display;
}

// `RoleContent.from_display`, looked up afresh.
Ref role_content_factory(PyObject* function) {
    Ref role_content = module_global(function, names.RoleContent);
    return role_content ? attribute(role_content.get(), names.from_display) : Ref();
}

// The display forms of the role's own `Policy` records, in stored order.
Ref own_permissions(PyObject* self, PyObject* role_name) {
    Ref policies = attribute(self, names.policies);
    if (!policies) return Ref();
    Ref own = records_where(policies.get(), names.sub, role_name, Py_EQ);
    if (!own) return Ref();

    Ref permissions = Ref::steal(PyList_New(0));
    if (!permissions) return Ref();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(own.get()); ++i) {
        // Held: reading `obj` may run code that empties `own` (a list that
        // code can reach) and the stored list alike.
        Ref policy = Ref::borrow(PyList_GET_ITEM(own.get(), i));
        Ref obj = attribute(policy.get(), names.obj);
        if (!obj) return Ref();
        Ref act = attribute(policy.get(), names.act);
        if (!act) return Ref();
        Ref display = display_form(obj.get(), act.get());
        if (!display || PyList_Append(permissions.get(), display.get()) < 0) return Ref();
    }
    return permissions;
}

// The `parent` of each stored group whose `child` is the role, in stored order.
Ref direct_sub_roles(PyObject* self, PyObject* role_name) {
    Ref groups = attribute(self, names.groups);
    if (!groups) return Ref();
    Ref iterator = Ref::steal(PyObject_GetIter(groups.get()));
    Ref roles = Ref::steal(PyList_New(0));
    if (!iterator || !roles) return Ref();
    while (Ref group = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref child = attribute(group.get(), names.child);
        if (!child) return Ref();
        int equal = pyext::compare_truth(child.get(), role_name, Py_EQ);
        if (equal < 0) return Ref();
        if (equal == 0) continue;
        Ref parent = attribute(group.get(), names.parent);
        if (!parent || PyList_Append(roles.get(), parent.get()) < 0) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return roles;
}

// Makes every asked role a graph key (with no successors) if it is not one.
int add_missing_roles(PyObject* self, PyObject* role_names) {
    Ref graph_object = read_graph(self);
    if (!graph_object) return -1;
    Mapping graph(std::move(graph_object));
    Ref iterator = Ref::steal(PyObject_GetIter(role_names));
    if (!iterator) return -1;
    while (Ref name = Ref::steal(PyIter_Next(iterator.get()))) {
        Py_hash_t hash = pyext::hash_of(name.get());
        if (hash == -1 || add_graph_key(graph, name.get(), hash) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// Appends the display form of `node` when it is a reached permission node.
int keep_if_reached_permission(PyObject* permissions, PyObject* node, PyObject* mark) {
    int reached = pyext::truth(mark);
    if (reached <= 0 || !PyTuple_Check(node)) return reached;
    if (PyTuple_CheckExact(node) && PyTuple_GET_SIZE(node) >= 2) {
        Ref display = display_form(PyTuple_GET_ITEM(node, 0), PyTuple_GET_ITEM(node, 1));
        return display ? PyList_Append(permissions, display.get()) : -1;
    }
    Ref obj = Ref::steal(PySequence_GetItem(node, 0));
    if (!obj) return -1;
    Ref act = Ref::steal(PySequence_GetItem(node, 1));
    if (!act) return -1;
    Ref display = display_form(obj.get(), act.get());
    return display ? PyList_Append(permissions, display.get()) : -1;
}

// The display forms of the reached permission nodes of the query's own
// mapping (an exact dict), in its key order.
Ref reached_permissions(PyObject* discovered) {
    Ref permissions = Ref::steal(PyList_New(0));
    if (!permissions) return Ref();
    pyext::DictItems items(discovered);
    Ref node, mark;
    int more;
    while ((more = items.next(node, mark)) > 0) {
        if (keep_if_reached_permission(permissions.get(), node.get(), mark.get()) < 0) return Ref();
    }
    return more < 0 ? Ref() : permissions;
}

// Walks from each asked role in turn over one shared mapping.
int walk_from_each(PyObject* self, PyObject* role_names, PyObject* discovered) {
    Ref iterator = Ref::steal(PyObject_GetIter(role_names));
    if (!iterator) return -1;
    while (Ref name = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!call_method(self, names.dfs, name.get(), discovered)) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

}  // namespace

Ref get_role_contents_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* role_name = args[1];
    Ref permissions = own_permissions(self, role_name);
    if (!permissions) return Ref();
    Ref roles = direct_sub_roles(self, role_name);
    if (!roles) return Ref();
    Ref from_display = role_content_factory(function);
    if (!from_display) return Ref();
    return pyext::call_keywords(from_display.get(), {{names.name, role_name},
                                                    {names.roles, roles.get()},
                                                    {names.permissions, permissions.get()}});
}

Ref get_implicit_permissions_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* role_names = args[1];
    if (add_missing_roles(self, role_names) < 0) return Ref();
    Ref graph = read_graph(self);
    if (!graph) return Ref();
    Ref discovered = fresh_marks(graph.get());
    if (!discovered || walk_from_each(self, role_names, discovered.get()) < 0) return Ref();
    Ref permissions = reached_permissions(discovered.get());
    if (!permissions) return Ref();
    Ref from_display = role_content_factory(function);
    if (!from_display) return Ref();
    Ref joined = Ref::steal(PyUnicode_Join(names.comma, role_names));
    if (!joined) return Ref();
    return pyext::call_keywords(from_display.get(),
                                {{names.name, joined.get()}, {names.permissions, permissions.get()}});
}

}  // namespace velmark
