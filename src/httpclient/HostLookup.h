// THostLookup: resolves a host name to an IPv4 address on a helper thread, so that the thread
// that asked keeps pumping while the resolver waits. Completion makes a descriptor readable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zephyrine::httpclient {

class THostLookup {
  public:
    THostLookup() = default;
    THostLookup(const THostLookup&) = delete;
    THostLookup& operator=(const THostLookup&) = delete;
    ~THostLookup() { Abandon(); }

    // Starts a lookup of name, abandoning one under way. Throws std::system_error when the
    // helper thread or its descriptor cannot be made.
    void Start(const std::string& name);
    // Lets a running lookup finish on its own; its result is dropped.
    void Abandon() { state_.reset(); }

    // Readable once the lookup has ended; -1 when none was started.
    int Handle() const;
    bool Done() const;
    // After Done: the first IPv4 address in network byte order (0 when none) and the socket
    // error code of a failure (0 on success).
    std::uint32_t Address() const;
    int ErrorCode() const;

  private:
    struct TState;
    static void Resolve(const std::shared_ptr<TState>& state, const std::string& name);
    std::shared_ptr<TState> state_;  // shared with the helper thread until it ends
};

}  // namespace zephyrine::httpclient
