// Number texts: fixed patterns ("0", "0.000", "0.0000") with the user's decimal separator,
// and parsing back. Shared by the settings, the screens and the export.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvaro {

enum class NumberPattern { Integer, ThreeDecimals, FourDecimals };  // "0", "0.000", "0.0000"

// Rounds half away from zero, never groups digits and never yields a negative zero
// ("-0,000" is written "0,000").
std::string FormatNumber(double value, NumberPattern pattern, char decimalSeparator);

// Accepts an optional sign, digits and at most one `decimalSeparator` followed by digits,
// surrounded by optional blanks. Anything else (another separator, letters, an empty text)
// yields no value.
std::optional<double> ParseNumber(std::string_view text, char decimalSeparator);

// A number text from the settings. It was written with the writer's decimal separator, which
// is not always ours: a store carried over from a desktop in another locale, or the station
// started from a terminal in another locale, holds the other one. Since the writers never
// group digits, a text that parses with only one of ',' and '.' can only mean that number,
// so either is accepted, as is `decimalSeparator`. A text with both, or none that parses,
// yields no value.
std::optional<double> ParseStoredNumber(std::string_view text, char decimalSeparator);

}  // namespace kelvaro
