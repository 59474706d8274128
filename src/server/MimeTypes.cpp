#include "server/MimeTypes.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "base/TextCompare.h"

namespace zephyrine::server {

namespace {

// The extension of the last path component, dot included; empty when it has none.
std::string_view ExtensionOf(std::string_view fileName) {
    const auto slash = fileName.find_last_of('/');
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return fileName.substr(dot);
}

}  // namespace

TMimeTypes TMimeTypes::Load(const std::string& path) {
    TMimeTypes table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type)) continue;
        while (words >> ext)
            table.types_.emplace(base::LowerCase(ext), type);
    }
    return table;
}

const TMimeTypes& TMimeTypes::System() {
    static const TMimeTypes table = Load(kSystemMimeTypes);
    return table;
}

std::string TMimeTypes::Lookup(std::string_view extension) const {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty()) return {};
    const auto it = types_.find(base::LowerCase(extension));
    return it == types_.end() ? std::string() : it->second;
}

std::string GetContentType(const std::string& fileName, const TMimeTypes& table) {
    const std::string ext = base::LowerCase(ExtensionOf(fileName));
    if (ext.empty() || ext == ".exe" || ext == ".dll") return std::string(kDefaultContentType);
    std::string type = table.Lookup(ext);
    return type.empty() ? std::string(kDefaultContentType) : type;
}

}  // namespace zephyrine::server
