#include "support.hpp"

#include "names.hpp"
#include "pyext/class_statement.hpp"
#include "pyext/function.hpp"

namespace velmark {

namespace {

// The calls the methods make take three arguments at most.
constexpr size_t max_call_args = 4;

bool fits(size_t count) {
    if (count <= max_call_args) return true;
    PyErr_SetString(PyExc_SystemError, "too many arguments for an internal call");
    return false;
}

}  // namespace

Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args) {
    if (!fits(args.size() + 1)) return Ref();
    PyObject* stack[max_call_args];
    stack[0] = self;
    size_t nargs = 1;
    for (PyObject* arg : args) stack[nargs++] = arg;
    return Ref::steal(PyObject_VectorcallMethod(name, stack, nargs, nullptr));
}

Ref call_keywords(PyObject* callable, PyObject* kwnames, std::initializer_list<PyObject*> values) {
    if (!fits(values.size())) return Ref();
    PyObject* stack[max_call_args];
    size_t count = 0;
    for (PyObject* value : values) stack[count++] = value;
    return Ref::steal(PyObject_Vectorcall(callable, stack, 0, kwnames));
}

Ref module_global(PyObject* function, PyObject* name) {
    return Ref::steal(pyext::lookup_global(pyext::function_globals(function), name));
}

Ref make_record(PyObject* function, PyObject* class_name, PyObject* kwnames, std::initializer_list<PyObject*> values) {
    Ref record_class = module_global(function, class_name);
    if (!record_class) return Ref();
    return call_keywords(record_class.get(), kwnames, values);
}

namespace {

constexpr int not_decided = -2;

bool exact_text(PyObject* o) { return Py_TYPE(o) == &PyUnicode_Type; }

// Equality of two exact strs as the str type decides it, answered early
// when both hashes are known and differ.
int text_equal(PyObject* a, PyObject* b) {
    if (a == b) return 1;
    Py_hash_t ha = reinterpret_cast<PyASCIIObject*>(a)->hash;
    Py_hash_t hb = reinterpret_cast<PyASCIIObject*>(b)->hash;
    if (ha != -1 && hb != -1 && ha != hb) return 0;
    return _PyUnicode_EQ(a, b);
}

// Equality of graph nodes (exact strs, and exact tuples of exact strs) as
// the built-in types decide it, with no call back into Python; not_decided
// for anything else.
int node_equal(PyObject* a, PyObject* b) {
    if (a == b) return 1;
    PyTypeObject* ta = Py_TYPE(a);
    PyTypeObject* tb = Py_TYPE(b);
    bool simple_a = ta == &PyUnicode_Type || ta == &PyTuple_Type;
    bool simple_b = tb == &PyUnicode_Type || tb == &PyTuple_Type;
    if (!simple_a || !simple_b) return not_decided;
    if (ta != tb) return 0;
    if (ta == &PyUnicode_Type) return text_equal(a, b);
    Py_ssize_t size = PyTuple_GET_SIZE(a);
    if (size != PyTuple_GET_SIZE(b)) return 0;
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item_a = PyTuple_GET_ITEM(a, i);
        PyObject* item_b = PyTuple_GET_ITEM(b, i);
        if (!exact_text(item_a) || !exact_text(item_b)) return not_decided;
        if (!text_equal(item_a, item_b)) return 0;
    }
    return 1;
}

}  // namespace

int sequence_contains(PyObject* sequence, PyObject* item) {
    if (!PyList_CheckExact(sequence)) return PySequence_Contains(sequence, item);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sequence); ++i) {
        int decided = node_equal(PyList_GET_ITEM(sequence, i), item);
        if (decided == 1) return 1;
        if (decided == 0) continue;
        Ref stored = Ref::borrow(PyList_GET_ITEM(sequence, i));
        int equal = PyObject_RichCompareBool(stored.get(), item, Py_EQ);
        if (equal != 0) return equal;
    }
    return 0;
}

int append_item(PyObject* list, PyObject* item) {
    if (PyList_CheckExact(list)) return PyList_Append(list, item);
    Ref result = call_method(list, names.append, {item});
    return result ? 0 : -1;
}

int extend_items(PyObject* list, PyObject* items) {
    Ref result = call_method(list, names.extend, {items});
    return result ? 0 : -1;
}

