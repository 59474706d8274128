#include "platform/Cabinet.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

using namespace zephyrine::platform;
using zephyrine::mediatest::MakeCabinet;
using zephyrine::test::ReadFile;
using zephyrine::test::TTempDir;
using zephyrine::test::WriteFile;

TEST(Cabinet, UnpackCommand) {
    EXPECT_EQ(UnpackCommand("/usr/bin/cabextract", "/tmp/w/", "/a b/x.cab"),
              (std::vector<std::string>{"/usr/bin/cabextract", "-q", "-d", "/tmp/w/", "--",
                                        "/a b/x.cab"}));
}

// A content file in the current folder whose name reads like an option is still the file.
TEST(Cabinet, UnpackCommandTakesAFileNamedLikeAnOption) {
    TTempDir dir;
    ASSERT_TRUE(MakeCabinet(dir / "-x.mco", {{"wink.swf", "FWS"}}));
    std::vector<std::string> command =
        UnpackCommand(zephyrine::base::FindProgram(kCabinetTool), "work", "-x.mco");
    ASSERT_FALSE(command[0].empty());
    EXPECT_EQ(zephyrine::mediatest::Run(command, dir.Path().string()), 0);
    EXPECT_EQ(ReadFile(dir / "work/wink.swf"), "FWS");
}

TEST(Cabinet, FileNamesAsStoredAndUnreadableCabinets) {
    TTempDir dir;
    ASSERT_TRUE(MakeCabinet(dir / "x.cab", {{"a.xml", "<a/>"}, {"sub/Movie.swf", "FWS"}}));
    EXPECT_EQ(CabinetFileNames(dir / "x.cab"),
              (std::vector<std::string>{"a.xml", "sub\\Movie.swf"}));
    EXPECT_TRUE(BeginsWithCabinetSignature(dir / "x.cab"));
    // Cut anywhere before the end of its file table, it is no readable cabinet.
    const std::string whole = ReadFile(dir / "x.cab");
    const std::size_t tableEnd = whole.find("sub\\Movie.swf") + 14;
    for (std::size_t n = 0; n < tableEnd; ++n) {
        WriteFile(dir / "cut.cab", whole.substr(0, n));
        EXPECT_EQ(CabinetFileNames(dir / "cut.cab"), std::nullopt) << n;
    }
    WriteFile(dir / "cut.cab", "SCF" + whole.substr(4));  // an .mca as it is
    EXPECT_EQ(CabinetFileNames(dir / "cut.cab"), std::nullopt);
    EXPECT_FALSE(BeginsWithCabinetSignature(dir / "cut.cab"));
    EXPECT_EQ(CabinetFileNames(dir / "missing.cab"), std::nullopt);
}

TEST(Cabinet, EscapingNames) {
    const struct {
        const char* name;
        bool escaping;
    } cases[] = {
        {"a.xml", false},
        {"sub\\b.swf", false},
        {"a..b/c", false},
        {"..", true},
        {"..\\x", true},
        {"../x", true},
        {"a\\..\\..\\x", true},
        {"a/../x", true},
        {"\\abs", true},
        {"/etc/passwd", true},
        {"", true},
        {"sub/..", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsEscapingName(c.name), c.escaping) << c.name;
}
