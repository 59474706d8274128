#include "Stream.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zephyrine::server;

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
