// Owned references.
//
// `Ref` owns exactly one reference (or none).  It is made either by consuming
// a new reference (`Ref::steal`, for what the C API returns as "new
// reference") or by taking one more on a borrowed pointer (`Ref::borrow`).
// Handing the reference on to the C API is explicit (`release`).
//
// Every function of ours that makes a new reference returns a `Ref`, and one
// that takes ownership takes `Ref&&`; a plain `PyObject*` is a borrowed
// pointer.  Only the interpreter's C API (with the thin wrappers of its
// private part) and the type slots it calls hand new references over as
// plain pointers, and those are owned at once.  A borrowed pointer is never
// kept across a call that may run Python code.
#pragma once

#include <Python.h>

#include <atomic>
#include <utility>

#include "pyext/private_api.hpp"

namespace pyext {

// Set once the interpreter begins to exit, by a hook that its `atexit`
// runs before it ends other threads (see `watch_interpreter_exit`).
extern std::atomic<bool> interpreter_exiting;

// Py_XDECREF for owners' destructors.  At exit the interpreter ends every
// other thread that asks for its lock again with pthread_exit, and the forced
// unwind runs our destructors on that thread without the lock, possibly after
// finalisation has torn down the thread states.  Such a thread leaves its
// references to the ending process instead of racing the one that finalises.
// Until the exit begins every caller holds the lock, and the test is one load.
//
// Nothing that releases a reference is noexcept, and no destructor of an
// owner either: the release may run a `__del__` that gives up the lock, the
// thread may be ended right there, and a noexcept frame on the way out would
// turn that unwind into std::terminate.  For the same reason no standard
// container releases a reference of ours (its members that destroy elements
// are noexcept): the walk's stack, for one, releases what it holds itself.
inline void drop_reference(PyObject* p) {
    if (p == nullptr) return;
    if (!interpreter_exiting.load(std::memory_order_relaxed) || holds_interpreter_lock()) Py_DECREF(p);
}

// Registers the hook that sets `interpreter_exiting`, once per process; the
// module start-up calls it.  0, or -1 with an error set.
int watch_interpreter_exit();

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~Ref() noexcept(false) { drop_reference(p_); }

    Ref& operator=(Ref other) {
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
    void reset() { Py_CLEAR(p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A pending exception taken out of the interpreter's indicator, owned until
// it is put back.
class PendingError {
public:
    PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    PendingError(const PendingError&) = delete;
    PendingError& operator=(const PendingError&) = delete;
    ~PendingError() noexcept(false) {
        drop_reference(type_);
        drop_reference(value_);
        drop_reference(traceback_);
    }

    // Borrowed: the held exception's traceback, or null.
    PyObject* traceback() const { return traceback_; }

    // Makes the held exception pending again.
    void restore() {
        PyErr_Restore(type_, value_, traceback_);
        forget();
    }
    // When another exception is pending now, makes the held one its
    // `__context__`, as `except: cleanup(); raise` does when the cleanup
    // raises; otherwise the same as `restore`.
    void restore_as_context() {
        chain_exceptions(type_, value_, traceback_);
        forget();
    }

private:
    void forget() noexcept { type_ = value_ = traceback_ = nullptr; }

    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

}  // namespace pyext
