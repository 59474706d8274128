#include "base/Convert.h"

#include <limits>
#include <string>

namespace zephyrine::base {

namespace {

constexpr std::uint64_t kIntMax = std::numeric_limits<int>::max();

int DigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

}  // namespace

std::optional<std::uint64_t> DigitsValue(std::string_view digits, int base, std::uint64_t limit) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = DigitValue(static_cast<unsigned char>(c));
        if (digit >= base) return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit) return std::nullopt;
    }
    return value;
}

std::optional<int> TryStrToInt(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    const auto value = DigitsValue(text, base, negative ? kIntMax + 1 : kIntMax);
    if (!value) return std::nullopt;
    return static_cast<int>(negative ? -static_cast<std::int64_t>(*value)
                                     : static_cast<std::int64_t>(*value));
}

int StrToInt(std::string_view text) {
    if (const std::optional<int> value = TryStrToInt(text)) return *value;
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace zephyrine::base
