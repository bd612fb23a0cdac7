// tests/cpp/attach_test.cpp: attach_count, the postponed release of
// references, and InterpreterOnceCell, with real threads.
#include "module/attach.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "module/once_cell.h"
#include "python_fixture.h"

namespace talvora {
namespace {

using testing::on_threads;
using testing::PythonTest;
using testing::run_python;
using testing::take_exception_text;

using AttachTest = PythonTest;

TEST_F(AttachTest, ReleasesFromAnUnattachedThreadWaitForTheNextEntryInQueueOrder) {
    PyRef log = run_python("result = []");
    PyRef noisy = run_python("class Noisy:\n"
                             "    def __init__(self, name, log): self.name, self.log = name, log\n"
                             "    def __del__(self): self.log.append(self.name)\n"
                             "result = Noisy");
    PyObject* first = PyObject_CallFunction(noisy.get(), "sO", "first", log.get());
    PyObject* second = PyObject_CallFunction(noisy.get(), "sO", "second", log.get());
    on_threads(1, [&](int) {
        EXPECT_EQ(attach_count, 0);
        release_reference(first);
        release_reference(second);
        EXPECT_EQ(PyList_GET_SIZE(log.get()), 0) << "released at once";
    });
    // Re-attaching this thread drained the queue.
    PyRef order = PyRef::steal(PyObject_Repr(log.get()));
    EXPECT_STREQ(PyUnicode_AsUTF8(order.get()), "['first', 'second']");
    EXPECT_EQ(attach_count, 1);
}

// A thread keeps queueing releases while this one forks: a child that
// inherited the queue's lock held by that thread would wait for it forever.
TEST_F(AttachTest, AForkedChildCanQueueWhileAnotherThreadWasQueueing) {
    std::atomic<bool> stop{false};
    std::thread queueing([&] {
        while (!stop.load(std::memory_order_relaxed))
            postpone_release(Py_None); // immortal: the count is not touched
    });
    int hung = 0;
    for (int round = 0; round < 100 && hung == 0; ++round) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            postpone_release(Py_None);
            _exit(0);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                hung = round + 1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    stop = true;
    queueing.join();
    drain_pending_releases();
    EXPECT_EQ(hung, 0) << "child of fork " << hung << " hung on the queue's lock";
}

using AttachDeathTest = PythonTest;

TEST_F(AttachDeathTest, EnteringAProhibitedThreadIsFatal) {
    EXPECT_DEATH((attach_count = -1, EntryScope()),
                 "prohibited while a __traverse__ implementation is running");
    EXPECT_DEATH((attach_count = -2, EntryScope()),
                 "Attaching a thread to the interpreter is currently prohibited.");
}

using OnceCellTest = PythonTest;

TEST_F(OnceCellTest, ConcurrentReadersRunTheInitialiserOnceAndShareItsValue) {
    static constinit InterpreterOnceCell cell;
    std::atomic<int> runs{0};
    std::vector<PyObject*> seen(4, nullptr);
    on_threads(4, [&](int i) {
        EntryScope entry;
        seen[i] =
            cell.get_or_init([&]() -> PyResult<PyRef> {
                    ++runs;
                    run_python("import time\ntime.sleep(0.05)"); // the others arrive meanwhile
                    return PyRef::steal(PyList_New(0));
                })
                .value();
    });
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
    PyObject* filled = cell.get_or_init(initializer).value();
    EXPECT_EQ(PyLong_AsLong(filled), 7);
    EXPECT_EQ(cell.get_or_init(initializer).value(), filled);
    EXPECT_EQ(runs, 2);
}

TEST_F(OnceCellTest, AnInitialiserThatReadsItsOwnCellKeepsTheFirstValueStored) {
    static constinit InterpreterOnceCell cell;
    int runs = 0;
    PyObject* inner = nullptr;
    std::function<PyResult<PyRef>()> initializer = [&]() -> PyResult<PyRef> {
        PyRef value = PyRef::steal(PyLong_FromLong(++runs));
        if (runs == 1) inner = cell.get_or_init(initializer).value(); // would wait for itself
        return value;
    };
    PyObject* outer = cell.get_or_init(initializer).value();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(outer, inner);
    EXPECT_EQ(PyLong_AsLong(outer), 2);
    EXPECT_EQ(cell.get_or_init(initializer).value(), outer);
}

TEST_F(OnceCellTest, ANestedFailureLeavesTheOuterRunInCharge) {
    static constinit InterpreterOnceCell cell;
    auto failing = []() -> PyResult<PyRef> { return type_error(Text("nested attempt fails")); };
    PyObject* filled = cell.get_or_init([&]() -> PyResult<PyRef> {
                               PyResult<PyObject*> nested = cell.get_or_init(failing);
                               EXPECT_FALSE(nested.ok());
                               if (!nested.ok()) (void)nested.take_error();
                               return PyRef::steal(PyLong_FromLong(5));
                           })
                           .value();
    EXPECT_EQ(PyLong_AsLong(filled), 5);
    EXPECT_EQ(cell.get_or_init(failing).value(), filled);
}

} // namespace
} // namespace talvora
