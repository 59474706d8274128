#include "app/IniFile.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "base/Convert.h"
#include "base/ReplaceFile.h"
#include "base/TextCompare.h"

namespace zephyrine::app {

namespace {

bool IsComment(const std::string& trimmed) {
    return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// "[name]" gives name; nullopt for any other line.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = base::Trimmed(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    std::size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return base::Trimmed(t.substr(1, close - 1));
}

// "key=value" gives key (trimmed); nullopt for comments, sections and lines without '='.
std::optional<std::string> KeyName(const std::string& line) {
    std::string t = base::Trimmed(line);
    if (t.empty() || IsComment(t) || t.front() == '[') return std::nullopt;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return base::Trimmed(line.substr(0, eq));
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    if (text.find("\r\n") != std::string::npos) eol_ = "\r\n";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
        if (nl == std::string::npos) {
            finalEol_ = false;
            break;
        }
        pos = nl + 1;
    }
}

std::optional<std::size_t> TIniFile::FindKey(const std::string& section,
                                             const std::string& key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (auto name = SectionName(lines_[i])) {
            inSection = base::SameText(*name, section);
            continue;
        }
        if (!inSection) continue;
        if (auto k = KeyName(lines_[i]); k && base::SameText(*k, key)) return i;
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    auto i = FindKey(section, key);
    if (!i) return defaultValue;
    const std::string& line = lines_[*i];
    std::string value = base::Trimmed(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<int> TIniFile::ParseInteger(const std::string& text) {
    const std::string t = base::Trimmed(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        // Hexadecimal: up to 32 bits, read as a signed 32-bit integer (0xFFFFFFFF is -1).
        const auto v = base::DigitsValue(std::string_view(t).substr(2), 16, 0xFFFFFFFFu);
        if (!v) return std::nullopt;
        return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)));
    }
    // Otherwise decimal only, with an optional sign.
    if (t.find_first_of("$xX") != std::string::npos) return std::nullopt;
    return base::TryStrToInt(t);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
    auto i = FindKey(section, key);
    if (!i) return defaultValue;
    return ParseInteger(ReadString(section, key, "")).value_or(defaultValue);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (auto i = FindKey(section, key)) {
        std::string& line = lines_[*i];
        line = line.substr(0, line.find('=') + 1) + value;  // keeps the key as it was written
    } else {
        // The end of the section: after its last non-blank line.
        std::optional<std::size_t> insertAt;
        bool inSection = false;
        for (std::size_t j = 0; j < lines_.size(); ++j) {
            if (auto name = SectionName(lines_[j])) {
                if (inSection) break;
                inSection = base::SameText(*name, section);
                if (inSection) insertAt = j + 1;
                continue;
            }
            if (inSection && !base::Trimmed(lines_[j]).empty()) insertAt = j + 1;
        }
        const std::string keyLine = key + "=" + value;
        if (insertAt) {
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insertAt), keyLine);
        } else {
            if (!lines_.empty() && !base::Trimmed(lines_.back()).empty()) lines_.emplace_back();
            lines_.push_back("[" + section + "]");
            lines_.push_back(keyLine);
            finalEol_ = true;
        }
    }
    Save();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::Save() const {
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i];
        if (i + 1 < lines_.size() || finalEol_) text += eol_;
    }
    // A failed write never leaves half a file.
    try {
        base::ReplaceFileContents(path_, text);
    } catch (const std::system_error& e) {
        throw std::runtime_error("Cannot write " + path_ + ": " + std::strerror(e.code().value()));
    }
}

}  // namespace zephyrine::app
