#include "base/XdgFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zephyrine::base {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

std::string XdgFolder(const char* variable, const char* homeDefault) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return value;
    }
    return HomeFolder() + "/" + homeDefault;
}

std::string XdgDataHome() {
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}

std::string XdgCacheHome() {
    return XdgFolder("XDG_CACHE_HOME", ".cache");
}

std::string XdgConfigHome() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

}  // namespace zephyrine::base
