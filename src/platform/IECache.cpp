#include "IECache.h"

#include <QCryptographicHash>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace zephyrine::platform {

namespace {

std::string XdgFolder(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/tmp") + "/" + fallbackUnderHome;
}

}  // namespace

std::string TIECache::Folder() {
    return XdgFolder("XDG_CACHE_HOME", ".cache") + "/messenger-content/";
}

std::string TIECache::EntryPath(const std::string& url) {
    const QByteArray key =
        QCryptographicHash::hash(QByteArray::fromStdString(url), QCryptographicHash::Sha256)
            .toHex();
    return Folder() + key.toStdString();
}

std::uint32_t TIECache::DeleteUrlCacheEntry(const std::string& url) {
    if (unlink(EntryPath(url).c_str()) != 0) return static_cast<std::uint32_t>(errno);
    return 0;
}

}  // namespace zephyrine::platform
