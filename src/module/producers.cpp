// src/module/producers.cpp: the ErrorProducers and the type-mismatch message.
#include "module/errors.h"
#include "module/text.h"

namespace talvora {
namespace {

PyRef make_str(std::string_view text) noexcept {
    return must_create(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// How the expected type (a type or a tuple of types) is named: its qualified
// name, None for NoneType, the names joined by " | " for a tuple.
void append_expected_name(Text& text, PyObject* expected) noexcept {
    if (expected == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) {
        text.append("None");
    } else if (PyTuple_Check(expected)) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(expected); ++i) {
            if (i > 0) text.append(" | ");
            append_expected_name(text, PyTuple_GET_ITEM(expected, i));
        }
    } else {
        text.append(type_qualname(reinterpret_cast<PyTypeObject*>(expected)));
    }
}

// The expected type is `expected`, or when that is null, `expected_name`.
Text type_mismatch_message(PyObject* object, PyObject* expected,
                           const char* expected_name) noexcept {
    Text text;
    if (object == Py_None) {
        text.append("'None' is not an instance of '");
    } else {
        text.append("'");
        text.append(type_qualname(Py_TYPE(object)));
        text.append("' object is not an instance of '");
    }
    if (expected != nullptr)
        append_expected_name(text, expected);
    else
        text.append(expected_name);
    text.append("'");
    return text;
}

} // namespace

ErrorProducer ErrorProducer::static_message(PyObject* type, const char* text) noexcept {
    return ErrorProducer(StaticMessage{type, text});
}

ErrorProducer ErrorProducer::owned_message(PyObject* type, Text text) noexcept {
    return ErrorProducer(OwnedMessage{type, std::move(text)});
}

ErrorProducer ErrorProducer::type_mismatch(PyRef object, PyRef expected) noexcept {
    return ErrorProducer(TypeMismatch{std::move(object), std::move(expected), nullptr});
}

ErrorProducer ErrorProducer::type_mismatch_named(PyRef object, const char* expected_name) noexcept {
    return ErrorProducer(TypeMismatch{std::move(object), PyRef(), expected_name});
}

ErrorProducer::Produced ErrorProducer::produce() && noexcept {
    Kind kind = std::move(kind_);
    if (auto* message = std::get_if<StaticMessage>(&kind))
        return {PyRef::borrow(message->type), make_str(message->text)};
    if (auto* message = std::get_if<OwnedMessage>(&kind)) {
        PyRef argument = make_str(message->text);
        return {PyRef::borrow(message->type), std::move(argument)};
    }
    auto* mismatch = std::get_if<TypeMismatch>(&kind);
    return {PyRef::borrow(PyExc_TypeError),
            make_str(type_mismatch_message(mismatch->object.get(), mismatch->expected.get(),
                                           mismatch->expected_name))};
}

} // namespace talvora
