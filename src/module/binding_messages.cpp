// src/module/binding_messages.cpp: the TypeError texts of argument binding.
#include <charconv>

#include "module/call.h"

namespace talvora::binding_message {
namespace {

// "f()", or "Class.f()" for a method.
Text display_name(const CallSignature& signature) noexcept {
    Text text;
    if (signature.class_name) {
        text.append(*signature.class_name);
        text.append(".");
    }
    text.append(signature.function_name);
    text.append("()");
    return text;
}

void append_number(Text& text, std::size_t number) noexcept {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text.append(digits, end);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
void append_parameter_list(Text& text, std::span<const std::string_view> names) noexcept {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) text.append(",");
            text.append(i + 1 == names.size() ? " and " : " ");
        }
        text.append("'");
        text.append(names[i]);
        text.append("'");
    }
}

// "f() <phrase>keyword'": the messages about one keyword argument.
Text about_keyword(const CallSignature& signature, std::string_view phrase,
                   std::string_view keyword) noexcept {
    Text text = display_name(signature);
    text.append(phrase);
    text.append(keyword);
    text.append("'");
    return text;
}

} // namespace

Text too_many_positional(const CallSignature& signature, std::size_t given) noexcept {
    Text text = display_name(signature);
    text.append(" takes ");
    if (signature.required_positional_count != signature.positional_names.size()) {
        text.append("from ");
        append_number(text, signature.required_positional_count);
        text.append(" to ");
    }
    // "arguments" stays plural even for one: "takes 1 positional arguments".
    append_number(text, signature.positional_names.size());
    text.append(" positional arguments but ");
    append_number(text, given);
    text.append(given == 1 ? " was given" : " were given");
    return text;
}

Text unexpected_keyword(const CallSignature& signature, std::string_view keyword) noexcept {
    return about_keyword(signature, " got an unexpected keyword argument '", keyword);
}

Text multiple_values(const CallSignature& signature, std::string_view keyword) noexcept {
    return about_keyword(signature, " got multiple values for argument '", keyword);
}

Text positional_only_passed_as_keyword(const CallSignature& signature,
                                       std::span<const std::string_view> names) noexcept {
    Text text = display_name(signature);
    text.append(" got some positional-only arguments passed as keyword arguments: ");
    append_parameter_list(text, names);
    return text;
}

Text missing_arguments(const CallSignature& signature, MissingKind kind,
                       std::span<const std::string_view> names) noexcept {
    Text text = display_name(signature);
    text.append(" missing ");
    append_number(text, names.size());
    text.append(kind == MissingKind::Positional ? " required positional " : " required keyword ");
    text.append(names.size() == 1 ? "argument: " : "arguments: ");
    append_parameter_list(text, names);
    return text;
}

} // namespace talvora::binding_message
