// Helpers for comparing server output whose Date lines change from run to run.
#pragma once

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zephyrine::server::testing {

// "Sun, 05 Feb 2008 14:03:09 GMT" in shape: names, two-digit fields, four-digit year.
inline bool IsHTTPDate(std::string_view text) {
    static constexpr std::string_view kShape = "Aaa, 00 Aaa 0000 00:00:00 GMT";
    if (text.size() != kShape.size() || text.substr(text.size() - 4) != " GMT") return false;
    for (std::size_t i = 0; i < kShape.size() - 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const char shape = kShape[i];
        if (shape == '0'   ? !std::isdigit(c)
            : shape == 'A' ? !std::isupper(c)
            : shape == 'a' ? !std::islower(c)
                           : c != static_cast<unsigned char>(shape)) {
            return false;
        }
    }
    return true;
}

// Replaces the value of every "<name><HTTP date>" line by "*"; other lines stay.
inline std::string MaskDates(std::string text,
                             std::initializer_list<const char*> names = {"Date: "}) {
    for (const char* name : names) {
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            const auto start = at + std::string_view(name).size();
            const auto end = text.find("\r\n", start);
            if (end == std::string::npos || !IsHTTPDate(text.substr(start, end - start))) continue;
            text.replace(start, end - start, "*");
        }
    }
    return text;
}

// Drops every "Date: ..." line.
inline std::string WithoutDate(std::string text) {
    for (auto at = text.find("Date: "); at != std::string::npos; at = text.find("Date: ", at)) {
        if (at != 0 && text[at - 1] != '\n') {
            ++at;
            continue;
        }
        const auto end = text.find("\r\n", at);
        text.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    }
    return text;
}

}  // namespace zephyrine::server::testing
