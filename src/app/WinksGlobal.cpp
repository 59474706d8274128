#include "app/WinksGlobal.h"

#include "platform/Cabinet.h"
#include "server/Dispatch.h"
#include "app/IniFile.h"
#include "base/Process.h"
#include "base/TextCompare.h"
#include "base/XdgFolders.h"
#include "base/UniqueFd.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace zephyrine::app {

namespace {

constexpr const char* kSection = "Config";
constexpr const char* kMimeType = "application/x-zephyrine";
constexpr const char* kTempFolderPrefix = "zephyrine-";
// CopyWithPrefix pauses this long once it is done, whatever happened.
constexpr std::chrono::milliseconds kCopyPause{200};

// The program's icon: a white "Z" on a blue rounded square, drawn without fonts.
constexpr const char* kIconSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" "
    "viewBox=\"0 0 48 48\">\n"
    "  <rect x=\"2\" y=\"2\" width=\"44\" height=\"44\" rx=\"9\" fill=\"#3060c0\"/>\n"
    "  <path d=\"M13 12h22v5L20 31h15v5H13v-5l15-14H13z\" fill=\"#ffffff\"/>\n"
    "</svg>\n";

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// A desktop-entry Exec argument: double quotes, a backslash before '"', '`', '$' and '\\' inside
// them, "%%" for '%'; then the string-value escaping of the key doubles every backslash.
std::string QuoteExecArgument(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\')
            out += "\\\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            out += std::string("\\\\") + c;
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out + "\"";
}

// Writes text to path (creating its folder), throwing with the reason when anything fails.
void WriteFileOrThrow(const fs::path& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        throw std::runtime_error("Cannot create " + path.parent_path().string() + ": " +
                                 ec.message());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw std::runtime_error("Cannot write " + path.string());
}

}  // namespace

std::string UpperFileExtension(const std::string& path) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return base::UpperCase(name.substr(dot));
}

std::string PreviewBaseUrlFor(const std::string& contentRoot) {
    return contentRoot + "/download/previewback/";
}

std::string DownloadBaseUrlFor(const std::string& contentRoot) {
    return contentRoot + "/download/";
}

std::string ExecutablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string ExecutableFolder() {
    return WithSlash(fs::path(ExecutablePath()).parent_path().string());
}

// ---- creation ---------------------------------------------------------------------------------

TGlobal::TGlobal(const std::string& contentRoot)
    : TGlobal(DataFoldersFor(ExecutableFolder()), contentRoot) {}

TGlobal::TGlobal(const std::string& appFolder, const std::string& contentRoot)
    : TGlobal(TDataFolders{false, WithSlash(appFolder), WithSlash(appFolder), WithSlash(appFolder),
                           {}, {}},
              contentRoot) {}

TGlobal::TGlobal(const TDataFolders& folders, const std::string& contentRoot) {
    ConfigPath = folders.ConfigFolder + "Config.ini";
    AppFolder = folders.AppFolder;
    DataFolder = folders.DataFolder;
    Installed = folders.Installed;
    LoadSettings();
    SkinPath = AppFolder + "Skins/" + SkinFile;
    PreviewBaseUrl = PreviewBaseUrlFor(contentRoot);
}

// ---- settings ---------------------------------------------------------------------------------

