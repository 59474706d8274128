#include "httpclient/HostLookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/UniqueFd.h"
#include "httpclient/SockError.h"

namespace zephyrine::httpclient {

struct THostLookup::TState {
    TState() : eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), event(eventFd.Get()) {
        if (event < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    }

    const base::UniqueFd eventFd;
    const int event;  // eventFd's descriptor
    std::atomic<bool> done{false};
    std::uint32_t address = 0;  // written by the helper before done, read by the owner after
    int error = 0;
};

namespace {

// The resolver's internals are not race-free as ThreadSanitizer sees them, and lookups are
// rare: they run one at a time.
std::mutex lookupLock;

}  // namespace

void THostLookup::Start(const std::string& name) {
    Abandon();
    auto state = std::make_shared<TState>();
    std::thread([state, name] { Resolve(state, name); }).detach();
    state_ = std::move(state);
}

int THostLookup::Handle() const {
    return state_ ? state_->event : -1;
}
bool THostLookup::Done() const {
    return state_ && state_->done.load(std::memory_order_acquire);
}
std::uint32_t THostLookup::Address() const {
    return Done() ? state_->address : 0;
}
int THostLookup::ErrorCode() const {
    return Done() ? state_->error : 0;
}

void THostLookup::Resolve(const std::shared_ptr<TState>& state, const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result;
    {
        std::lock_guard guard(lookupLock);
        result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    }
    if (result == 0 && found != nullptr) {
        state->address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    } else {
        state->error = SockErrorFromLookup(result);
    }
    if (found != nullptr) ::freeaddrinfo(found);
    state->done.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(state->event, &one, sizeof one);
}

}  // namespace zephyrine::httpclient
