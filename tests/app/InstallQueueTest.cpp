// The install queue driven directly, with an installer whose completions the test gives.
#include "app/InstallQueue.h"
#include "support/AppTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zephyrine;
using app::TInstallJob;
using app::TInstallQueue;

namespace {

struct TInstallerLog {
    std::vector<std::string> handedOver;
    platform::IMessengerContentInstaller* installer = nullptr;
    bool refuse = false;
};

class THeldInstaller : public platform::IMessengerContentInstaller {
  public:
    explicit THeldInstaller(TInstallerLog& log) : log_(log) { log_.installer = this; }
    void InstallFromUrl(const std::string& url) override {
        if (log_.refuse) throw std::runtime_error("Messenger is not running");
        log_.handedOver.push_back(url);
    }

  private:
    TInstallerLog& log_;
};

class InstallQueue : public ::testing::Test {
  protected:
    InstallQueue()
        : queue([this] {
              ++made;
              return std::make_unique<THeldInstaller>(log);
          }),
          status(&queue, &TInstallQueue::StatusText),
          failed(&queue, &TInstallQueue::HandOverFailed) {
        test::EnsureApp();
    }
    void Complete(std::int32_t result) { log.installer->OnContentInstalled(result); }
    QString LastStatus() const { return status.isEmpty() ? "" : status.last()[0].toString(); }

    TInstallerLog log;
    int made = 0;
    TInstallQueue queue;
    QSignalSpy status, failed;
};

TEST_F(InstallQueue, SingleInstallIsAnnouncedUnderItsName) {
    queue.InstallOne({"http://c/download/foo.cab", "Foo", {}});
    EXPECT_TRUE(queue.Pending());
    EXPECT_EQ(log.handedOver, std::vector<std::string>{"http://c/download/foo.cab"});
    EXPECT_TRUE(status.isEmpty());
    Complete(0);
    EXPECT_FALSE(queue.Pending());
    EXPECT_EQ(LastStatus(), "Foo installed successfully.");
    queue.InstallOne({"http://c/x.cab", "", "Not previewed: why"});
    Complete(0);
    EXPECT_EQ(LastStatus(), " installed successfully. Not previewed: why");
    EXPECT_EQ(made, 1) << "one installer, kept";
}

TEST_F(InstallQueue, RunHandsOverOneAtATimeAndAnnouncesTheTotal) {
    queue.InstallAll({{"a", "A", {}}, {"b", "B", {}}, {"c", "C", {}}});
    EXPECT_EQ(queue.InstallTotal(), 3);
    for (const std::size_t n : {1u, 2u, 3u}) {
        EXPECT_EQ(log.handedOver.size(), n);
        EXPECT_TRUE(queue.Pending());
        Complete(0);
    }
    EXPECT_FALSE(queue.Pending());
    EXPECT_EQ(log.handedOver, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(status.size(), 1);
    EXPECT_EQ(LastStatus(), "Total 3 Winks of MSN Messenger have been installed successfully.");
    // A single install after a run is announced as a single one.
    queue.InstallOne({"d", "D", {}});
    EXPECT_FALSE(queue.QueueMode());
    Complete(0);
    EXPECT_EQ(LastStatus(), "D installed successfully.");
}

TEST_F(InstallQueue, FailuresStopTheRun) {
    // A failed install: silently, the rest never handed over.
    queue.InstallAll({{"a", "A", {}}, {"b", "B", {}}, {"c", "C", {}}});
    Complete(0);
    Complete(static_cast<std::int32_t>(0x80004005));
    EXPECT_FALSE(queue.Pending());
    EXPECT_EQ(queue.Waiting(), 0u);
    EXPECT_EQ(log.handedOver.size(), 2u);
    EXPECT_TRUE(status.isEmpty());
    Complete(0);  // a completion nothing waits for changes nothing
    EXPECT_TRUE(status.isEmpty());

    // A refused hand-over: said, and no completion awaited.
    log.refuse = true;
    QSignalSpy pending(&queue, &TInstallQueue::PendingChanged);
    queue.InstallAll({{"d", "D", {}}, {"e", "E", {}}});
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "Messenger is not running");
    EXPECT_FALSE(queue.Pending());
    EXPECT_EQ(queue.Waiting(), 0u);
    ASSERT_EQ(pending.size(), 2);  // on, then off again
    EXPECT_FALSE(pending[1][0].toBool());
}

TEST(InstallQueueWithoutInstaller, EveryHandOverFailsAsNotAvailable) {
    test::EnsureApp();
    TInstallQueue queue(nullptr);
    QSignalSpy failed(&queue, &TInstallQueue::HandOverFailed);
    queue.InstallOne({"a", "A", {}});
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "The messenger content installer is not available.");
    EXPECT_FALSE(queue.Pending());
}

}  // namespace
