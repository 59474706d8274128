#include "app/WinkLibrary.h"

#include "app/WinksGlobal.h"
#include "base/Process.h"
#include "base/ReplaceFile.h"
#include "base/ScopeExit.h"
#include "base/TextCompare.h"
#include "base/UniqueFd.h"
#include "platform/Cabinet.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <pugixml.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>

namespace zephyrine::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkPrefix = ".work-";      // a content file being unpacked for its name
constexpr std::size_t kHashHexChars = 64;          // SHA-256
constexpr std::string_view kMcaSignature = "SCF";  // a cabinet's signature without its "M"

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// The whole file; nullopt with the reason in error when it cannot be read or is too large.
std::optional<std::string> ReadWhole(const std::string& path, std::string& error) {
    const base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        error = SystemError("The content file cannot be read:", path);
        return std::nullopt;
    }
    const std::string tooLarge = "The content file is too large: " + path;
    if (!S_ISREG(st.st_mode)) {
        error = "The content file is not a file: " + path;
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > TWinkLibrary::kMaxContentFileBytes) {
        error = tooLarge;
        return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = SystemError("The content file cannot be read:", path);
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > TWinkLibrary::kMaxContentFileBytes) {
            error = tooLarge;
            return std::nullopt;
        }
    }
    return bytes;
}

// The file replaced whole (see base::ReplaceFileContents), its failure said as the library's.
void ReplaceFile(const std::string& path, std::string_view bytes) {
    try {
        base::ReplaceFileContents(path, bytes);
    } catch (const std::system_error& e) {
        throw ELibraryError("The library cannot be written: " + path + ": " +
                            std::strerror(e.code().value()));
    }
}

// A name fit for one line of the tree: control characters become blanks, and a long one is cut
// at kMaxNameChars bytes on a character boundary.
std::string CaptionText(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (name.size() > TWinkLibrary::kMaxNameChars) {
        std::size_t end = TWinkLibrary::kMaxNameChars;
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
            --end;
        name.resize(end);
    }
    return name;
}

bool SameNameBlind(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

// The name a content description gives its Wink: the document element's "name" or "title"
// attribute, else the text of the first element called title or name.
std::string NameInDescription(const std::string& path) {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) return {};
    const pugi::xml_node root = doc.document_element();
    for (const char* attribute : {"name", "title"}) {
        for (const pugi::xml_attribute a : root.attributes())
            if (SameNameBlind(a.name(), attribute) && !base::Trimmed(a.value()).empty())
                return base::Trimmed(a.value());
    }
    const pugi::xml_node found = root.find_node([](const pugi::xml_node& node) {
        if (node.type() != pugi::node_element) return false;
        const char* local = std::strchr(node.name(), ':');
        local = local != nullptr ? local + 1 : node.name();
        return (SameNameBlind(local, "title") || SameNameBlind(local, "name")) &&
               !base::Trimmed(node.child_value()).empty();
    });
    return found ? base::Trimmed(found.child_value()) : std::string();
}

// Unpacks the outer cabinet into a work folder inside the library and reads the name its
// description gives; "" when it has none. nullopt when it is no cabinet that can be unpacked.
std::optional<std::string> NameInCabinet(const std::string& folder, std::string_view cabinet) {
    std::string work = folder + kWorkPrefix + "XXXXXX";
    if (::mkdtemp(work.data()) == nullptr)
        throw ELibraryError(SystemError("The library cannot be written:", folder));
    const base::ScopeExit removeWork([&] {
        std::error_code ec;
        fs::remove_all(work, ec);
    });
    const std::string cab = work + "/whole.cab";
    const std::string out = work + "/files/";
    {
        const base::UniqueFd fd(::open(cab.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd || ::write(fd.Get(), cabinet.data(), cabinet.size()) !=
                       static_cast<ssize_t>(cabinet.size()))
            throw ELibraryError(SystemError("The library cannot be written:", folder));
    }
    const auto names = platform::CabinetFileNames(cab);
    if (!names) return std::nullopt;
    for (const std::string& name : *names)
        if (platform::IsEscapingName(name)) return std::nullopt;
    const std::string tool = base::FindProgram(platform::kCabinetTool);
    if (tool.empty() || ::mkdir(out.c_str(), 0700) != 0) return std::string();
    if (base::RunProcess(platform::UnpackCommand(tool, out, cab), true).ExitCode != 0)
        return std::string();
    std::vector<std::string> descriptions;
    std::error_code ec;
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sec;
        if (it->symlink_status(sec).type() == fs::file_type::regular &&
            UpperFileExtension(it->path().filename().string()) == ".XML")
            descriptions.push_back(it->path().string());
    }
    std::sort(descriptions.begin(), descriptions.end());
    for (const std::string& description : descriptions) {
        std::string name = NameInDescription(description);
        if (!name.empty()) return CaptionText(std::move(name));
    }
    return std::string();
}

