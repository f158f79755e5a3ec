// Where the interpreter calls into our C++: no C++ exception may cross into
// it.  Each entry point runs its body through `call_guarded`, which turns an
// exception into the fitting Python exception and returns the entry point's
// failure value.
#pragma once

#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <new>

namespace pyext {

template <typename Result, typename Body>
Result call_guarded(Result failed, Body&& body) {
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;  // a thread the interpreter ends at exit: let the unwind end it
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
    return failed;
}

}  // namespace pyext
