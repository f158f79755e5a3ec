// Adding and replacing the roles a role contains.  Every new containment is
// put to the cycle check first; a group that would close a cycle is skipped
// on the add path and refuses the whole replacement on the replace path,
// without an error in either case.

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

Ref group_for(PyObject* function, PyObject* child, PyObject* parent) {
    return make_record(function, names.Group, {{names.child, child}, {names.parent, parent}});
}

// The answer of self._check_new_group(group) as a truth value.
int passes_cycle_check(PyObject* self, PyObject* group) {
    Ref answer = call_method(self, names.check_new_group, group);
    return answer ? pyext::truth(answer.get()) : -1;
}

int extend_stored_groups(PyObject* self, PyObject* records) {
    Ref groups = attribute(self, names.groups);
    return groups ? extend_items(groups.get(), records) : -1;
}

// Checks every new group in turn.  1 when all pass; 0 at the first refusal,
// after which the role's old records are back at the end of `groups`.  On
// an error they are put back as well before the error passes on, so a later
// save cannot drop the role's containments; if putting them back fails too,
// that error is raised, with the check's as its context.
int check_replacement(PyObject* self, PyObject* new_groups, PyObject* old_groups) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(new_groups); ++i) {
        Ref group = Ref::borrow(PyList_GET_ITEM(new_groups, i));
        int passed = passes_cycle_check(self, group.get());
        if (passed > 0) continue;
        if (passed == 0) return extend_stored_groups(self, old_groups) < 0 ? -1 : 0;
        pyext::PendingError failure;
        (void)extend_stored_groups(self, old_groups);
        failure.restore_as_context();
        return -1;
    }
    return 1;
}

}  // namespace

Ref add_role_sub_roles_body(PyObject*, PyObject* const* args) {
    return update_and_answer(args[0], names.add_groups, args[1], args[2]);
}

Ref set_role_sub_roles_body(PyObject*, PyObject* const* args) {
    return update_and_answer(args[0], names.set_sub_groups, args[1], args[2]);
}

Ref add_groups_body(PyObject* function, PyObject* const* args) {
    return add_new_records(function, args, group_for, passes_cycle_check, names.groups, names.dag_add_group);
}

Ref set_sub_groups_body(PyObject* function, PyObject* const* args) {
    PyObject* self = args[0];
    PyObject* child = args[1];
    Ref new_groups = records_for(function, child, args[2], group_for);
    if (!new_groups) return Ref();

    Ref groups = attribute(self, names.groups);
    Ref old_groups = groups ? records_where(groups.get(), names.child, child, Py_EQ) : Ref();
    if (!old_groups) return Ref();
    groups = attribute(self, names.groups);
    Ref others = groups ? records_where(groups.get(), names.child, child, Py_NE) : Ref();
    if (!others || PyObject_SetAttr(self, names.groups, others.get()) < 0) return Ref();

    if (PyList_GET_SIZE(new_groups.get()) == 0) {
        int known = graph_has(self, child);
        if (known < 0 || (known > 0 && !call_method(self, names.dag_set_groups, child, new_groups.get()))) {
            return Ref();
        }
        return none();
    }
    int all_passed = check_replacement(self, new_groups.get(), old_groups.get());
    if (all_passed < 0) return Ref();
    if (all_passed > 0 && (extend_stored_groups(self, new_groups.get()) < 0 ||
                           !call_method(self, names.dag_set_groups, child, new_groups.get()))) {
        return Ref();
    }
    return none();
}

}  // namespace velmark
