// Class statements declared as data, and run as the interpreter runs a class
// statement: base, metaclass and namespace first, then the namespace filled
// in statement order (`__module__`, `__doc__`, `__qualname__`,
// `__annotations__`, the class's own attributes, its fields, its methods),
// then the metaclass called, the `__class__` cell filled and the class bound
// in the module.
//
// A failure at a statement of a class body adds the class body's traceback
// entry at that statement's line, then the module body's at the class's (the
// lines are explained in module_start.hpp).
#pragma once

#include <Python.h>

#include "pyext/class_statement.hpp"
#include "pyext/function.hpp"
#include "pyext/module_start.hpp"
#include "pyext/declaration.hpp"

namespace pyext {

constexpr int max_keywords = 4;

// `callee(positional, **keywords)`, the keywords in the order given and their
// values made anew for each call.
struct Call {
    struct Keyword {
        const char* key;
        Value value;
    };

    constexpr explicit Call(const char* callee) : callee(callee) {}

    // The call with `value` as its one positional argument.
    constexpr Call given(Value value) const {
        return changed(*this, [=](Call& call) { call.positional = value; });
    }
    // The call with one more keyword argument.
    constexpr Call with(const char* key, Value value) const {
        return changed(*this, [=](Call& call) { call.keywords[call.nkeywords++] = {key, value}; });
    }

    const char* callee;
    Value positional;
    Keyword keywords[max_keywords] = {};
    int nkeywords = 0;
};

// `name: annotation = field` at a line of the class body; a list field's item
// field is made first and passed to it by position.
struct Field {
    constexpr explicit Field(const char* name) : name(name) {}

    constexpr Field at(int statement_line) const {
        return changed(*this, [=](Field& field) { field.line = statement_line; });
    }
    constexpr Field annotated(const char* text) const {
        return changed(*this, [=](Field& field) { field.annotation = text; });
    }
    constexpr Field made_by(Call field_call) const {
        return changed(*this, [=](Field& field) { field.call = field_call; });
    }
    constexpr Field of_items(Call item_call) const {
        return changed(*this, [=](Field& field) { field.item = item_call; });
    }

    const char* name;
    int line = 0;
    const char* annotation = nullptr;
    Call call{nullptr};
    Call item{nullptr};
};

// How a class's annotations are stored.
enum class Annotations {
    None,          // the namespace gets no `__annotations__`
    Texts,         // the annotation's text itself (postponed evaluation)
    BuiltinTypes,  // the namespace's entry of that name, else the built-in type
};

class ClassBody;
// A class's own attributes, set in statement order through `ClassBody::set_at`.
using ClassAttributes = int (*)(ClassBody& body);

struct ClassDeclaration {
    constexpr explicit ClassDeclaration(const char* name) : name(name) {}

    constexpr ClassDeclaration derived_from(const char* base_name) const {
        return changed(*this, [=](ClassDeclaration& decl) { decl.base = base_name; });
    }
    constexpr ClassDeclaration at(int statement_line) const {
        return changed(*this, [=](ClassDeclaration& decl) { decl.line = statement_line; });
    }
    constexpr ClassDeclaration documented(const char* text) const {
        return changed(*this, [=](ClassDeclaration& decl) { decl.doc = text; });
    }
    constexpr ClassDeclaration annotated(Annotations kind) const {
        return changed(*this, [=](ClassDeclaration& decl) { decl.annotations = kind; });
    }
    constexpr ClassDeclaration with_attributes(ClassAttributes set_attributes) const {
        return changed(*this, [=](ClassDeclaration& decl) { decl.attributes = set_attributes; });
    }
    template <size_t N>
    constexpr ClassDeclaration with_fields(const Field (&table)[N]) const {
        return changed(*this, [&](ClassDeclaration& decl) {
            decl.fields = table;
            decl.nfields = N;
        });
    }
    template <size_t N>
    constexpr ClassDeclaration with_methods(const FunctionDef (&table)[N]) const {
        return changed(*this, [&](ClassDeclaration& decl) {
            decl.methods = table;
            decl.nmethods = N;
        });
    }

    const char* name;
    const char* base = nullptr;
    int line = 0;
    const char* doc = nullptr;
    Annotations annotations = Annotations::None;
    ClassAttributes attributes = nullptr;
    const Field* fields = nullptr;
    size_t nfields = 0;
    const FunctionDef* methods = nullptr;
    size_t nmethods = 0;
};

// A class body while it runs.
class ClassBody {
public:
    ClassBody(ModuleBody& module, const ClassDeclaration& decl)
        : module_(module), decl_(decl), statement_(module.globals, decl.name) {}

    // ns[key] = value for the statement at `line`; a null `value` (its error
    // set) fails there as well.
    int set_at(int line, const char* key, Ref value);
    // `name` as the class body reads it: the namespace, the module's
    // globals, the interpreter's builtins.
    Ref lookup(PyObject* name) { return statement_.lookup(name); }
    Ref lookup(const char* name) { return statement_.lookup(name); }

private:
    friend int declare_class(ModuleBody& module, const ClassDeclaration& decl);

    int header();
    int declare_field(const Field& field);
    Ref argument(const Value& value);
    Ref call(const Call& call, PyObject* callee, PyObject* positional);
    Ref annotation(const char* text);
    // Passes `status` on, adding the class body's traceback entry at `line`
    // when it failed.
    int at(int line, int status);

    ModuleBody& module_;
    const ClassDeclaration& decl_;
    ClassStatement statement_;
};

// The class statement of `decl`, which must outlive the module (a static
// table); 0, or -1 with the error set and the entries of the class body and
// module body added.
int declare_class(ModuleBody& module, const ClassDeclaration& decl);

// The class statements of `table`, in order, up to the first that fails.
template <size_t N>
int declare_classes(ModuleBody& module, const ClassDeclaration (&table)[N]) {
    for (const ClassDeclaration& decl : table) {
        if (declare_class(module, decl) < 0) return -1;
    }
    return 0;
}

}  // namespace pyext
