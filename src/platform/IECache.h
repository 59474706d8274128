// The URL cache in front of the messenger content installer: one file per URL under
// $XDG_CACHE_HOME/messenger-content/ (default ~/.cache/messenger-content/).
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>

namespace zephyrine::platform {

class TIECache : public IUrlCache {
  public:
    // Removes the entry of one URL: 0 on success, else the system error code (errno; ENOENT
    // when the URL has no entry).
    std::uint32_t DeleteUrlCacheEntry(const std::string& url) override;

    // The cache folder, ending in "/".
    static std::string Folder();
    // The file that holds the URL's entry (whether or not it exists).
    static std::string EntryPath(const std::string& url);
};

}  // namespace zephyrine::platform
