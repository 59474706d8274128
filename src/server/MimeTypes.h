// Content types of served files by file extension, from the system's mime.types table.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace zephyrine::server {

inline constexpr std::string_view kDefaultContentType = "application/octet-stream";
inline constexpr const char* kSystemMimeTypes = "/etc/mime.types";

// Extension (lower case, without the dot) to content type, as read from one mime.types file.
class TMimeTypes {
  public:
    TMimeTypes() = default;
    // Reads a file of lines "type ext1 ext2 ..." ('#' starts a comment); a missing file gives
    // an empty table. The first line naming an extension wins.
    static TMimeTypes Load(const std::string& path);
    // The system table, read once on first use.
    static const TMimeTypes& System();

    // The registered type of the extension (with or without its dot), or empty.
    std::string Lookup(std::string_view extension) const;

  private:
    std::unordered_map<std::string, std::string> types_;
};

// The content type to announce for a file: ".exe" and ".dll" are always the default type,
// other extensions are looked up in the table, and unknown ones give the default type.
std::string GetContentType(const std::string& fileName, const TMimeTypes& table);

}  // namespace zephyrine::server
