// Unit WinksGlobal: the process-wide settings object TGlobal and its one instance,
// created by the program entry before the main window and alive until the process ends.
#pragma once

#include "app/DataFolders.h"
#include "base/UniqueFd.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zephyrine::app {

// The program identifier of the file association, the window class and the application title.
inline constexpr const char* kAppTitle = "Zephyrine";
// The embedded server's folder under DataFolder, which holds the packs it serves.
inline constexpr const char* kPackFolder = "msnpack/";

// The content server's paths under its root; roots carry no trailing "/".
std::string PreviewBaseUrlFor(const std::string& contentRoot);   // root + "/download/previewback/"
std::string DownloadBaseUrlFor(const std::string& contentRoot);  // root + "/download/"

// A content file (.mca) is a cabinet without this first byte of its signature.
inline constexpr char kContentFilePrefix = 'M';

// A source file opened for the copies below and held under an exclusive lock while it lives
// ("exclusive sharing": Locked() is false when another holder has it). Several copies may share
// one: a lock released and taken again can be refused by the program itself, while a child that
// another thread started meanwhile still holds its copy of the descriptor, until its exec.
class TLockedSource {
  public:
    explicit TLockedSource(const std::string& path);
    bool Locked() const { return locked_; }
    int Fd() const { return fd_.Get(); }

  private:
    base::UniqueFd fd_;
    bool locked_ = false;
};

// The copy behind CopyWithPrefix and the pack for the messenger: kContentFilePrefix followed by
// the whole source (opened with an exclusive lock) replaces destination (deleted first, twice if
// need be); then a pause, whatever happened, before the source is closed. With UnlessCabinet the
// prefix is left out when the source already begins with the cabinet signature. False when any
// step failed. The forms with a function run pause in place of the sleep; the last reads an
// opened source from its start and leaves it open.
enum class TPrefixRule { Always, UnlessCabinet };
bool CopyBehindPrefix(const std::string& source, const std::string& destination, TPrefixRule rule,
                      std::chrono::milliseconds pause);
bool CopyBehindPrefix(const std::string& source, const std::string& destination, TPrefixRule rule,
                      const std::function<void()>& pause);
bool CopyBehindPrefix(const TLockedSource& source, const std::string& destination,
                      TPrefixRule rule, const std::function<void()>& pause);
bool CopyBehindPrefix(const TLockedSource& source, const std::string& destination,
                      TPrefixRule rule, std::chrono::milliseconds pause);

// The extension of a path's last component from its last '.', upper-cased; "" when none.
std::string UpperFileExtension(const std::string& path);

// The folder of the running executable, ending in "/".
std::string ExecutableFolder();
// The full path of the running executable.
std::string ExecutablePath();

class TGlobal {
  public:
    // Creation for the running executable's folder.
    explicit TGlobal(const std::string& contentRoot);
    // The same for given folders.
    TGlobal(const TDataFolders& folders, const std::string& contentRoot);
    // The same for a program folder (tests); a missing trailing "/" is added.
    TGlobal(const std::string& appFolder, const std::string& contentRoot);

    // Fields.
    std::string ConfigPath;  // the config folder + "Config.ini"
    std::string AppFolder;   // the program's read-only data, always ending in "/"
    // Where the program writes its catalogue, the update's files and msnpack/, ending in "/":
    // AppFolder for a program folder, a per-user folder when installed (see DataFolders.h).
    std::string DataFolder;
    bool Installed = false;  // the file association is then the package's
    int CurrentWinks = 0;    // Config/CurrentWinks
    std::string SkinFile;    // Config/SkinFile, default "MacOS.sui"
    std::string SkinPath;    // AppFolder + "Skins/" + SkinFile
    // The private per-user temporary folder, ending in "/": $TMPDIR (or /tmp) + "zephyrine-"
    // + the user id. Made, and checked to be private, by whoever uses it.
    std::string TempFolder;
    std::string PreviewBaseUrl;  // content root + "/download/previewback/"

    // Operations.
    void LoadSettings();
    void SaveSettings();  // throws std::runtime_error when Config.ini cannot be written
    static int ReadCountFile(const std::string& path);
    // The desktop entry under $XDG_DATA_HOME stands for the program-identifier key: when it
    // exists (and is ours to write) it is never rewritten, and only caches that do not know the
    // program's type are refreshed; an installed program writes none. Otherwise
    // RegisterFileTypes. Throws
    // std::runtime_error when a file cannot be written.
    void EnsureFileAssociation();
    // True when the MIME and desktop caches of DataHome() know the program's type (a cache
    // whose tool is not installed counts as current); RefreshAssociationCaches runs the tools.
    static bool AssociationCachesCurrent();
    static void RefreshAssociationCaches();
    void RegisterFileTypes(const std::string& id, const std::string& description,
                           const std::string& exe);
    // Starts argv[0] (searched on PATH) with the argument list, no shell, no inherited file
    // descriptors beyond 0-2, and waits. The exit code; 128 + the signal number when the child
    // was killed; -1 when it cannot be started. show is the window state (unused on Linux).
    static int RunAndWait(const std::vector<std::string>& argv, int show = 0);
    static void ClearFolder(const std::string& folder, const std::string& mask);
    static std::string FindPackFile(const std::string& folder);
    static std::string FindSwfFile(const std::string& folder);
    static bool CopyWithPrefix(const std::string& source, const std::string& destination);
    static bool CopyWithPrefix(const TLockedSource& source, const std::string& destination);

    // Where the association goes: $XDG_DATA_HOME (when absolute) or $HOME/.local/share.
    static std::string DataHome();
    static std::string DesktopEntryPath();  // DataHome() + "/applications/zephyrine.desktop"
    static std::string MimePackagePath();   // DataHome() + "/mime/packages/zephyrine.xml"
    // The program's icon in the user's icon theme folder, named by the desktop entry.
    static std::string IconPath();  // DataHome() + "/icons/hicolor/scalable/apps/zephyrine.svg"
};

}  // namespace zephyrine::app
