#include "platform/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zephyrine::platform {

namespace {

// The folder's own entry: a trailing "/" would make lstat look through a link.
std::string OwnEntry(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

constexpr const char* kFreshFolderPattern = "zephyrine-XXXXXX";

}  // namespace

bool IsPrivateFolder(const std::string& folder) {
    struct stat st {};
    if (lstat(OwnEntry(folder).c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

bool EnsurePrivateFolder(const std::string& folder) {
    const std::string own = OwnEntry(folder);
    if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsPrivateFolder(own);
}

std::string MakeFreshPrivateFolder() {
    std::vector<std::string> parents;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime))
        parents.emplace_back(runtime);
    const char* tmp = std::getenv("TMPDIR");
    parents.emplace_back(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
    for (const std::string& parent : parents) {
        // mkdtemp makes a new entry with mode 0700, or fails: it never reuses one, link or not.
        std::string name = OwnEntry(parent) + "/" + kFreshFolderPattern;
        if (mkdtemp(name.data()) != nullptr && IsPrivateFolder(name)) return name + "/";
    }
    return {};
}

}  // namespace zephyrine::platform
