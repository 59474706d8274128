// Waiting in tests for something another thread or process does: poll a condition until a limit.
#pragma once

#include <chrono>
#include <thread>

namespace zephyrine::test {

// True as soon as condition() holds; false when it still does not after waitMs.
template <typename F>
bool Eventually(F condition, int waitMs = 5000, int pollMs = 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

}  // namespace zephyrine::test
