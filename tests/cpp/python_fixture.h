// tests/cpp/python_fixture.h: an embedded interpreter for the tests of the
// module's internals, and helpers to look at the exception they leave.
#pragma once

#include <Python.h>

#include <gtest/gtest.h>

#include <string>

#include "module/attach.h"
#include "module/ref.h"

namespace talvora::testing {

// Every test runs on the main thread, attached and inside the module, as an
// entry point would.
class PythonTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        if (!Py_IsInitialized()) Py_InitializeEx(0);
    }
    void TearDown() override { ASSERT_FALSE(PyErr_Occurred()) << "a test left an exception set"; }

    EntryScope entry_;
};

// Runs Python statements in a fresh namespace; returns the value of `result`
// if the code sets it.
inline PyRef run_python(const char* code) {
    PyRef globals = PyRef::steal(PyDict_New());
    PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
    PyRef done = PyRef::steal(PyRun_String(code, Py_file_input, globals.get(), globals.get()));
    if (!done) PyErr_Print();
    return PyRef::borrow(PyDict_GetItemString(globals.get(), "result"));
}

// The pending exception as "TypeName: message", cleared; "" if none.
inline std::string take_exception_text() {
    PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    if (!exception) return "";
    PyRef str = PyRef::steal(PyObject_Str(exception.get()));
    return std::string(Py_TYPE(exception.get())->tp_name) + ": " + PyUnicode_AsUTF8(str.get());
}

} // namespace talvora::testing
