#include "platform/IECache.h"

#include <QCryptographicHash>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/XdgFolders.h"

namespace zephyrine::platform {

std::string TIECache::Folder() {
    return base::XdgCacheHome() + "/messenger-content/";
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
