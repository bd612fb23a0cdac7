// tests/cpp/errors_test.cpp: PyErrValue, its producers and the fatal paths,
// against an embedded interpreter.
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

PyObject* type_object(PyTypeObject& type) {
    return reinterpret_cast<PyObject*>(&type);
}

TEST_F(ErrorsTest, ProducerOfANonExceptionTypeRaisesTypeErrorInstead) {
    restore_error(
        PyErrValue::lazy(ErrorProducer::raw_type(PyRef::borrow(type_object(PyLong_Type)))));
    EXPECT_EQ(take_exception_text(), "TypeError: exceptions must derive from BaseException");
}

TEST_F(ErrorsTest, ProducerOfAnExceptionTypeRaisesIt) {
    restore_error(PyErrValue::lazy(ErrorProducer::raw_type(PyRef::borrow(PyExc_KeyError))));
    EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_KeyError));
    PyErr_Clear();
}

TEST_F(ErrorsTest, FetchWithNothingPendingIsASystemError) {
    restore_error(fetch_error());
    EXPECT_EQ(take_exception_text(), "SystemError: attempted to fetch exception but none was set");
}

TEST_F(ErrorsTest, TakeWithNothingPendingIsEmpty) {
    EXPECT_FALSE(take_error().has_value());
}

TEST_F(ErrorsTest, NormalizingTwiceGivesTheSameObject) {
    PyErrValue error = type_error(Text("once"));
    PyObject* first = normalize_error(error);
    EXPECT_EQ(normalize_error(error), first);
    EXPECT_TRUE(PyErr_GivenExceptionMatches(first, PyExc_TypeError));
    // Raising a normalised value raises that very object.
    PyRef kept = PyRef::borrow(first);
    restore_error(std::move(error));
    PyRef raised = PyRef::steal(PyErr_GetRaisedException());
    EXPECT_EQ(raised.get(), kept.get());
}

TEST_F(ErrorsTest, FetchedErrorsAreNormalizedValuesOfThePendingException) {
    PyErr_SetString(PyExc_ValueError, "pending");
    PyErrValue error = fetch_error();
    EXPECT_FALSE(PyErr_Occurred());
    restore_error(std::move(error));
    EXPECT_EQ(take_exception_text(), "ValueError: pending");
}

struct MismatchCase {
    const char* object_code;
    const char* expected_code;
    const char* message;
};

void PrintTo(const MismatchCase& mismatch, std::ostream* out) {
    *out << mismatch.message;
}

class TypeMismatchTest : public PythonTest, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(TypeMismatchTest, Message) {
    std::string code = std::string("import types\nresult = (") + GetParam().object_code + ", " +
                       GetParam().expected_code + ")";
    PyRef pair = run_python(code.c_str());
    ASSERT_TRUE(pair);
    restore_error(
        type_mismatch_error(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1)));
    EXPECT_EQ(take_exception_text(), std::string("TypeError: ") + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TypeMismatchTest,
    ::testing::Values(
        MismatchCase{"1.5", "types.ModuleType", "'float' object is not an instance of 'module'"},
        MismatchCase{"None", "list", "'None' is not an instance of 'list'"},
        MismatchCase{"1", "(str, bytes)", "'int' object is not an instance of 'str | bytes'"},
        MismatchCase{"1", "type(None)", "'int' object is not an instance of 'None'"},
        MismatchCase{"types.SimpleNamespace()", "str",
                     "'SimpleNamespace' object is not an instance of 'str'"}));

using ErrorsDeathTest = PythonTest;

TEST_F(ErrorsDeathTest, RestoringAValueWithNoFormIsFatal) {
    EXPECT_DEATH(
        {
            PyErrValue error = type_error(Text("moved"));
            PyErrValue taken = std::move(error);
            restore_error(std::move(error));
        },
        "PyErr state should never be invalid outside of normalization");
}

TEST_F(ErrorsDeathTest, NullFromAConstructorReportsThePendingErrorAndAborts) {
    EXPECT_DEATH(
        {
            PyErr_SetString(PyExc_MemoryError, "no memory left");
            api_call_failed();
        },
        "MemoryError: no memory left(.|\n)*PyObject pointer is null");
}

TEST_F(ErrorsDeathTest, FatalFailureDescribesTheErrorAndItsTraceback) {
    EXPECT_DEATH(
        {
            PyRun_SimpleString("def fail():\n    raise ValueError('bad value')\n");
            PyRef main = PyRef::borrow(PyImport_AddModule("__main__"));
            PyRef result = PyRef::steal(PyObject_CallMethod(main.get(), "fail", nullptr));
            fatal_failure("could not append __name__ to __all__", fetch_error());
        },
        "could not append __name__ to __all__: ValueError: bad value\n"
        "Traceback \\(most recent call last\\):(.|\n)*in fail");
}

TEST_F(ErrorsDeathTest, PanicExceptionTakenFromPythonAborts) {
    EXPECT_DEATH(
        {
            PyErr_SetString(PyExc_ValueError, "the first fetch creates the type");
            (void)take_error();
            PyRef panic = run_python("result, = [c for c in BaseException.__subclasses__()"
                                     " if c.__name__ == 'PanicException']");
            PyErr_SetString(panic.get(), "from python");
            (void)take_error();
        },
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n(.|\n)*PanicException: from python");
}

} // namespace
} // namespace talvora
