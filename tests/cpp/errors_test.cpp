// tests/cpp/errors_test.cpp: PyErrValue, its producers and the fatal paths.
#include "module/errors.h"

#include <gtest/gtest.h>

#include <ostream>

#include "python_fixture.h"

namespace talvora {
namespace {

using testing::PythonTest;
using testing::run_python;
using testing::take_exception_text;

using ErrorsTest = PythonTest;

TEST_F(ErrorsTest, FetchWithNothingPendingIsASystemError) {
    restore_error(fetch_error());
    EXPECT_EQ(take_exception_text(), "SystemError: attempted to fetch exception but none was set");
}

TEST_F(ErrorsTest, NormalizingTwiceGivesTheObjectThatIsRaised) {
    PyErrValue error = type_error(Text("once"));
    PyRef first = PyRef::borrow(normalize_error(error));
    EXPECT_EQ(normalize_error(error), first.get());
    restore_error(std::move(error));
    PyRef raised = PyRef::steal(PyErr_GetRaisedException());
    EXPECT_EQ(raised.get(), first.get());
}

struct Mismatch {
    const char* pair; // Python: (object, expected type)
    const char* message;
};
void PrintTo(const Mismatch& mismatch, std::ostream* out) {
    *out << mismatch.message;
}

class TypeMismatchTest : public PythonTest, public ::testing::WithParamInterface<Mismatch> {};

TEST_P(TypeMismatchTest, Message) {
    PyRef pair = run_python((std::string("import types\nresult = ") + GetParam().pair).c_str());
    restore_error(
        type_mismatch_error(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1)));
    EXPECT_EQ(take_exception_text(), std::string("TypeError: ") + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TypeMismatchTest,
    ::testing::Values(
        Mismatch{"1.5, types.ModuleType", "'float' object is not an instance of 'module'"},
        Mismatch{"None, list", "'None' is not an instance of 'list'"},
        Mismatch{"1, (str, bytes)", "'int' object is not an instance of 'str | bytes'"},
        Mismatch{"1, type(None)", "'int' object is not an instance of 'None'"},
        Mismatch{"types.SimpleNamespace(), str",
                 "'SimpleNamespace' object is not an instance of 'str'"}));

using ErrorsDeathTest = PythonTest;

TEST_F(ErrorsDeathTest, RestoringAValueWithNoFormIsFatal) {
    PyErrValue error = type_error(Text("moved"));
    PyErrValue taken = std::move(error);
    EXPECT_DEATH(restore_error(std::move(error)),
                 "PyErr state should never be invalid outside of normalization");
}

TEST_F(ErrorsDeathTest, NullFromAConstructorReportsThePendingErrorAndAborts) {
    EXPECT_DEATH((PyErr_SetString(PyExc_MemoryError, "no memory left"), api_call_failed()),
                 "MemoryError: no memory left(.|\n)*PyObject pointer is null");
}

TEST_F(ErrorsDeathTest, FatalFailureDescribesTheErrorAndItsTraceback) {
    PyRef error = run_python("def fail():\n    raise ValueError('bad value')\n"
                             "try:\n    fail()\nexcept ValueError as caught:\n    result = caught");
    EXPECT_DEATH(fatal_failure("could not append __name__ to __all__",
                               PyErrValue::normalized(std::move(error))),
                 "could not append __name__ to __all__: ValueError: bad value\n"
                 "Traceback \\(most recent call last\\):(.|\n)*in fail");
}

} // namespace
} // namespace talvora
