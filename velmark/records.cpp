#include "records.hpp"

#include "graph.hpp"
#include "pyext/class_statement.hpp"
#include "pyext/function.hpp"
#include "pyext/names.hpp"

namespace velmark {

using pyext::call_method;
using pyext::names;

Ref permission_pair(PyObject* record) {
    Ref obj = velmark::attribute(record, names.obj);
    if (!obj) return Ref();
    Ref act = velmark::attribute(record, names.act);
    if (!act) return Ref();
    return Ref::steal(PyTuple_Pack(2, obj.get(), act.get()));
}

Ref module_global(PyObject* function, PyObject* name) {
    return pyext::lookup_global(pyext::function_globals(function), name);
}

int append_item(PyObject* list, PyObject* item) {
    if (PyList_CheckExact(list)) return PyList_Append(list, item);
    return call_method(list, names.append, item) ? 0 : -1;
}

int extend_items(PyObject* list, PyObject* items) { return call_method(list, names.extend, items) ? 0 : -1; }

Ref records_where(PyObject* records, PyObject* attribute, PyObject* role, int op) {
    Ref iterator = Ref::steal(PyObject_GetIter(records));
    Ref selected = Ref::steal(PyList_New(0));
    if (!iterator || !selected) return Ref();
    while (Ref record = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref value = velmark::attribute(record.get(), attribute);
        if (!value) return Ref();
        int kept = pyext::compare_truth(value.get(), role, op);
        if (kept < 0 || (kept > 0 && PyList_Append(selected.get(), record.get()) < 0)) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return selected;
}

Ref records_for(PyObject* function, PyObject* owner, PyObject* items, RecordBuilder build) {
    Ref records = Ref::steal(PyList_New(0));
    Ref iterator = Ref::steal(PyObject_GetIter(items));
    if (!records || !iterator) return Ref();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref record = build(function, owner, item.get());
        if (!record || PyList_Append(records.get(), record.get()) < 0) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return records;
}

Ref add_new_records(PyObject* function, PyObject* const* args, RecordBuilder build, RecordGate gate,
                    PyObject* list_name, PyObject* dag_add) {
    PyObject* self = args[0];
    Ref iterator = Ref::steal(PyObject_GetIter(args[2]));
    if (!iterator) return Ref();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref record = build(function, args[1], item.get());
        if (!record) return Ref();
        Ref stored_records = velmark::attribute(self, list_name);
        if (!stored_records) return Ref();
        int stored = sequence_contains(stored_records.get(), record.get());
        if (stored < 0) return Ref();
        if (stored > 0) continue;
        int accepted = gate != nullptr ? gate(self, record.get()) : 1;
        if (accepted < 0) return Ref();
        if (accepted == 0) continue;
        if (!call_method(self, dag_add, record.get())) return Ref();
        stored_records = velmark::attribute(self, list_name);
        if (!stored_records || append_item(stored_records.get(), record.get()) < 0) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return none();
}

Ref update_and_answer(PyObject* self, PyObject* internal_method, PyObject* role_name, PyObject* items) {
    if (!call_method(self, internal_method, role_name, items) || !call_method(self, names.save)) return Ref();
    return pyext::call_method_keywords(self, names.get_role_contents, {{names.role_name, role_name}});
}

}  // namespace velmark
