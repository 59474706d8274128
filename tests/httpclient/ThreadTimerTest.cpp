#include "httpclient/ThreadTimer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>

#include <chrono>
#include <exception>
#include <stdexcept>

using namespace zephyrine::httpclient;

namespace {

// Waits up to ms for a tick and takes it.
bool TickWithin(TThreadTimer& timer, int ms) {
    pollfd p{timer.Handle(), POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    timer.Service();
    return true;
}

}  // namespace

TEST(ThreadTimer, TicksRepeatAndEachAssignmentRestartsTheInterval) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(30);
    timer.SetOnTimer([&] { ++ticks; });
    EXPECT_TRUE(TickWithin(timer, 1000));
    EXPECT_TRUE(TickWithin(timer, 1000));
    EXPECT_EQ(ticks, 2);

    // An assignment restarts the interval: a tick that was due is gone, and with a long
    // interval none comes meanwhile. No wait here depends on how fast the machine is.
    const auto due = [&] {
        pollfd p{timer.Handle(), POLLIN, 0};
        return ::poll(&p, 1, 5000) == 1;
    };
    const auto dueNow = [&] {
        pollfd p{timer.Handle(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    ASSERT_TRUE(due());
    timer.SetEnabled(true);
    timer.SetInterval(600000);
    EXPECT_FALSE(dueNow());
    timer.SetInterval(30);
    ASSERT_TRUE(due());
    timer.SetEnabled(false);
    EXPECT_FALSE(dueNow());
    EXPECT_FALSE(TickWithin(timer, 100));
    EXPECT_EQ(ticks, 2);
}

TEST(ThreadTimer, ATimerThatCannotStartRaisesNoTimer) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;  // no descriptor for the timer
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    TThreadTimer timer;
    std::exception_ptr error;
    try {
        timer.SetOnTimer([] {});
    } catch (...) {
        error = std::current_exception();
    }
    setrlimit(RLIMIT_NOFILE, &saved);  // first: the sanitizers' checks need descriptors too
    std::string message;
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    EXPECT_EQ(message, "No Timer");
}
