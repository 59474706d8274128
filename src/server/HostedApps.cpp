#include "server/HostedApps.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <vector>

#include "base/TextCompare.h"

namespace zephyrine::server {

namespace {

using base::SameText;

struct TRegistry {
    std::shared_mutex lock;  // guards entries: lookups share it, registrations own it
    std::vector<THostedAppRegistration> entries;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

std::string_view ExtensionOf(std::string_view name) {
    const auto dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string_view FileNamePart(std::string_view path) {
    const auto cut = path.find_last_of("/\\:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::optional<std::string> ParseClassID(std::string_view text) {
    static constexpr std::size_t kGroups[] = {8, 4, 4, 4, 12};
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    std::string out = "{";
    std::size_t at = 1;
    for (std::size_t g = 0; g < std::size(kGroups); ++g) {
        if (g > 0) {
            if (text[at] != '-') return std::nullopt;
            out += '-';
            ++at;
        }
        for (std::size_t i = 0; i < kGroups[g]; ++i, ++at) {
            const unsigned char c = static_cast<unsigned char>(text[at]);
            if (!std::isxdigit(c)) return std::nullopt;
            out += base::AsciiUpper(static_cast<char>(c));
        }
    }
    return out + "}";
}

void RegisterHostedApplication(THostedAppRegistration registration) {
    if (auto id = ParseClassID(registration.ClassID)) registration.ClassID = *id;
    auto& r = Registry();
    std::unique_lock guard(r.lock);
    r.entries.push_back(std::move(registration));
}

void UnregisterHostedApplication(std::string_view classID) {
    const auto id = ParseClassID(classID);
    if (!id) return;
    auto& r = Registry();
    std::unique_lock guard(r.lock);
    std::erase_if(r.entries, [&](const THostedAppRegistration& e) { return e.ClassID == *id; });
}

std::optional<std::string> ClassIDFromProgID(std::string_view progID) {
    if (progID.empty()) return std::nullopt;
    auto& r = Registry();
    std::shared_lock guard(r.lock);
    for (const auto& e : r.entries) {
        if (!e.ProgID.empty() && SameText(e.ProgID, progID)) return e.ClassID;
    }
    return std::nullopt;
}

std::optional<std::string> FindServerByFileName(std::string_view name) {
    auto& r = Registry();
    std::shared_lock guard(r.lock);
    for (const auto& e : r.entries) {
        if (!e.ServerFileName.empty() && SameText(FileNamePart(e.ServerFileName), name)) {
            return e.ClassID;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FindHostedApplication(std::string_view path) {
    std::string_view s = path;
    if (!s.empty() && s.front() == '/') s.remove_prefix(1);
    s = s.substr(0, s.find('/'));
    if (s.empty()) return std::nullopt;
    if (s.front() == '{') {
        if (auto id = ParseClassID(s)) return id;
    }
    const std::string_view ext = ExtensionOf(s);
    if (SameText(ext, ".exe")) {
        if (auto id = FindServerByFileName(s)) return id;
    }
    if (!SameText(ext, ".js")) return ClassIDFromProgID(s);
    return std::nullopt;
}

std::unique_ptr<IHostedApplication> CreateHostedApplication(const std::string& classID) {
    THostedAppFactory factory;
    {
        auto& r = Registry();
        std::shared_lock guard(r.lock);
        const auto it = std::find_if(r.entries.begin(), r.entries.end(),
                                     [&](const auto& e) { return e.ClassID == classID; });
        if (it != r.entries.end()) factory = it->Factory;
    }
    if (!factory) throw std::runtime_error("Class not registered");
    auto app = factory();
    if (!app) throw std::runtime_error("Interface not supported");
    return app;
}

}  // namespace zephyrine::server
