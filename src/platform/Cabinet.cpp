#include "platform/Cabinet.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace zephyrine::platform {

namespace {

// The fixed part of a cabinet header and of a file entry; a stored name is at most 256 bytes
// with its terminating NUL.
constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFileEntryBytes = 16;
constexpr std::size_t kMaxNameBytes = 256;
constexpr std::size_t kFilesOffsetAt = 16;
constexpr std::size_t kFileCountAt = 28;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::vector<std::string> UnpackCommand(const std::string& tool, const std::string& folder,
                                       const std::string& cab) {
    return {tool, "-q", "-d", folder, "--", cab};
}

bool BeginsWithCabinetSignature(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    return in.read(head, sizeof head) && std::memcmp(head, kCabinetSignature, sizeof head) == 0;
}

std::optional<std::vector<std::string>> CabinetFileNames(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[kHeaderBytes];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) ||
        std::memcmp(header, kCabinetSignature, 4) != 0)
        return std::nullopt;
    const std::uint32_t filesAt = Le32(header + kFilesOffsetAt);
    const std::uint16_t count = Le16(header + kFileCountAt);
    if (filesAt < kHeaderBytes || !in.seekg(filesAt)) return std::nullopt;
    std::vector<std::string> names;
    for (std::uint16_t i = 0; i < count; ++i) {
        char entry[kFileEntryBytes];
        if (!in.read(entry, sizeof entry)) return std::nullopt;
        std::string name;
        char c;
        while (in.get(c) && c != '\0') {
            if (name.size() + 1 >= kMaxNameBytes) return std::nullopt;
            name += c;
        }
        if (!in) return std::nullopt;
        names.push_back(std::move(name));
    }
    return names;
}

bool IsEscapingName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return true;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
        if (name.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace zephyrine::platform
