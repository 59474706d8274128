// TThreadTimer: a repeating timer whose ticks are taken by the caller's wait. It owns a timer
// descriptor that becomes readable when an interval has run out; the wait polls it beside the
// socket and calls Service(), which runs OnTimer on the waiting thread.
#pragma once

#include "base/UniqueFd.h"

#include <functional>

namespace zephyrine::httpclient {

class TThreadTimer {
  public:
    static constexpr unsigned kDefaultInterval = 1000;  // milliseconds

    TThreadTimer() = default;
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    // Every assignment of the three restarts the timer (when it runs at all), so the interval
    // counts from the last assignment. A timer that cannot start throws "No Timer".
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned milliseconds);
    void SetOnTimer(std::function<void()> handler);

    // Readable while a tick is due; -1 before the timer first ran.
    int Handle() const { return fd_.Get(); }
    // Takes a due tick and runs OnTimer; nothing when none is due.
    void Service();

  private:
    void UpdateTimer();

    bool enabled_ = true;
    unsigned interval_ = kDefaultInterval;
    std::function<void()> onTimer_;
    base::UniqueFd fd_;
};

}  // namespace zephyrine::httpclient
