// tests/cpp/binder_test.cpp: bind_arguments and its messages for signatures
// beyond the shipped ones (positional-only, keyword-only, optional and
// method parameters), and the note on conversion failures.
#include "module/call.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "python_fixture.h"

namespace talvora {
namespace {

using testing::PythonTest;
using testing::take_exception_text;

constexpr std::string_view ABC[] = {"a", "b", "c"};
constexpr KeywordOnlyParameter KEYWORDS[] = {{"k", true}, {"m", false}};

// f(a, b, /, c)
constexpr CallSignature POSITIONAL_ONLY{"f", std::nullopt, ABC, 2, 3, {}};
// g(a, b=..., c=..., *, k, m=...)
constexpr CallSignature KEYWORD_ONLY{"g", std::nullopt, ABC, 0, 1, KEYWORDS};
// C.h(a, b, c)
constexpr CallSignature METHOD{"h", "C", ABC, 0, 3, {}};
// z()
constexpr CallSignature NO_PARAMETERS{"z", std::nullopt, {}, 0, 0, {}};

struct Call {
    std::vector<PyRef> objects;
    std::vector<PyObject*> args;
    PyRef kwnames;
    std::size_t nargs;

    // Positional values, then (name, value) keyword pairs.
    Call(std::initializer_list<long> positional,
         std::initializer_list<std::pair<const char*, long>> keywords = {})
        : nargs(positional.size()) {
        for (long value : positional)
            add(PyLong_FromLong(value));
        if (keywords.size() == 0) return;
        kwnames = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
        Py_ssize_t i = 0;
        for (auto [name, value] : keywords) {
            PyTuple_SET_ITEM(kwnames.get(), i++, PyUnicode_FromString(name));
            add(PyLong_FromLong(value));
        }
    }
    void add(PyObject* object) {
        objects.push_back(PyRef::steal(object));
        args.push_back(object);
    }

    // The bound values as numbers (-1 for an empty slot), or the message.
    std::string bind(const CallSignature& signature) {
        std::vector<PyObject*> slots(signature.slot_count(), nullptr);
        MaybeError error = bind_arguments(signature, args.empty() ? nullptr : args.data(),
                                          static_cast<Py_ssize_t>(nargs), kwnames.get(), slots);
        if (error) {
            restore_error(std::move(*error));
            return take_exception_text();
        }
        std::string bound;
        for (PyObject* slot : slots)
            bound += std::to_string(slot ? PyLong_AsLong(slot) : -1) + " ";
        return bound;
    }
};

using BinderTest = PythonTest;

TEST_F(BinderTest, FillsPositionalThenKeywordOnlySlots) {
    EXPECT_EQ(Call({1}, {{"m", 5}, {"k", 2}}).bind(KEYWORD_ONLY), "1 -1 -1 2 5 ");
    EXPECT_EQ(Call({1, 2}, {{"c", 3}, {"k", 4}}).bind(KEYWORD_ONLY), "1 2 3 4 -1 ");
    EXPECT_EQ(Call({1, 2}, {{"c", 3}}).bind(POSITIONAL_ONLY), "1 2 3 ");
    EXPECT_EQ(Call({}).bind(NO_PARAMETERS), "");
}

TEST_F(BinderTest, Messages) {
    const std::pair<std::string, std::string> cases[] = {
        {Call({}, {{"a", 1}, {"b", 2}, {"c", 3}}).bind(POSITIONAL_ONLY),
         "TypeError: f() got some positional-only arguments passed as keyword arguments: 'a' and "
         "'b'"},
        {Call({}, {{"b", 2}}).bind(POSITIONAL_ONLY),
         "TypeError: f() got some positional-only arguments passed as keyword arguments: 'b'"},
        {Call({1}).bind(KEYWORD_ONLY), "TypeError: g() missing 1 required keyword argument: 'k'"},
        {Call({1}, {{"k", 1}, {"k", 2}}).bind(KEYWORD_ONLY),
         "TypeError: g() got multiple values for argument 'k'"},
        {Call({1, 2, 3, 4}).bind(KEYWORD_ONLY),
         "TypeError: g() takes from 1 to 3 positional arguments but 4 were given"},
        {Call({}).bind(METHOD),
         "TypeError: C.h() missing 3 required positional arguments: 'a', 'b', and 'c'"},
        {Call({1}).bind(METHOD),
         "TypeError: C.h() missing 2 required positional arguments: 'b' and 'c'"},
        {Call({}, {{"b", 2}}).bind(METHOD),
         "TypeError: C.h() missing 2 required positional arguments: 'a' and 'c'"},
        {Call({1}).bind(NO_PARAMETERS),
         "TypeError: z() takes 0 positional arguments but 1 was given"},
        {Call({}, {{"q", 1}}).bind(NO_PARAMETERS),
         "TypeError: z() got an unexpected keyword argument 'q'"},
    };
    for (const auto& [actual, expected] : cases)
        EXPECT_EQ(actual, expected);
}

TEST_F(BinderTest, ArgumentNoteKeepsTheExceptionAndItsMessage) {
    PyErr_SetString(PyExc_OverflowError, "too big");
    PyErrValue error = annotate_argument_error("x", fetch_error());
    PyRef exception = PyRef::borrow(normalize_error(error));
    restore_error(std::move(error));
    EXPECT_EQ(take_exception_text(), "OverflowError: too big");
    PyRef notes = PyRef::steal(PyObject_GetAttrString(exception.get(), "__notes__"));
    ASSERT_TRUE(notes && PyList_Check(notes.get()) && PyList_GET_SIZE(notes.get()) == 1);
    EXPECT_STREQ(PyUnicode_AsUTF8(PyList_GET_ITEM(notes.get(), 0)), "while processing 'x'");
}

} // namespace
} // namespace talvora
