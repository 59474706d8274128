#include "base/Stream.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zephyrine::base;

TEST(MemoryStream, ReadWriteSeekAndSize) {
    TMemoryStream s;
    s.WriteString("hello world");
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Position(), 11);
    s.SetPosition(6);
    char buf[16] = {};
    EXPECT_EQ(s.Read(buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
    EXPECT_EQ(s.Seek(-5, TSeekOrigin::End), 6);
    s.WriteString("there!");  // overwrites and extends
    EXPECT_EQ(s.ToString(), "hello there!");
}

TEST(FileStream, RoundTripAndMissingFile) {
    const auto path = std::filesystem::temp_directory_path() / "zephyrine-stream-test.bin";
    {
        TFileStream out(path.string(), TFileStream::TMode::Create);
        out.WriteString(std::string("a\0b", 3));
    }
    TFileStream in(path.string(), TFileStream::TMode::Read);
    EXPECT_EQ(in.Size(), 3);
    char buf[4] = {};
    EXPECT_EQ(in.Read(buf, 4), 3u);
    EXPECT_EQ(std::string(buf, 3), std::string("a\0b", 3));
    std::filesystem::remove(path);
    EXPECT_THROW(TFileStream("/nonexistent/dir/x", TFileStream::TMode::Read), std::runtime_error);
}

// The position is kept by the stream itself; it must agree with the file offset after reads,
// writes and every kind of seek, since a body is resumed from it.
TEST(FileStream, PositionFollowsReadsWritesAndSeeks) {
    const auto path = std::filesystem::temp_directory_path() / "zephyrine-stream-position.bin";
    {
        TFileStream out(path.string(), TFileStream::TMode::Create);
        EXPECT_EQ(out.Position(), 0);
        out.WriteString("0123456789");
        EXPECT_EQ(out.Position(), 10);
        EXPECT_EQ(out.Seek(-4, TSeekOrigin::End), 6);
        out.WriteString("AB");
        EXPECT_EQ(out.Position(), 8);
    }
    TFileStream in(path.string(), TFileStream::TMode::Read);
    char buf[4] = {};
    EXPECT_EQ(in.Read(buf, 3), 3u);
    EXPECT_EQ(in.Position(), 3);
    EXPECT_EQ(in.Seek(2, TSeekOrigin::Current), 5);
    EXPECT_EQ(in.Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "5AB");
    EXPECT_EQ(in.Position(), 8);
    in.SetPosition(1);
    EXPECT_EQ(in.Position(), 1);
    EXPECT_EQ(in.Read(buf, 1), 1u);
    EXPECT_EQ(buf[0], '1');
    EXPECT_EQ(in.Seek(0, TSeekOrigin::End), 10);
    EXPECT_EQ(in.Read(buf, 4), 0u);
    EXPECT_EQ(in.Position(), 10);
    std::filesystem::remove(path);
}
