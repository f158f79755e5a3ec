// Small helpers the methods of `Velmark` share: calls through the object,
// module-global lookups, record construction, and the container steps that
// must stay safe while callbacks (an `__eq__`, a `__bool__`) run arbitrary
// code.  Every helper returns an owned `Ref` (null with an error set) or an
// int that is -1 on error.
#pragma once

#include <Python.h>

#include <initializer_list>

#include "pyext/ref.hpp"

namespace velmark {

using pyext::Ref;

inline Ref get_attr(PyObject* object, PyObject* name) { return Ref::steal(PyObject_GetAttr(object, name)); }

// self.<name>(*args), looked up on the object each time, so that a subclass
// or an instance attribute that overrides the method is honoured.
Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args);

// callable(**dict(zip(kwnames, values))), keywords in that order.
Ref call_keywords(PyObject* callable, PyObject* kwnames, std::initializer_list<PyObject*> values);

// The module global `name` as the running method sees it: the module's
// namespace, then the builtins, else NameError.
Ref module_global(PyObject* function, PyObject* name);

// `class_name(**keywords)` for the module's record class of that name.
Ref make_record(PyObject* function, PyObject* class_name, PyObject* kwnames, std::initializer_list<PyObject*> values);

// `item in sequence`: identity or equality.  Lists are scanned by index
// against their live size with each item held, so an `__eq__` that changes
// the list cannot make the scan read freed memory.
int sequence_contains(PyObject* sequence, PyObject* item);

int append_item(PyObject* list, PyObject* item);
int extend_items(PyObject* list, PyObject* items);

// The truth of `value`, with the bools answered without a call.
inline int truth(PyObject* value) {
    if (value == Py_True) return 1;
    if (value == Py_False) return 0;
    return PyObject_IsTrue(value);
}

// The truth of `left == right` (or `!=`), the left operand being the record's value.
int compare_truth(PyObject* left, PyObject* right, int op);

// The records of `records` whose `attribute` compares to `role` with `op`
// (Py_EQ or Py_NE, the record's value on the left), in order.
Ref records_where(PyObject* records, PyObject* attribute, PyObject* role, int op);

// Sets KeyError(key), as dict indexing does.
void set_key_error(PyObject* key);

// A mapping reached with one hash per key: an exact dict goes straight to
// the dict's known-hash calls, anything else through the mapping protocol.
class Mapping {
public:
    explicit Mapping(Ref object) : object_(std::move(object)), exact_dict_(PyDict_CheckExact(object_.get())) {}

    PyObject* object() const { return object_.get(); }
    // The value, or null: with an error set when the lookup failed, without
    // one when the key is absent.
    Ref find(PyObject* key, Py_hash_t hash) const;
    // The value; KeyError(key) when absent.
    Ref at(PyObject* key, Py_hash_t hash) const;
    // The truth of the value under `key` (1 or 0), -1 on error; KeyError(key)
    // when absent.
    int truth_at(PyObject* key, Py_hash_t hash) const;
    int contains(PyObject* key, Py_hash_t hash) const;
    int set(PyObject* key, Py_hash_t hash, PyObject* value) const;

private:
    Ref object_;
    bool exact_dict_;
};

// The document's role graph, read through its attribute.
Ref read_graph(PyObject* self);

// Whether `node` is a key of the document's role graph: 1, 0, or -1 on error.
int graph_has(PyObject* self, PyObject* node);

}  // namespace velmark

namespace velmark {

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
PyObject* add_new_records(PyObject* function, PyObject* const* args, RecordBuilder build, RecordGate gate,
                          PyObject* list_name, PyObject* dag_add);

// The tail every public update shares: self.<internal>(role_name, items),
// then self.save(), then self.get_role_contents(role_name=role_name).
PyObject* update_and_answer(PyObject* self, PyObject* internal_method, PyObject* role_name, PyObject* items);

}  // namespace velmark
