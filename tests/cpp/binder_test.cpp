// tests/cpp/binder_test.cpp: bind_arguments and its messages for signatures
// beyond the shipped ones (positional-only, keyword-only, optional and method
// parameters), and the note on a conversion failure.
#include "module/call.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "python_fixture.h"

namespace talvora {
namespace {

using testing::PythonTest;
using testing::take_exception_text;

constexpr std::string_view ABC[] = {"a", "b", "c"};
constexpr KeywordOnlyParameter KM[] = {{"k", true}, {"m", false}};
constexpr CallSignature POSITIONAL_ONLY{"f", std::nullopt, ABC, 2, 3, {}}; // f(a, b, /, c)
constexpr CallSignature KEYWORD_ONLY{"g", std::nullopt, ABC, 0, 1, KM};    // g(a, b=, c=, *, k, m=)
constexpr CallSignature METHOD{"h", "C", ABC, 0, 3, {}};                   // C.h(a, b, c)
constexpr CallSignature NO_PARAMETERS{"z", std::nullopt, {}, 0, 0, {}};    // z()

// Binds integer arguments; returns the slots ("_" when empty) or the error.
std::string bind(const CallSignature& signature, std::initializer_list<long> positional,
                 std::initializer_list<std::pair<const char*, long>> keywords = {}) {
    std::vector<PyRef> owned;
    std::vector<PyObject*> args;
    for (long value : positional)
        args.push_back(owned.emplace_back(PyRef::steal(PyLong_FromLong(value))).get());
    PyRef kwnames = keywords.size()
                        ? PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())))
                        : PyRef();
    Py_ssize_t i = 0;
    for (auto [name, value] : keywords) {
        PyTuple_SET_ITEM(kwnames.get(), i++, PyUnicode_FromString(name));
        args.push_back(owned.emplace_back(PyRef::steal(PyLong_FromLong(value))).get());
    }
    std::vector<PyObject*> slots(signature.slot_count(), nullptr);
    MaybeError error =
        bind_arguments(signature, args.empty() ? nullptr : args.data(),
                       static_cast<Py_ssize_t>(positional.size()), kwnames.get(), slots);
    if (error) {
        restore_error(std::move(*error));
        return take_exception_text();
    }
    std::string bound;
    for (PyObject* slot : slots)
        bound += slot ? std::to_string(PyLong_AsLong(slot)) : "_";
    return bound;
}

using BinderTest = PythonTest;

TEST_F(BinderTest, FillsPositionalThenKeywordOnlySlots) {
    EXPECT_EQ(bind(KEYWORD_ONLY, {1}, {{"m", 5}, {"k", 2}}), "1__25");
    EXPECT_EQ(bind(KEYWORD_ONLY, {1, 2}, {{"c", 3}, {"k", 4}}), "1234_");
    EXPECT_EQ(bind(POSITIONAL_ONLY, {1, 2}, {{"c", 3}}), "123");
    EXPECT_EQ(bind(NO_PARAMETERS, {}), "");
}

TEST_F(BinderTest, Messages) {
    const std::string positional_only =
        "TypeError: f() got some positional-only arguments passed as keyword arguments: ";
    EXPECT_EQ(bind(POSITIONAL_ONLY, {}, {{"a", 1}, {"b", 2}, {"c", 3}}),
              positional_only + "'a' and 'b'");
    EXPECT_EQ(bind(KEYWORD_ONLY, {1}), "TypeError: g() missing 1 required keyword argument: 'k'");
    EXPECT_EQ(bind(KEYWORD_ONLY, {1}, {{"k", 1}, {"k", 2}}),
              "TypeError: g() got multiple values for argument 'k'");
    EXPECT_EQ(bind(KEYWORD_ONLY, {1, 2, 3, 4}),
              "TypeError: g() takes from 1 to 3 positional arguments but 4 were given");
    EXPECT_EQ(bind(METHOD, {}),
              "TypeError: C.h() missing 3 required positional arguments: 'a', 'b', and 'c'");
    EXPECT_EQ(bind(METHOD, {}, {{"b", 2}}),
              "TypeError: C.h() missing 2 required positional arguments: 'a' and 'c'");
    EXPECT_EQ(bind(NO_PARAMETERS, {1}),
              "TypeError: z() takes 0 positional arguments but 1 was given");
}

TEST_F(BinderTest, TheArgumentNoteKeepsTheExceptionAndItsMessage) {
    PyErr_SetString(PyExc_OverflowError, "too big");
    PyErrValue error = annotate_argument_error("x", fetch_error());
    PyRef notes = PyRef::steal(PyObject_GetAttrString(normalize_error(error), "__notes__"));
    PyRef shown = PyRef::steal(PyObject_Repr(notes.get()));
    EXPECT_STREQ(PyUnicode_AsUTF8(shown.get()), "[\"while processing 'x'\"]");
    restore_error(std::move(error));
    EXPECT_EQ(take_exception_text(), "OverflowError: too big");
}

} // namespace
} // namespace talvora
