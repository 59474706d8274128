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

    // Assigned again every 20 ms, a 300 ms timer never runs out.
    timer.SetInterval(300);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(900)) {
        timer.SetEnabled(true);
        EXPECT_FALSE(TickWithin(timer, 20));
    }
    timer.SetEnabled(false);
    EXPECT_FALSE(TickWithin(timer, 400));
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
