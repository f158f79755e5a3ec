// The function type of compiled methods.
//
// A `FunctionDef` describes one function: its parameters, defaults,
// annotations and documentation, and the C++ body that runs once the
// arguments are bound.  `function_new` makes a function object from it that
// behaves like a Python function where host code can tell: it binds to an
// instance as a method, binds arguments with the interpreter's rules and
// messages, counts against the recursion limit, copies and pickles by
// reference, and reports `__name__`, `__qualname__`, `__module__`,
// `__doc__`, `__defaults__`, `__kwdefaults__`, `__annotations__`,
// `__closure__` and a `__code__` that carries its parameters, so
// `inspect.signature` reads it like a Python function.
//
// Definitions are tables the compiler fills (see declaration.hpp).
#pragma once

#include <Python.h>

#include <initializer_list>

#include "pyext/ref.hpp"
#include "pyext/declaration.hpp"

namespace pyext {

// The body of a function.  `args` holds the bound arguments in parameter
// order, borrowed for the duration of the call; for a function that collects
// keywords the last one is the keyword dict.  Null with an error set on
// failure.
using FunctionBody = Ref (*)(PyObject* function, PyObject* const* args);

constexpr int max_parameters = 8;

// A parameter, with the text of its annotation if it has one.
struct Parameter {
    constexpr Parameter(const char* name, const char* annotation = nullptr) : name(name), annotation(annotation) {}
    const char* name;
    const char* annotation;
};

// A parameter annotated with `annotation`.
constexpr Parameter typed(const char* name, const char* annotation) { return Parameter(name, annotation); }

struct FunctionDef {
    struct Annotation {
        const char* key;  // a parameter, or "return"
        const char* text;
    };

    constexpr FunctionDef(const char* name, FunctionBody body) : name(name), body(body) {}

    // Positional-or-keyword parameters, in order; each annotated one adds
    // its annotation, in the same order.
    constexpr FunctionDef taking(std::initializer_list<Parameter> parameters) const {
        return changed(*this, [&](FunctionDef& def) {
            for (const Parameter& parameter : parameters) {
                def.params[def.nparams++] = parameter.name;
                if (parameter.annotation == nullptr) continue;
                def.annotations[def.nannotations++] = {parameter.name, parameter.annotation};
            }
        });
    }
    // A last parameter that collects the keyword arguments no other matches.
    constexpr FunctionDef collecting_keywords(const char* parameter) const {
        return changed(taking({parameter}), [](FunctionDef& def) { def.collects_keywords = true; });
    }
    // Defaults of the last parameters, in order.
    constexpr FunctionDef defaulting(std::initializer_list<Value> values) const {
        return changed(*this, [&](FunctionDef& def) {
            for (const Value& value : values) def.defaults[def.ndefaults++] = value;
        });
    }
    constexpr FunctionDef returning(const char* text) const {
        return changed(*this, [=](FunctionDef& def) { def.annotations[def.nannotations++] = {"return", text}; });
    }
    constexpr FunctionDef documented(const char* text) const {
        return changed(*this, [=](FunctionDef& def) { def.doc = text; });
    }
    // The function reads its class through a closure cell `__class__`, as
    // zero-argument `super()` does.
    constexpr FunctionDef closing_over_class() const {
        return changed(*this, [](FunctionDef& def) { def.uses_class_cell = true; });
    }
    // The line of the `def`, which a failure in the body also reports.
    constexpr FunctionDef at(int line) const {
        return changed(*this, [=](FunctionDef& def) { def.first_line = def.body_line = line; });
    }
    // The line a failure in the body reports, when it is not the `def`'s.
    constexpr FunctionDef failing_at(int line) const {
        return changed(*this, [=](FunctionDef& def) { def.body_line = line; });
    }

    // The parameters bound by position or keyword, without a collector.
    constexpr int positional_count() const { return nparams - (collects_keywords ? 1 : 0); }

    const char* name;
    FunctionBody body;
    const char* params[max_parameters] = {};
    int nparams = 0;
    bool collects_keywords = false;
    Value defaults[max_parameters] = {};
    int ndefaults = 0;
    Annotation annotations[max_parameters] = {};
    int nannotations = 0;
    const char* doc = nullptr;
    bool uses_class_cell = false;
    int first_line = 0;
    int body_line = 0;
};

// What a function object gets besides its definition, all borrowed.
struct FunctionParts {
    PyObject* qualname;
    PyObject* module_name;
    PyObject* globals;
    PyObject* class_cell;   // the `__class__` cell, for a function that closes over it
    const char* filename;   // shown by traceback entries
};

// Readies the function type; the module start-up calls it.
int function_type_ready();

// A function object for `def`, which must outlive it (a static table).
Ref function_new(const FunctionDef& def, const FunctionParts& parts);

// Borrowed: the module globals of a function made by `function_new`.
PyObject* function_globals(PyObject* function);
// Borrowed: the `__class__` cell of a function that closes over its class.
PyObject* function_class_cell(PyObject* function);

// True when `object` is a function of this type running `body`.
bool is_function_with_body(PyObject* object, FunctionBody body);

}  // namespace pyext
