// Where the interpreter calls into our C++: no C++ exception may cross into
// it.  Each entry point runs its body through `call_guarded`, which turns an
// exception into the fitting Python exception and returns the entry point's
// failure value.
#pragma once

#include <Python.h>

#include <exception>
#include <new>

namespace pyext {

template <typename Result, typename Body>
Result call_guarded(Result failed, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    } catch (...) {
        // An exception that is not C++'s own has no exception object to
        // point at.  The one that reaches us is the forced unwind with which
        // the interpreter ends a thread at exit, and it must go on to end the
        // thread.  (Catching it by its type, `abi::__forced_unwind&`, would
        // bind that reference to no object.)
        if (!std::current_exception()) throw;
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
    return failed;
}

}  // namespace pyext
