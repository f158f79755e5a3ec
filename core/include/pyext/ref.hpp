// Owned references.
//
// `Ref` owns exactly one reference (or none).  It is made either by consuming
// a new reference (`Ref::steal`, for what the C API returns as "new
// reference") or by taking one more on a borrowed pointer (`Ref::borrow`).
// Handing the reference on to the C API is explicit (`release`).  Plain
// `PyObject*` is a borrowed pointer everywhere else in this code base, and a
// borrowed pointer is never kept across a call that may run Python code.
#pragma once

#include <Python.h>

#include <utility>

namespace pyext {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~Ref() { Py_XDECREF(p_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Consumes a new reference; null stays null (the error is still set).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Takes a reference of its own on a borrowed pointer.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Hands the reference to the caller.
    [[nodiscard]] PyObject* release() noexcept {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset() noexcept { Py_CLEAR(p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A pending exception taken out of the interpreter's indicator, owned until
// it is put back with `restore`.
class PendingError {
public:
    PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    PendingError(const PendingError&) = delete;
    PendingError& operator=(const PendingError&) = delete;
    ~PendingError() {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(traceback_);
    }
    void restore() noexcept {
        PyErr_Restore(type_, value_, traceback_);
        type_ = value_ = traceback_ = nullptr;
    }

private:
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

}  // namespace pyext
