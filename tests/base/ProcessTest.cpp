#include "base/Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using zephyrine::base::RunProcess;

TEST(RunProcess, ExitCodesAndStartFailures) {
    EXPECT_EQ(RunProcess({"sh", "-c", "exit 7"}).ExitCode, 7);
    EXPECT_EQ(RunProcess({"sh", "-c", "kill -TERM $$"}).ExitCode, 128 + 15);
    const auto missing = RunProcess({"/no/such/program"});
    EXPECT_EQ(missing.ExitCode, -1);
    EXPECT_FALSE(missing.StartError.empty());
    EXPECT_EQ(RunProcess({}).ExitCode, -1);
}

TEST(RunProcess, CapturesErrorOutputWithQuietInputAndOutput) {
    // Standard input is /dev/null (read gives nothing), standard output is discarded.
    const auto r =
        RunProcess({"sh", "-c", "read x && echo got; echo out; echo 'bad thing' >&2"}, true);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.ErrorOutput, "bad thing\n");
}

TEST(RunProcess, ErrorOutputIsBoundedAndTheChildNeverBlocks) {
    const auto r = RunProcess({"sh", "-c", "head -c 100000 /dev/zero >&2; exit 3"}, true);
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_EQ(r.ErrorOutput.size(), 4096u);
}

TEST(RunProcess, NoDescriptorIsInheritedBeyondTheStandardThree) {
    const int fd = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    const std::string probe = "test -e /proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(RunProcess({"sh", "-c", probe}).ExitCode, 1);
    close(fd);
}

TEST(ChildProcess, EnvironmentFolderAndPipedOutput) {
    zephyrine::base::TChildOptions options;
    options.Environment = {"ZEPHYRINE_PROBE=one two", "HOME=/nowhere"};
    options.WorkingFolder = "/";
    options.Output = zephyrine::base::TRedirect::ToPipe();
    options.ErrorToOutput = true;
    zephyrine::base::TChildProcess child(
        {"sh", "-c", "echo \"$ZEPHYRINE_PROBE\"; echo \"$HOME\"; pwd >&2; printf tail"}, options);
    EXPECT_EQ(child.ReadOutputLine(), "one two");
    EXPECT_EQ(child.ReadOutputLine(), "/nowhere");  // the override wins over the caller's
    EXPECT_EQ(child.ReadOutputLine(), "/");
    EXPECT_EQ(child.ReadOutputLine(), "tail");  // a last line without its line end
    EXPECT_EQ(child.ReadOutputLine(), std::nullopt);
    EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcess, StopEndsAChildThatIgnoresTermination) {
    zephyrine::base::TChildProcess child({"sh", "-c", "trap '' TERM; while :; do sleep 1; done"});
    EXPECT_FALSE(child.WaitFor(std::chrono::milliseconds(50)).has_value());
    child.Stop(std::chrono::milliseconds(200));
    EXPECT_EQ(child.WaitFor(std::chrono::milliseconds(0)), 128 + SIGKILL);
    EXPECT_THROW(zephyrine::base::TChildProcess({"/no/such/program"}), std::runtime_error);
}
