// Conversion of texts to integers, with the one error text every caller reports.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace zephyrine::base {

// A text that is not a number, a date or time out of range.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The value of a non-empty run of digits in base 10 or 16 (no sign, no prefix); nullopt when a
// byte is not a digit of the base or the value passes limit. Long runs never overflow.
std::optional<std::uint64_t> DigitsValue(std::string_view digits, int base, std::uint64_t limit);

// An optional sign, then decimal digits, or "$" or "0x" followed by hexadecimal digits, within
// the range of int; nullopt for any other text (blanks included).
std::optional<int> TryStrToInt(std::string_view text);
// The same; other text throws EConvertError "'<text>' is not a valid integer value".
int StrToInt(std::string_view text);

}  // namespace zephyrine::base
