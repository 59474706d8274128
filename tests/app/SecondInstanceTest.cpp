// The refusal of a second instance between real processes of the program. Each run
// gets its own XDG_RUNTIME_DIR, so parallel tests never see each other's presence, and message
// boxes go to standard error (ZEPHYRINE_MESSAGE_BOX=stderr) so nothing blocks.
#include "support/TestWait.h"
#include "platform/InstancePresence.h"
#include "base/Process.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using zephyrine::base::TChildOptions;
using zephyrine::base::TChildProcess;
using zephyrine::base::TRedirect;
using zephyrine::platform::TInstancePresence;
using zephyrine::test::Eventually;
using zephyrine::test::ReadFile;
using zephyrine::test::TScopedEnv;
using zephyrine::test::TTempDir;

namespace {

const char kRefusal[] =
    "MessageBox[Zephyrine]: Zephyrine is already running.First,Please close the program.\n";

// The program with environment additions, its standard error in a file; killed on destruction.
class TProgram {
  public:
    TProgram(const std::vector<std::string>& args, const std::string& stderrFile,
             const std::vector<std::string>& env)
        : child_(Argv(args), Options(stderrFile, env)) {}
    ~TProgram() {
        child_.Kill(SIGKILL);
        child_.Wait();
    }
    // The exit status, or nullopt while it still runs after the wait.
    std::optional<int> WaitFor(std::chrono::milliseconds limit) { return child_.WaitFor(limit); }
    bool Running() { return child_.Running(); }

  private:
    static std::vector<std::string> Argv(const std::vector<std::string>& args) {
        const char* exe = std::getenv("ZEPHYRINE_EXE");
        if (exe == nullptr) throw std::runtime_error("ZEPHYRINE_EXE is not set");
        std::vector<std::string> argv = {exe};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    static TChildOptions Options(const std::string& stderrFile,
                                 const std::vector<std::string>& env) {
        TChildOptions options;
        options.Environment = env;
        options.Input = TRedirect::ToNull();
        options.ErrorOutput = TRedirect::ToFile(stderrFile);
        return options;
    }
    TChildProcess child_;
};

class SecondInstance : public ::testing::Test {
  protected:
    SecondInstance() : runtime("XDG_RUNTIME_DIR", dir / "rt") {
        mkdir((dir / "rt").c_str(), 0700);
        env = {"XDG_RUNTIME_DIR=" + (dir / "rt"), "XDG_DATA_HOME=" + (dir / "data"),
               "QT_QPA_PLATFORM=offscreen", "ZEPHYRINE_MESSAGE_BOX=stderr"};
    }
    // Runs the program with its status texts traced to its standard error, and waits until its
    // window has shown one: past the point where a second instance is refused.
    std::unique_ptr<TProgram> StartPastTheCheck(const std::vector<std::string>& args,
                                                const std::string& stderrFile) {
        std::vector<std::string> traced = env;
        traced.push_back("ZEPHYRINE_TRACE=stderr");
        auto program = std::make_unique<TProgram>(args, stderrFile, traced);
        EXPECT_TRUE(Eventually(
            [&] {
                const std::string err = ReadFile(stderrFile);
                return err.find("Status: ") != std::string::npos ||
                       err.find("Load the Winks list failed.") != std::string::npos;
            },
            20000, 20))
            << ReadFile(stderrFile);
        return program;
    }

    TTempDir dir;
    TScopedEnv runtime;  // the test looks at the same presence as the programs
    std::vector<std::string> env;
};

}  // namespace

TEST_F(SecondInstance, WithAFileArgumentIsRefusedAndTheFirstKeepsRunning) {
    TProgram first({}, dir / "first.err", env);
    ASSERT_TRUE(Eventually([] { return TInstancePresence::IsHeldByAnyone(); }, 20000, 20))
        << ReadFile(dir / "first.err");

    TProgram second({dir / "pack.mca"}, dir / "second.err", env);
    const std::optional<int> status = second.WaitFor(20s);
    ASSERT_TRUE(status.has_value()) << "the second instance did not end";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(ReadFile(dir / "second.err"), kRefusal);  // the box and nothing else: no window

    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(TInstancePresence::IsHeldByAnyone());
    EXPECT_EQ(ReadFile(dir / "first.err").find("already running"), std::string::npos);
}

TEST_F(SecondInstance, WithoutAnArgumentRunsNormally) {
    TProgram first({}, dir / "first.err", env);
    ASSERT_TRUE(Eventually([] { return TInstancePresence::IsHeldByAnyone(); }, 20000, 20));
    const auto second = StartPastTheCheck({}, dir / "second.err");
    EXPECT_TRUE(second->Running()) << "the second instance ended";
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(ReadFile(dir / "second.err").find("already running"), std::string::npos);
}

TEST_F(SecondInstance, AFirstStartWithAFileArgumentRuns) {
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
    TProgram first({dir / "pack.mca"}, dir / "first.err", env);
    ASSERT_TRUE(Eventually([] { return TInstancePresence::IsHeldByAnyone(); }, 20000, 20));
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(ReadFile(dir / "first.err").find("already running"), std::string::npos);
}

TEST_F(SecondInstance, ThePresenceEndsWithTheWindow) {
    {
        TProgram first({}, dir / "first.err", env);
        ASSERT_TRUE(Eventually([] { return TInstancePresence::IsHeldByAnyone(); }, 20000, 20));
    }  // killed
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
    const auto later = StartPastTheCheck({dir / "pack.mca"}, dir / "later.err");
    EXPECT_TRUE(later->Running());  // not refused
    EXPECT_EQ(ReadFile(dir / "later.err").find("already running"), std::string::npos);
}