int compare_truth(PyObject* left, PyObject* right, int op) {
    Ref result = Ref::steal(PyObject_RichCompare(left, right, op));
    return result ? truth(result.get()) : -1;
}

Ref records_where(PyObject* records, PyObject* attribute, PyObject* role, int op) {
    Ref iterator = Ref::steal(PyObject_GetIter(records));
    Ref selected = Ref::steal(PyList_New(0));
    if (!iterator || !selected) return Ref();
    while (Ref record = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref value = get_attr(record.get(), attribute);
        if (!value) return Ref();
        int kept = compare_truth(value.get(), role, op);
        if (kept < 0 || (kept > 0 && PyList_Append(selected.get(), record.get()) < 0)) return Ref();
    }
    if (PyErr_Occurred()) return Ref();
    return selected;
}

void set_key_error(PyObject* key) { _PyErr_SetKeyError(key); }

Ref Mapping::find(PyObject* key, Py_hash_t hash) const {
    if (exact_dict_) return Ref::borrow(_PyDict_GetItem_KnownHash(object_.get(), key, hash));
    // Membership first: a mapping may answer a subscript for a key it does
    // not hold (a dict subclass's `__missing__`).
    int present = PySequence_Contains(object_.get(), key);
    if (present <= 0) return Ref();
    return Ref::steal(PyObject_GetItem(object_.get(), key));
}

Ref Mapping::at(PyObject* key, Py_hash_t hash) const {
    if (!exact_dict_) return Ref::steal(PyObject_GetItem(object_.get(), key));
    Ref value = find(key, hash);
    if (!value && !PyErr_Occurred()) set_key_error(key);
    return value;
}

int Mapping::truth_at(PyObject* key, Py_hash_t hash) const {
    if (exact_dict_) {
        // The bools answer without running code, so the borrowed value will do.
        PyObject* value = _PyDict_GetItem_KnownHash(object_.get(), key, hash);
        if (value == Py_True) return 1;
        if (value == Py_False) return 0;
    }
    Ref value = at(key, hash);
    return value ? truth(value.get()) : -1;
}

int Mapping::contains(PyObject* key, Py_hash_t hash) const {
    if (!exact_dict_) return PySequence_Contains(object_.get(), key);
    if (_PyDict_GetItem_KnownHash(object_.get(), key, hash) != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
}

int Mapping::set(PyObject* key, Py_hash_t hash, PyObject* value) const {
    if (exact_dict_) return _PyDict_SetItem_KnownHash(object_.get(), key, value, hash);
    return PyObject_SetItem(object_.get(), key, value);
}

Ref read_graph(PyObject* self) { return get_attr(self, names.dag); }

int graph_has(PyObject* self, PyObject* node) {
    Ref graph = read_graph(self);
    if (!graph) return -1;
    Py_hash_t hash = PyObject_Hash(node);
    return hash == -1 ? -1 : Mapping(graph).contains(node, hash);
}

}  // namespace velmark

namespace velmark {

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

PyObject* add_new_records(PyObject* function, PyObject* const* args, RecordBuilder build, RecordGate gate,
                          PyObject* list_name, PyObject* dag_add) {
    PyObject* self = args[0];
    Ref iterator = Ref::steal(PyObject_GetIter(args[2]));
    if (!iterator) return nullptr;
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref record = build(function, args[1], item.get());
        if (!record) return nullptr;
        Ref stored_records = get_attr(self, list_name);
        if (!stored_records) return nullptr;
        int stored = sequence_contains(stored_records.get(), record.get());
        if (stored < 0) return nullptr;
        if (stored > 0) continue;
        int accepted = gate != nullptr ? gate(self, record.get()) : 1;
        if (accepted < 0) return nullptr;
        if (accepted == 0) continue;
        if (!call_method(self, dag_add, {record.get()})) return nullptr;
        stored_records = get_attr(self, list_name);
        if (!stored_records || append_item(stored_records.get(), record.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

PyObject* update_and_answer(PyObject* self, PyObject* internal_method, PyObject* role_name, PyObject* items) {
    if (!call_method(self, internal_method, {role_name, items}) || !call_method(self, names.save, {})) return nullptr;
    PyObject* stack[] = {self, role_name};
    return PyObject_VectorcallMethod(names.get_role_contents, stack, 1, names.role_name_keyword);
}

}  // namespace velmark
