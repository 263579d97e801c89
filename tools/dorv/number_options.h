// The host program's numeric options: every one is read as plain decimal text by the same
// parsers as the commands' numbers, so "--address 010" is refused rather than taken for 8 and
// "--timeout-ms 0x10" rather than taken for 16.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <type_traits>

#include "numbers.h"

namespace dorv::tools {

// Adds `name` to `app` taking a plain decimal number (whole for an integer `value`); anything
// else stops the program before anything is sent, with a message naming the option.
template <typename T>
CLI::Option* AddNumberOption(CLI::App& app, const std::string& name, T& value, const std::string& help) {
    constexpr bool whole = std::is_integral_v<T>;
    // A transform, not a check: the text is handed on in its plain form, so that the option's
    // own conversion cannot read "010" as octal.
    const CLI::Validator plain(
        [](std::string& text) -> std::string {
            if constexpr (whole) {
                const auto v = ParseWhole(text);
                if (!v) return "must be a whole decimal number, such as 300";
                text = std::to_string(*v);
            } else {
                if (!ParseDecimal(text)) return "must be a plain decimal number, such as 2.5";
            }
            return {};
        },
        whole ? "INT" : "DECIMAL");
    return app.add_option(name, value, help)->transform(plain);
}

}  // namespace dorv::tools
