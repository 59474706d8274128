#include "app/DataFolders.h"

#include "base/XdgFolders.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace zephyrine::app {

namespace {

// The installed data folder and the player library's folder, relative to the executable's folder;
// the build sets them from its install directories.
#ifdef ZEPHYRINE_INSTALL_DATA_FROM_BIN
constexpr const char* kInstalledDataFolder = ZEPHYRINE_INSTALL_DATA_FROM_BIN;
constexpr const char* kInstalledLibraryFolder = ZEPHYRINE_INSTALL_LIB_FROM_BIN;
#else
constexpr const char* kInstalledDataFolder = "../share/zephyrine";
constexpr const char* kInstalledLibraryFolder = "../lib/zephyrine";
#endif

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The folder a relative path from the executable's folder names, without "..": the folders need
// not exist, and a short path reads better in messages.
std::string Beside(const std::string& executableFolder, const char* relative) {
    return WithSlash(fs::path(executableFolder + relative).lexically_normal().string());
}

void MakeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw std::runtime_error("Cannot create " + folder + ": " + ec.message());
}

}  // namespace

TDataFolders DataFoldersFor(const std::string& executableFolder) {
    const std::string exe = WithSlash(executableFolder);
    const std::string installed = Beside(exe, kInstalledDataFolder);
    TDataFolders folders;
    std::error_code ec;
    folders.Installed = fs::is_regular_file(installed + kSampleCatalogueName, ec);
    if (folders.Installed) {
        folders.AppFolder = installed;
        folders.DataFolder = WithSlash(base::XdgDataHome()) + kUserFolderName + "/";
        folders.ConfigFolder = WithSlash(base::XdgConfigHome()) + kUserFolderName + "/";
        folders.LibraryFolder = Beside(exe, kInstalledLibraryFolder);
    } else {
        folders.AppFolder = folders.DataFolder = folders.ConfigFolder = exe;
        folders.LibraryFolder = exe;
    }
    folders.PlayerFolder = folders.AppFolder + kPlayerFolderName;
    return folders;
}

void PrepareDataFolders(const TDataFolders& folders) {
    if (!folders.Installed) return;
    MakeFolder(folders.DataFolder);
    MakeFolder(folders.ConfigFolder);
    const fs::path catalogue = folders.DataFolder + kSampleCatalogueName;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(catalogue, ec))) return;
    const fs::path partial =
        folders.DataFolder + kSampleCatalogueName + ".new-" + std::to_string(getpid());
    fs::copy_file(folders.AppFolder + kSampleCatalogueName, partial,
                  fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::permissions(partial, fs::perms::owner_write, fs::perm_options::add, ec);
    if (!ec) fs::rename(partial, catalogue, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw std::runtime_error("Cannot copy the sample catalogue to " + catalogue.string() +
                                 ": " + ec.message());
    }
}

}  // namespace zephyrine::app
