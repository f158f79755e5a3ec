// Adding and replacing a role's permissions.  The public methods take
// permissions in display form and convert every item before anything
// changes; the internal methods change the stored `policies` and the role
// graph together.

#include <Python.h>

#include "graph.hpp"
#include "methods.hpp"
#include "pyext/calls.hpp"
#include "pyext/names.hpp"
#include "pyext/private_api.hpp"
#include "records.hpp"

namespace velmark {
namespace {

using pyext::call_method;
using pyext::names;

// list(item.keys()), all keys taken before any value is read, as the
// interpreter merges a `**` mapping, and with its message for keys that
// cannot be iterated.
Ref key_list(PyObject* item, PyObject* keys_method) {
    Ref keys = Ref::steal(PyObject_CallNoArgs(keys_method));
    if (!keys) return Ref();
    Ref iterator = Ref::steal(PyObject_GetIter(keys.get()));
    if (!iterator) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "%.200s.keys() returned a non-iterable (type %.200s)",
                         Py_TYPE(item)->tp_name, Py_TYPE(keys.get())->tp_name);
        }
        return Ref();
    }
    return Ref::steal(PySequence_List(iterator.get()));
}

// The keyword dict that `f(**item)` would pass: an exact dict as it is; any
// other mapping through its `keys`, with the interpreter's messages.
Ref keywords_of(PyObject* callee, PyObject* item) {
    if (PyDict_CheckExact(item)) return Ref::borrow(item);
    PyObject* found = nullptr;
    if (pyext::lookup_attribute(item, names.keys, &found) < 0) return Ref();
    Ref keys_method = Ref::steal(found);
    if (!keys_method) {
        Ref description = Ref::steal(pyext::function_description(callee));
        if (description) {
            PyErr_Format(PyExc_TypeError, "%U argument after ** must be a mapping, not %s", description.get(),
                         pyext::type_name(Py_TYPE(item)));
        }
        return Ref();
    }
    Ref keys = key_list(item, keys_method.get());
    Ref keywords = Ref::steal(PyDict_New());
    if (!keys || !keywords) return Ref();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
        int repeated = PyDict_Contains(keywords.get(), key.get());
        if (repeated < 0) return Ref();
        if (repeated > 0) {
            Ref description = Ref::steal(pyext::function_description(callee));
            if (description) {
                PyErr_Format(PyExc_TypeError, "%U got multiple values for keyword argument '%S'", description.get(),
                             key.get());
            }
            return Ref();
        }
        Ref value = Ref::steal(PyObject_GetItem(item, key.get()));
        if (!value || PyDict_SetItem(keywords.get(), key.get(), value.get()) < 0) return Ref();
    }
    return keywords;
}

// [AclItem.from_display(**item) for item in permissions]
Ref converted_permissions(PyObject* function, PyObject* permissions) {
    Ref iterator = Ref::steal(PyObject_GetIter(permissions));
    Ref converted = Ref::steal(PyList_New(0));
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!iterator || !converted || !no_args) return Ref();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref acl_item = module_global(function, names.AclItem);
        Ref from_display = acl_item ? attribute(acl_item.get(), names.from_display) : Ref();
        if (!from_display) return Ref();
        Ref keywords = keywords_of(from_display.get(), item.get());
        if (!keywords) return Ref();
        Ref record = Ref::steal(PyObject_Call(from_display.get(), no_args.get(), keywords.get()));
        if (!record || PyList_Append(converted.get(), record.get()) < 0) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return converted;
}

// Policy(sub=sub, obj=permission.obj, act=permission.act)
Ref policy_for(PyObject* function, PyObject* sub, PyObject* permission) {
    Ref policy_class = module_global(function, names.Policy);
    if (!policy_class) return Ref();
    Ref pair = permission_pair(permission);
    if (!pair) return Ref();
    return pyext::call_keywords(policy_class.get(), {{names.sub, sub},
                                                     {names.obj, PyTuple_GET_ITEM(pair.get(), 0)},
                                                     {names.act, PyTuple_GET_ITEM(pair.get(), 1)}});
}

Ref convert_and_update(PyObject* function, PyObject* const* args, PyObject* internal_method) {
    Ref permissions = converted_permissions(function, args[2]);
    if (!permissions) return Ref();
    return update_and_answer(args[0], internal_method, args[1], permissions.get());
}

}  // namespace

Ref add_role_permissions_body(PyObject* function, PyObject* const* args) {
    return convert_and_update(function, args, names.add_permissions);
}

Ref set_role_permissions_body(PyObject* function, PyObject* const* args) {
    return convert_and_update(function, args, names.set_sub_permissions);
}

Ref add_permissions_body(PyObject* function, PyObject* const* args) {
    return add_new_records(function, args, policy_for, nullptr, names.policies, names.dag_add_policy);
}

Ref set_sub_permissions_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* sub = args[1];
    Ref policies = attribute(self, names.policies);
    if (!policies) return Ref();
    if (!PyList_Check(policies.get())) {
        PyErr_SetNone(PyExc_AssertionError);
        return Ref();
    }
    Ref new_policies = records_for(function, sub, args[2], policy_for);
    if (!new_policies) return Ref();

    // A role that is not in the graph cannot take new permissions there;
    // refuse before the stored list is rewritten, so a failed call changes
    // nothing that a later save could store.
    int known = graph_has(self, sub);
    if (known < 0) return Ref();
    bool replacing = PyList_GET_SIZE(new_policies.get()) > 0;
    if (replacing && known == 0) {
        pyext::set_key_error(sub);
        return Ref();
    }

    policies = attribute(self, names.policies);
    Ref others = policies ? records_where(policies.get(), names.sub, sub, Py_NE) : Ref();
    if (!others || PyObject_SetAttr(self, names.policies, others.get()) < 0) return Ref();
    if (replacing) {
        policies = attribute(self, names.policies);
        if (!policies || extend_items(policies.get(), new_policies.get()) < 0) return Ref();
    }
    if ((replacing || known) && !call_method(self, names.dag_set_policies, sub, new_policies.get())) return Ref();
    return none();
}

}  // namespace velmark
