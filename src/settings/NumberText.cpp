// Number texts. Formatting works on decimal digits, never on scaled binary values:
//
//  1. the value's shortest decimal text that reads back as the same double is taken
//     (std::to_chars without a precision). That is the number the user typed or the store
//     holds: 1.0005 gives the digits "10005" although the binary value is
//     1.000499999999999989...;
//  2. those digits are rounded half away from zero to the pattern's decimals, on the digit
//     string itself, so 1.0005 -> "1,001", 0.0005 -> "0,001", -2.0005 -> "-2,001",
//     8388608.25 -> "8388608,250", 1234.5678 -> "1234,568";
//  3. a result whose digits are all zero is written without a sign ("0,000", never "-0,000").
//
// Digits are never grouped and never written in exponent form, however large the value.
#include "settings/NumberText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace kelvaro {

namespace {

int DecimalsOf(NumberPattern pattern) {
    switch (pattern) {
        case NumberPattern::Integer:
            return 0;
        case NumberPattern::ThreeDecimals:
            return 3;
        case NumberPattern::FourDecimals:
            return 4;
    }
    return 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string FormatNumber(double value, NumberPattern pattern, char decimalSeparator) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    const int decimals = DecimalsOf(pattern);
    const bool negative = std::signbit(value);

    // Shortest round-trip digits in scientific form: d[.ddd]e[+-]xx.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      std::fabs(value), std::chars_format::scientific);
    const std::string_view text(buffer.data(),
                                static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t ePos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, ePos)) {
        if (IsDigit(c)) {
            digits += c;
        }
    }
    int exponent = 0;
    {
        std::string_view exp = text.substr(ePos + 1);
        if (!exp.empty() && exp.front() == '+') {
            exp.remove_prefix(1);
        }
        std::from_chars(exp.data(), exp.data() + exp.size(), exponent);
    }

    // `digits` with the decimal point after `intDigits` digits.
    long intDigits = static_cast<long>(exponent) + 1;
    if (intDigits < 1) {
        digits.insert(0, static_cast<std::size_t>(1 - intDigits), '0');
        intDigits = 1;
    }
    const auto wanted = static_cast<std::size_t>(intDigits + decimals);
    if (digits.size() < wanted) {
        digits.append(wanted - digits.size(), '0');
    } else if (digits.size() > wanted) {
        const bool roundUp = digits[wanted] >= '5';  // magnitude: half goes away from zero
        digits.resize(wanted);
        if (roundUp) {
            std::size_t i = digits.size();
            while (i > 0) {
                --i;
                if (digits[i] == '9') {
                    digits[i] = '0';
                } else {
                    ++digits[i];
                    break;
                }
                if (i == 0) {
                    digits.insert(0, 1, '1');
                    ++intDigits;
                }
            }
        }
    }

    std::string intPart = digits.substr(0, static_cast<std::size_t>(intDigits));
    const std::string fracPart = digits.substr(static_cast<std::size_t>(intDigits));
    const std::size_t firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? "0" : intPart.substr(firstNonZero);

    const bool allZero = digits.find_first_not_of('0') == std::string::npos;
    std::string out;
    if (negative && !allZero) {
        out += '-';
    }
    out += intPart;
    if (decimals > 0) {
        out += decimalSeparator;
        out += fracPart;
    }
    return out;
}

std::optional<double> ParseNumber(std::string_view text, char decimalSeparator) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string intPart;
    std::string fracPart;
    bool seenSeparator = false;
    for (char c : text) {
        if (IsDigit(c)) {
            (seenSeparator ? fracPart : intPart) += c;
        } else if (c == decimalSeparator && !seenSeparator) {
            seenSeparator = true;
        } else {
            return std::nullopt;
        }
    }
    if (intPart.empty() && fracPart.empty()) {
        return std::nullopt;  // empty, a lone sign or a lone separator
    }
    std::string normal = intPart.empty() ? "0" : intPart;
    if (!fracPart.empty()) {
        normal += '.';
        normal += fracPart;
    }
    double value = 0;
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value,
                                        std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != normal.data() + normal.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<double> ParseStoredNumber(std::string_view text, char decimalSeparator) {
    for (const char separator : {decimalSeparator, ',', '.'}) {
        if (auto value = ParseNumber(text, separator)) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace kelvaro
