// Field declarations of a class body: `name: annotation = Constructor(item, **options)`.
//
// Each declaration looks its constructors up through the class namespace,
// builds the item field first, passes fresh keyword options (so no two
// fields share a `default` list), stores the field and then its annotation.
#pragma once

#include <Python.h>

#include "pyext/class_statement.hpp"

namespace pyext {

enum class OptionValue { True, Text, NewList };

struct FieldOption {
    const char* key;
    OptionValue kind;
    const char* text = nullptr;
};

enum class AnnotationKind {
    Text,          // the annotation is the string itself (postponed evaluation)
    BuiltinType,   // the namespace's entry of that name, else the built-in type
};

struct FieldDeclaration {
    const char* name;
    int line;  // the class body's line of this statement
    const char* annotation;
    const char* constructor;
    FieldOption options[4];
    int noptions;
    // The item field of a list field (null for none), with its own options.
    const char* item_constructor = nullptr;
    FieldOption item_options[1] = {};
    int nitem_options = 0;
    // For an item field that holds records: the record class, by position or
    // as the keyword `document_type`.
    const char* record_class = nullptr;
    bool record_as_keyword = false;
};

int declare_field(ClassStatement& statement, const FieldDeclaration& field, AnnotationKind annotation_kind);

}  // namespace pyext
