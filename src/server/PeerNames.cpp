#include "server/PeerNames.h"

#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace zephyrine::server {

namespace {

constexpr auto kHostNameLifetime = std::chrono::seconds(10);
constexpr std::size_t kHostNameCacheSize = 1024;
constexpr std::uint32_t kLoopbackNet = 0x7F000000;  // 127.0.0.0/8
constexpr std::uint32_t kLoopbackMask = 0xFF000000;
constexpr const char* kLoopbackName = "localhost";

struct TRemembered {
    std::string name;
    std::chrono::steady_clock::time_point until;
};

class TPeerNameCache {
  public:
    bool Find(std::uint32_t address, std::string& name) {
        std::lock_guard guard(lock_);
        const auto it = names_.find(address);
        if (it == names_.end() || std::chrono::steady_clock::now() >= it->second.until) {
            return false;
        }
        name = it->second.name;
        return true;
    }
    void Remember(std::uint32_t address, const std::string& name) {
        std::lock_guard guard(lock_);
        if (names_.size() >= kHostNameCacheSize) names_.clear();
        names_[address] = {name, std::chrono::steady_clock::now() + kHostNameLifetime};
    }

  private:
    std::mutex lock_;  // guards names_; never held during a lookup
    std::unordered_map<std::uint32_t, TRemembered> names_;
};

TPeerNameCache& Cache() {
    static TPeerNameCache cache;
    return cache;
}

}  // namespace

std::string PeerHostName(const sockaddr_in& peer) {
    if ((ntohl(peer.sin_addr.s_addr) & kLoopbackMask) == kLoopbackNet) return kLoopbackName;
    std::string found;
    if (Cache().Find(peer.sin_addr.s_addr, found)) return found;
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name,
                      nullptr, 0, NI_NAMEREQD) == 0) {
        found = name;
    }
    Cache().Remember(peer.sin_addr.s_addr, found);
    return found;
}

}  // namespace zephyrine::server
