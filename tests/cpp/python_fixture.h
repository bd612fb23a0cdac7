// tests/cpp/python_fixture.h: an embedded interpreter for the tests of the
// module's internals, and helpers to run Python and read its exceptions.
#pragma once

#include <Python.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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
    void TearDown() override { EXPECT_FALSE(PyErr_Occurred()) << "a test left an exception set"; }

    EntryScope entry_;
};

// Runs Python statements in a fresh namespace; returns `result` if they set it.
inline PyRef run_python(const char* code) {
    PyRef globals = PyRef::steal(PyDict_New());
    PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
    if (!PyRef::steal(PyRun_String(code, Py_file_input, globals.get(), globals.get())))
        PyErr_Print();
    return PyRef::borrow(PyDict_GetItemString(globals.get(), "result"));
}

// The pending exception as "TypeName: message", cleared; "" if none.
inline std::string take_exception_text() {
    PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    if (!exception) return "";
    PyRef str = PyRef::steal(PyObject_Str(exception.get()));
    return std::string(Py_TYPE(exception.get())->tp_name) + ": " + PyUnicode_AsUTF8(str.get());
}

// Runs `body` on `count` new threads that hold the interpreter in turn,
// while this thread waits detached.
template <class Body> void on_threads(int count, Body body) {
    const Detachment detachment = detach();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            PyGILState_STATE state = PyGILState_Ensure();
            body(i);
            PyGILState_Release(state);
        });
    for (std::thread& thread : threads)
        thread.join();
    reattach(detachment);
}

} // namespace talvora::testing
