#include "httpclient/ThreadTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <utility>

namespace zephyrine::httpclient {

void TThreadTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned milliseconds) {
    interval_ = milliseconds;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(std::function<void()> handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    const bool run = interval_ != 0 && enabled_ && onTimer_;
    if (!fd_) {
        if (!run) return;
        fd_.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
        if (!fd_) throw std::runtime_error("No Timer");
    }
    itimerspec when{};
    if (run) {
        when.it_value.tv_sec = interval_ / 1000;
        when.it_value.tv_nsec = static_cast<long>(interval_ % 1000) * 1000000;
        when.it_interval = when.it_value;
    }
    // Setting a new time also drops a tick that is due but not yet taken.
    if (::timerfd_settime(fd_.Get(), 0, &when, nullptr) != 0 && run)
        throw std::runtime_error("No Timer");
}

void TThreadTimer::Service() {
    std::uint64_t ticks = 0;
    if (!fd_ || ::read(fd_.Get(), &ticks, sizeof ticks) != sizeof ticks || ticks == 0) return;
    if (onTimer_) onTimer_();
}

}  // namespace zephyrine::httpclient
