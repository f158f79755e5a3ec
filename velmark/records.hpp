// The stored record lists and the steps the role updates share: reading
// module globals as a method sees them, building records, filtering and
// growing the stored lists, and the add-save-answer sequence.
#pragma once

#include <Python.h>

#include <cstddef>

#include "pyext/calls.hpp"
#include "pyext/ref.hpp"

namespace velmark {

using pyext::Keyword;
using pyext::Ref;

// Py_None as an owned result.
inline Ref none() { return Ref::borrow(Py_None); }

// object.<name>
inline Ref attribute(PyObject* object, PyObject* name) { return Ref::steal(PyObject_GetAttr(object, name)); }

// (record.obj, record.act): a permission as the graph keys it.
Ref permission_pair(PyObject* record);

// The module global `name` as the running method sees it: the module's
// namespace, then the interpreter's builtins, else NameError.
Ref module_global(PyObject* function, PyObject* name);

// `class_name(**keywords)` for the module's record class of that name.
template <size_t N>
Ref make_record(PyObject* function, PyObject* class_name, const Keyword (&keywords)[N]) {
    Ref record_class = module_global(function, class_name);
    return record_class ? pyext::call_keywords(record_class.get(), keywords) : Ref();
}

// list.append(item) and list.extend(items), through the method unless the
// list is a plain list.
int append_item(PyObject* list, PyObject* item);
int extend_items(PyObject* list, PyObject* items);

// The records of `records` whose `attribute` compares to `role` with `op`
// (Py_EQ or Py_NE, the record's value on the left), in order.
Ref records_where(PyObject* records, PyObject* attribute, PyObject* role, int op);

// Builds the record of one update item for the role `owner` (a `Policy`
// from a permission, a `Group` from a sub-role name).
using RecordBuilder = Ref (*)(PyObject* function, PyObject* owner, PyObject* item);
// Whether a new record may join: 1 yes, 0 skip it silently, -1 error.
using RecordGate = int (*)(PyObject* self, PyObject* record);

// [build(function, owner, item) for item in items]
Ref records_for(PyObject* function, PyObject* owner, PyObject* items, RecordBuilder build);

// The add path both updates share: for each item of args[2] in order, the
// record for the role args[1]; one equal to a record stored in `list_name`
// (read afresh each time, so repeats within one call are found) or refused
// by `gate` is skipped; any other goes into the graph through
// self.<dag_add>(record), then onto the end of the stored list.
Ref add_new_records(PyObject* function, PyObject* const* args, RecordBuilder build, RecordGate gate,
                    PyObject* list_name, PyObject* dag_add);

// The tail every public update shares: self.<internal>(role_name, items),
// then self.save(), then self.get_role_contents(role_name=role_name).
Ref update_and_answer(PyObject* self, PyObject* internal_method, PyObject* role_name, PyObject* items);

}  // namespace velmark