void TGlobal::LoadSettings() {
    const TIniFile ini(ConfigPath);  // reading never creates the file
    CurrentWinks = ini.ReadInteger(kSection, "CurrentWinks", 0);
    SkinFile = ini.ReadString(kSection, "SkinFile", "MacOS.sui");
    const char* tmp = std::getenv("TMPDIR");
    TempFolder = WithSlash(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + kTempFolderPrefix +
                 std::to_string(geteuid()) + "/";
}

void TGlobal::SaveSettings() {
    TIniFile ini(ConfigPath);
    ini.WriteInteger(kSection, "CurrentWinks", CurrentWinks);
    ini.WriteString(kSection, "SkinFile", SkinFile);
}

int TGlobal::ReadCountFile(const std::string& path) {
    return TIniFile(path).ReadInteger(kSection, "CurrentWinks", 0);
}

// ---- file association -------------------------------------------------------------------------

std::string TGlobal::DataHome() {
    return base::XdgDataHome();
}

std::string TGlobal::DesktopEntryPath() {
    return DataHome() + "/applications/zephyrine.desktop";
}

std::string TGlobal::MimePackagePath() {
    return DataHome() + "/mime/packages/zephyrine.xml";
}

std::string TGlobal::IconPath() {
    return DataHome() + "/icons/hicolor/scalable/apps/zephyrine.svg";
}

void TGlobal::EnsureFileAssociation() {
    // The key opened "for full access without creating it": the entry is there and ours to
    // rewrite. One that exists but cannot be opened that way counts as missing.
    if (Installed) return;  // the package's system-wide entry and MIME package hold it
    if (access(DesktopEntryPath().c_str(), R_OK | W_OK) == 0) {
        // A start ended between the entry and the two cache refreshes (killed, power lost)
        // leaves an association that the desktop does not know: refresh the caches alone.
        if (!AssociationCachesCurrent()) RefreshAssociationCaches();
        return;
    }
    RegisterFileTypes(kAppTitle, kAppTitle, ExecutablePath());
}

bool TGlobal::AssociationCachesCurrent() {
    std::error_code ec;
    if (!base::FindProgram("update-mime-database").empty() &&
        !fs::exists(DataHome() + "/mime/mime.cache", ec))
        return false;
    if (!base::FindProgram("update-desktop-database").empty()) {
        std::ifstream cache(DataHome() + "/applications/mimeinfo.cache");
        const std::string text((std::istreambuf_iterator<char>(cache)),
                               std::istreambuf_iterator<char>());
        if (text.find(std::string(kMimeType) + "=") == std::string::npos) return false;
    }
    return true;
}

void TGlobal::RefreshAssociationCaches() {
    if (!base::FindProgram("update-mime-database").empty())
        RunAndWait({"update-mime-database", DataHome() + "/mime"});
    if (!base::FindProgram("update-desktop-database").empty())
        RunAndWait({"update-desktop-database", DataHome() + "/applications"});
}

void TGlobal::RegisterFileTypes(const std::string& id, const std::string& description,
                                const std::string& exe) {
    // Rows .MCA and .MCO: one MIME type of the program identifier with both globs.
    const std::string mime =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"" +
        std::string(kMimeType) +
        "\">\n"
        "    <comment>" +
        server::HtmlEscape(description) +
        "</comment>\n"
        "    <icon name=\"zephyrine\"/>\n"
        "    <glob pattern=\"*.mca\"/>\n"
        "    <glob pattern=\"*.mco\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    WriteFileOrThrow(MimePackagePath(), mime);
    // DefaultIcon: an image in the user's icon theme folder, named by its full path.
    WriteFileOrThrow(IconPath(), kIconSvg);

    // Rows Zephyrine, DefaultIcon, Shell\Open and its Command: the desktop entry, written last,
    // so that a failure before it leaves the identifier missing and the next start tries again.
    const std::string desktop =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" +
        id +
        "\n"
        "Comment=" +
        description +
        "\n"
        "Icon=" +
        IconPath() +
        "\n"
        "Exec=" +
        QuoteExecArgument(exe) +
        " %f\n"
        "MimeType=" +
        std::string(kMimeType) +
        ";\n"
        "Terminal=false\n"
        "Categories=Network;InstantMessaging;\n"
        "X-Zephyrine-Verb=&Open\n";
    WriteFileOrThrow(DesktopEntryPath(), desktop);

    // SHChangeNotify: refresh the caches of the two folders, when the tools are installed.
    RefreshAssociationCaches();
}

// ---- processes and files ----------------------------------------------------------------------

int TGlobal::RunAndWait(const std::vector<std::string>& argv, int /*show*/) {
    return base::RunProcess(argv).ExitCode;
}

void TGlobal::ClearFolder(const std::string& folder, const std::string& mask) {
    std::error_code ec;
    // The folder's own entry, without the trailing "/" that would resolve a link.
    std::string own = folder;
    while (own.size() > 1 && own.back() == '/')
        own.pop_back();
    const fs::path dir(own);
    // A folder that is a symbolic link is not followed: only the link goes.
    if (fs::is_symlink(fs::symlink_status(dir, ec))) {
        fs::remove(dir, ec);
        return;
    }
    const std::string pattern = (mask == "*.*") ? "*" : mask;  // "*.*" is every name on Windows
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);  // links are removed, never followed
        }
    }
    fs::remove(dir, ec);  // fails silently while anything is left
}

std::string TGlobal::FindPackFile(const std::string& folder) {
    std::string result;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sec;
        if (it->symlink_status(sec).type() == fs::file_type::directory) continue;
        const std::string name = it->path().filename().string();
        if (UpperFileExtension(name) == ".XML") continue;
        result = name;
    }
    return result;
}

std::string TGlobal::FindSwfFile(const std::string& folder) {
    std::string result;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (UpperFileExtension(name) == ".SWF") result = name;
    }
    return result;
}

bool TGlobal::CopyWithPrefix(const std::string& source, const std::string& destination) {
    return CopyBehindPrefix(source, destination, TPrefixRule::Always, kCopyPause);
}

bool TGlobal::CopyWithPrefix(const TLockedSource& source, const std::string& destination) {
    return CopyBehindPrefix(source, destination, TPrefixRule::Always, kCopyPause);
}

TLockedSource::TLockedSource(const std::string& path)
    : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    locked_ = fd_ && flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0;
}

bool CopyBehindPrefix(const std::string& source, const std::string& destination, TPrefixRule rule,
                      std::chrono::milliseconds pause) {
    return CopyBehindPrefix(TLockedSource(source), destination, rule, pause);
}

bool CopyBehindPrefix(const TLockedSource& source, const std::string& destination,
                      TPrefixRule rule, std::chrono::milliseconds pause) {
    return CopyBehindPrefix(source, destination, rule,
                            [pause] { std::this_thread::sleep_for(pause); });
}

bool CopyBehindPrefix(const std::string& source, const std::string& destination, TPrefixRule rule,
                      const std::function<void()>& pause) {
    const TLockedSource opened(source);  // closed after the pause
    return CopyBehindPrefix(opened, destination, rule, pause);
}

bool CopyBehindPrefix(const TLockedSource& source, const std::string& destination,
                      TPrefixRule rule, const std::function<void()>& pause) {
    bool ok = source.Locked();
    std::string buffer;
    if (ok) {
        char chunk[65536];
        for (off_t at = 0;;) {
            const ssize_t n = pread(source.Fd(), chunk, sizeof chunk, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(n));
            at += n;
        }
    }
    if (ok) {
        if (rule == TPrefixRule::Always || buffer.rfind(platform::kCabinetSignature, 0) != 0)
            buffer.insert(buffer.begin(), kContentFilePrefix);
        std::error_code ec;
        const fs::path dst(destination);
        if (fs::exists(fs::symlink_status(dst, ec))) fs::remove(dst, ec);
        if (fs::exists(fs::symlink_status(dst, ec))) fs::remove(dst, ec);
        std::ofstream out(destination, std::ios::binary | std::ios::trunc);
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        out.flush();
        if (!out) ok = false;
    }
    pause();  // before the source is closed
    return ok;
}

}  // namespace zephyrine::app