bool IsCopyName(const std::string& name) {
    if (name.size() != kHashHexChars + 4) return false;
    const std::string ext = name.substr(kHashHexChars);
    return (ext == ".mca" || ext == ".mco") &&
           std::all_of(name.begin(), name.begin() + kHashHexChars,
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

bool IsContentFileName(const std::string& path) {
    const std::string ext = UpperFileExtension(path);
    return ext == ".MCA" || ext == ".MCO";
}

TWinkLibrary::TWinkLibrary(std::string folder) : folder_(std::move(folder)) {
    if (folder_.empty() || folder_.back() != '/') folder_ += '/';
    Load();
}

void TWinkLibrary::Load() {
    std::error_code ec;
    if (!fs::is_directory(folder_, ec)) return;
    const std::string catalogue = CataloguePath();
    if (fs::exists(fs::symlink_status(catalogue, ec))) {
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_file(catalogue.c_str());
        if (!parsed) {
            loadError_ = "The library " + catalogue + " cannot be read: " + parsed.description();
            return;
        }
        for (const pugi::xml_node category : doc.document_element().children()) {
            for (const pugi::xml_node item : category.children()) {
                TLibraryItem entry{item.attribute("WinkName").value(),
                                   item.attribute("File").value(),
                                   item.attribute("Source").value()};
                // Only a copy of the library's own naming, and one that is there.
                if (!IsCopyName(entry.File) ||
                    !fs::is_regular_file(fs::symlink_status(folder_ + entry.File, ec)))
                    continue;
                items_.push_back(std::move(entry));
            }
        }
    }
    // What an add cut off by a crash left: its temporary files, and a copy never listed.
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool listed = std::any_of(items_.begin(), items_.end(),
                                        [&](const TLibraryItem& i) { return i.File == name; });
        if (name.starts_with(base::kReplaceTempPrefix) || name.starts_with(kWorkPrefix) ||
            (IsCopyName(name) && !listed)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

void TWinkLibrary::RequireReadable() const {
    if (!loadError_.empty()) throw ELibraryError(loadError_);
}

void TWinkLibrary::WriteCatalogue(const std::vector<TLibraryItem>& items) const {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node category = doc.append_child(kRootElement).append_child(kCategoryElement);
    for (const TLibraryItem& item : items) {
        pugi::xml_node node = category.append_child("Wink");
        node.append_attribute("WinkName") = item.Name.c_str();
        node.append_attribute("File") = item.File.c_str();
        node.append_attribute("Source") = item.Source.c_str();
    }
    std::ostringstream text;
    doc.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    ReplaceFile(CataloguePath(), text.str());
}

TAddResult TWinkLibrary::Add(const std::string& file) {
    RequireReadable();
    TAddResult result;
    const std::optional<std::string> read = ReadWhole(file, result.Error);
    if (!read) {
        result.Outcome = TAddOutcome::Unreadable;
        return result;
    }
    const std::string& bytes = *read;
    const bool mca = UpperFileExtension(file) == ".MCA";
    const std::string_view signature = mca ? kMcaSignature : platform::kCabinetSignature;
    if (!std::string_view(bytes).starts_with(signature)) {
        result.Error = "Not a Wink content file (no cabinet): " + file;
        return result;
    }
    const std::string copy =
        QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(), bytes.size()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .toStdString() +
        (mca ? ".mca" : ".mco");
    const auto same = std::find_if(items_.begin(), items_.end(),
                                   [&](const TLibraryItem& i) { return i.File == copy; });
    if (same != items_.end()) return {TAddOutcome::Duplicate, *same, {}};

    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) throw ELibraryError("The library cannot be written: " + folder_ + ": " + ec.message());
    const std::optional<std::string> described =
        NameInCabinet(folder_, mca ? kContentFilePrefix + bytes : bytes);
    if (!described) {
        result.Error = "Not a Wink content file (its cabinet cannot be read): " + file;
        return result;
    }
    const fs::path source(file);
    TLibraryItem item{described->empty() ? source.stem().string() : *described, copy,
                      source.filename().string()};

    const std::string copyPath = folder_ + copy;
    ReplaceFile(copyPath, bytes);
    // Until the catalogue lists it, the copy is no part of the library.
    base::ScopeExit removeCopy([&] { ::unlink(copyPath.c_str()); });
    std::vector<TLibraryItem> items = items_;
    items.push_back(item);
    WriteCatalogue(items);
    removeCopy.Release();
    items_ = std::move(items);
    return {TAddOutcome::Added, std::move(item), {}};
}

bool TWinkLibrary::Remove(const std::string& copyFile) {
    RequireReadable();
    std::vector<TLibraryItem> items = items_;
    const auto at = std::find_if(items.begin(), items.end(),
                                 [&](const TLibraryItem& i) { return i.File == copyFile; });
    if (at == items.end()) return false;
    items.erase(at);
    WriteCatalogue(items);
    items_ = std::move(items);
    ::unlink((folder_ + copyFile).c_str());
    return true;
}

}  // namespace zephyrine::app
