#include "app/CatalogueUpdate.h"

#include "app/WinksCatalogue.h"
#include "base/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace zephyrine::app {

namespace {

std::runtime_error Failure(const std::string& what, const std::string& path, int error) {
    return std::runtime_error(what + " \"" + path + "\": " + std::strerror(error));
}

}  // namespace

int AcceptDownloadedCatalogue(int replyCode, platform::TXMLDocument& doc) {
    if (replyCode < kFirstSuccessCode || replyCode > kLastSuccessCode) {
        throw ECatalogueRefused("The catalogue server answered with status " +
                                std::to_string(replyCode));
    }
    int items = 0;
    try {
        doc.Activate();
        WalkCatalogue(
            doc.DocumentElement(), [](platform::TXMLNodeRaw) { return 0; },
            [&](int, platform::TXMLNodeRaw, const char*) { ++items; });
    } catch (const platform::EXMLDocError& e) {
        throw ECatalogueRefused(std::string("The downloaded catalogue cannot be loaded: ") +
                                e.what());
    }
    if (items == 0) throw ECatalogueRefused("The downloaded catalogue holds no Wink");
    return items;
}

void StartWriteback(const std::string& file) {
    const base::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() >= 0) ::sync_file_range(fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void ReplaceByRename(const std::string& file, const std::string& target) {
    {
        const base::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.Get() < 0) throw Failure("Cannot open", file, errno);
        if (::fsync(fd.Get()) != 0) throw Failure("Cannot write", file, errno);
    }
    if (std::rename(file.c_str(), target.c_str()) != 0)
        throw Failure("Cannot replace", target, errno);
    // The new entry to disk as well. The new catalogue is in place whatever this gives, so a
    // failure here is no failure of the replacement.
    std::string folder = std::filesystem::path(target).parent_path().string();
    if (folder.empty()) folder = ".";
    const base::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

}  // namespace zephyrine::app
