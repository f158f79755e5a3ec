// What the declaration tables (functions, fields, classes) are made of:
// the values they hand to calls, and the one step of their builders.
//
// A table is filled by the compiler from named steps, each of which returns
// a copy with one thing changed:
//
//     FunctionDef("_dfs", dfs_body).taking({"self", typed("start", "str")}).at(98)
#pragma once

#include <Python.h>

#include "pyext/ref.hpp"

namespace pyext {

// A copy of `object` with `change` applied to it.
template <typename T, typename Change>
constexpr T changed(T object, Change change) {
    change(object);
    return object;
}

// A value handed to a call: absent, None, True, a text, a fresh empty list
// (made anew for each use, so no two fields share one), or a name that the
// class body reads when it runs.
struct Value {
    enum class Kind { Absent, None, True, Text, NewList, Name };

    static constexpr Value none() { return Value{Kind::None}; }
    static constexpr Value yes() { return Value{Kind::True}; }
    static constexpr Value text(const char* text) { return Value{Kind::Text, text}; }
    static constexpr Value new_list() { return Value{Kind::NewList}; }
    // The object bound to `name` where the class body runs.
    static constexpr Value name(const char* name) { return Value{Kind::Name, name}; }

    Kind kind = Kind::Absent;
    const char* text_or_name = nullptr;
};

// The object of a value that needs no name resolved; null with an error set
// for one that does.
Ref constant_object(const Value& value);

}  // namespace pyext
