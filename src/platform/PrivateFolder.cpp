#include "platform/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zephyrine::platform {

namespace {

// The folder's own entry: a trailing "/" would make lstat look through a link.
std::string OwnEntry(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

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

}  // namespace zephyrine::platform
