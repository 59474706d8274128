#include "platform/InstancePresence.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

using zephyrine::platform::TInstancePresence;

namespace {

class Presence : public ::testing::Test {
  protected:
    Presence() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "zephyrine-rt-XXXXXX").string();
        dir = mkdtemp(templ.data());
        if (const char* old = getenv("XDG_RUNTIME_DIR")) oldRuntime = old;
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    ~Presence() override {
        if (oldRuntime)
            setenv("XDG_RUNTIME_DIR", oldRuntime->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    std::optional<std::string> oldRuntime;
};

}  // namespace

TEST_F(Presence, HeldWhileItLives) {
    EXPECT_EQ(TInstancePresence::PresencePath(), dir + "/Zephyrine.presence");
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
    {
        TInstancePresence presence;
        EXPECT_TRUE(presence.Held());
        EXPECT_TRUE(TInstancePresence::IsHeldByAnyone());
        TInstancePresence second;  // a second window holds it too
        EXPECT_TRUE(second.Held());
    }
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
}

TEST_F(Presence, SeenFromAnotherProcess) {
    TInstancePresence presence;
    const pid_t child = fork();
    if (child == 0) _exit(TInstancePresence::IsHeldByAnyone() ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Presence, AnotherProcessHoldingIt) {
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    if (child == 0) {
        TInstancePresence presence;
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_TRUE(TInstancePresence::IsHeldByAnyone());
    (void)!write(done[1], &c, 1);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
}

// A program's child holds copies of its descriptors from its fork to its exec; when the program is
// killed meanwhile, the presence must still end with the program.
TEST_F(Presence, AChildBetweenForkAndExecDoesNotKeepIt) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        TInstancePresence presence;
        const pid_t child = fork();
        if (child == 0) {
            pause();  // like a spawned child that has not reached its exec yet
            _exit(0);
        }
        (void)!write(ready[1], &child, sizeof child);
        pause();
        _exit(0);
    }
    pid_t child = 0;
    ASSERT_EQ(read(ready[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
    EXPECT_TRUE(TInstancePresence::IsHeldByAnyone());
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
    kill(child, SIGKILL);
}

TEST_F(Presence, OtherRuntimeFoldersDoNotSeeEachOther) {
    TInstancePresence presence;
    std::string templ = (std::filesystem::temp_directory_path() / "zephyrine-rt-XXXXXX").string();
    const std::string other = mkdtemp(templ.data());
    setenv("XDG_RUNTIME_DIR", other.c_str(), 1);
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    EXPECT_TRUE(TInstancePresence::IsHeldByAnyone());
    std::filesystem::remove_all(other);
}

TEST_F(Presence, ALinkInPlaceOfThePresenceIsNotFollowed) {
    const std::string target = dir + "/target";
    symlink(target.c_str(), (dir + "/Zephyrine.presence").c_str());
    TInstancePresence presence;
    EXPECT_FALSE(presence.Held());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(TInstancePresence::IsHeldByAnyone());
}

TEST_F(Presence, FallbackFolderWithoutXdgRuntimeDir) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string path = TInstancePresence::PresencePath();
    EXPECT_EQ(path, "/tmp/zephyrine-" + std::to_string(geteuid()) + "/Zephyrine.presence");
    struct stat st {};
    ASSERT_EQ(lstat(("/tmp/zephyrine-" + std::to_string(geteuid())).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
}
