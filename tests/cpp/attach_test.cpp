// tests/cpp/attach_test.cpp: attach_count, detaching, the postponed release
// of references, and InterpreterOnceCell, with real threads.
#include "module/attach.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "module/once_cell.h"
#include "python_fixture.h"

namespace talvora {
namespace {

using testing::PythonTest;
using testing::run_python;
using testing::take_exception_text;

using AttachTest = PythonTest;

// Runs `body` on a new thread that holds the interpreter but is not counted
// as attached, while this thread waits detached.
template <class Body> void on_unattached_thread(Body body) {
    const Detachment detachment = detach();
    std::thread([&] {
        PyGILState_STATE state = PyGILState_Ensure();
        EXPECT_EQ(attach_count, 0);
        body();
        PyGILState_Release(state);
    }).join();
    reattach(detachment);
}

TEST_F(AttachTest, DetachingSavesTheCountAndReattachingRestoresIt) {
    const std::int64_t before = attach_count;
    const Detachment detachment = detach();
    EXPECT_EQ(attach_count, 0);
    EXPECT_EQ(PyThreadState_GetUnchecked(), nullptr);
    reattach(detachment);
    EXPECT_EQ(attach_count, before);
    EXPECT_NE(PyThreadState_GetUnchecked(), nullptr);
}

TEST_F(AttachTest, ReleasesFromAnUnattachedThreadWaitForTheNextEntryInQueueOrder) {
    PyRef log = run_python("result = []");
    PyRef make = run_python("class Noisy:\n"
                            "    def __init__(self, name, log): self.name, self.log = name, log\n"
                            "    def __del__(self): self.log.append(self.name)\n"
                            "result = Noisy");
    PyObject* first = PyObject_CallFunction(make.get(), "sO", "first", log.get());
    PyObject* second = PyObject_CallFunction(make.get(), "sO", "second", log.get());
    on_unattached_thread([&] {
        release_reference(first);
        release_reference(second);
        EXPECT_EQ(PyList_GET_SIZE(log.get()), 0) << "released at once";
    });
    // reattach() drained the queue on the way back.
    ASSERT_EQ(PyList_GET_SIZE(log.get()), 2);
    EXPECT_STREQ(PyUnicode_AsUTF8(PyList_GET_ITEM(log.get(), 0)), "first");
    EXPECT_STREQ(PyUnicode_AsUTF8(PyList_GET_ITEM(log.get(), 1)), "second");
}

TEST_F(AttachTest, AnEntryDrainsWhatWasQueued) {
    PyObject* object = PySet_New(nullptr);
    PyRef watcher = PyRef::steal(PyWeakref_NewRef(object, nullptr));
    Py_INCREF(object);
    const std::int64_t saved = attach_count;
    attach_count = 0;
    release_reference(object); // queued: this thread is not counted as attached
    release_reference(object);
    attach_count = saved;
    EXPECT_EQ(Py_REFCNT(object), 2);
    {
        EntryScope nested;
    }
    PyObject* target = nullptr;
    ASSERT_EQ(PyWeakref_GetRef(watcher.get(), &target), 0) << "the set is gone";
}

using AttachDeathTest = PythonTest;

TEST_F(AttachDeathTest, EnteringAProhibitedThreadIsFatal) {
    EXPECT_DEATH(
        {
            attach_count = -1;
            EntryScope entry;
        },
        "prohibited while a __traverse__ implementation is running");
    EXPECT_DEATH(
        {
            attach_count = -2;
            EntryScope entry;
        },
        "Attaching a thread to the interpreter is currently prohibited.");
}

using OnceCellTest = PythonTest;

TEST_F(OnceCellTest, ConcurrentReadersRunTheInitialiserOnceAndShareItsValue) {
    static constinit InterpreterOnceCell cell;
    std::atomic<int> runs{0};
    std::vector<PyObject*> seen(4, nullptr);
    const Detachment detachment = detach();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            PyGILState_STATE state = PyGILState_Ensure();
            {
                EntryScope entry;
                PyResult<PyObject*> value = cell.get_or_init([&]() -> PyResult<PyRef> {
                    ++runs;
                    // Lets the other threads arrive while this one initialises.
                    run_python("import time\ntime.sleep(0.05)");
                    return PyRef::steal(PyList_New(0));
                });
                EXPECT_TRUE(value.ok());
                seen[i] = value.value();
            }
            PyGILState_Release(state);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    reattach(detachment);
    EXPECT_EQ(runs, 1);
    for (PyObject* value : seen)
        EXPECT_EQ(value, seen[0]);
}

TEST_F(OnceCellTest, AFailedInitialiserLeavesTheCellEmptyForTheNextReader) {
    static constinit InterpreterOnceCell cell;
    int runs = 0;
    auto initializer = [&]() -> PyResult<PyRef> {
        if (++runs == 1) return type_error(Text("first attempt fails"));
        return PyRef::steal(PyLong_FromLong(7));
    };
    PyResult<PyObject*> failed = cell.get_or_init(initializer);
    ASSERT_FALSE(failed.ok());
    restore_error(failed.take_error());
    EXPECT_EQ(take_exception_text(), "TypeError: first attempt fails");
    PyResult<PyObject*> filled = cell.get_or_init(initializer);
    ASSERT_TRUE(filled.ok());
    EXPECT_EQ(PyLong_AsLong(filled.value()), 7);
    EXPECT_EQ(cell.get_or_init(initializer).value(), filled.value());
    EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace talvora
