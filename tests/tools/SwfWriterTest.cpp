// zephyrine-swfwriter's movies read back: header, stage, frame count, the square's colour and
// size, and a position that changes every frame.
#include "base/Process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Writer() {
    const char* exe = std::getenv("ZEPHYRINE_SWFWRITER");
    return exe ? exe : "zephyrine-swfwriter";
}

int RunWriter(std::vector<std::string> args) {
    args.insert(args.begin(), Writer());
    return zephyrine::base::RunProcess(args, true).ExitCode;  // its messages are not shown
}

class TBitReader {
  public:
    explicit TBitReader(const std::vector<std::uint8_t>& b, std::size_t at = 0)
        : bytes_(b), pos_(at) {}
    std::uint32_t Bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos_ >= bytes_.size()) throw std::out_of_range("read past the end");
            v = (v << 1) | ((bytes_[pos_] >> (7 - bit_)) & 1u);
            if (++bit_ == 8) bit_ = 0, ++pos_;
        }
        return v;
    }
    std::int32_t Signed(int n) {
        const std::uint32_t v = Bits(n);
        return n > 0 && (v >> (n - 1)) ? static_cast<std::int32_t>(v | (~0u << n))
                                       : static_cast<std::int32_t>(v);
    }
    void Align() {
        if (bit_) bit_ = 0, ++pos_;
    }
    std::uint32_t U8() {
        Align();
        return Bits(8);
    }
    std::uint32_t U16() { return U8() | (U8() << 8); }
    std::uint32_t U32() { return U16() | (U16() << 16); }
    std::size_t Pos() const { return pos_; }
    void Seek(std::size_t p) { pos_ = p, bit_ = 0; }

  private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_;
    int bit_ = 0;
};

struct TMovie {
    std::string signature;
    std::uint32_t version = 0, length = 0, frameCount = 0, fps = 0, showFrames = 0;
    std::int32_t stageW = 0, stageH = 0, shapeW = 0;
    std::uint32_t colour = 0;
    std::vector<std::int32_t> xs;  // the square's x for every frame, in twips
    bool ended = false;
};

TMovie Parse(const std::vector<std::uint8_t>& b) {
    TMovie m;
    m.signature.assign(b.begin(), b.begin() + 3);
    TBitReader r(b, 3);
    m.version = r.U8();
    m.length = r.U32();
    const int n = static_cast<int>(r.Bits(5));
    const int x0 = r.Signed(n), x1 = r.Signed(n), y0 = r.Signed(n), y1 = r.Signed(n);
    m.stageW = (x1 - x0) / 20;
    m.stageH = (y1 - y0) / 20;
    m.fps = r.U16() >> 8;
    m.frameCount = r.U16();
    while (r.Pos() < b.size()) {
        const std::uint32_t head = r.U16();
        const std::uint32_t code = head >> 6;
        std::uint32_t len = head & 0x3F;
        if (len == 0x3F) len = r.U32();
        const std::size_t next = r.Pos() + len;
        if (code == 0) {
            m.ended = true;
            break;
        } else if (code == 1) {
            ++m.showFrames;
        } else if (code == 2) {
            r.U16();
            const int bits = static_cast<int>(r.Bits(5));
            const int sx0 = r.Signed(bits), sx1 = r.Signed(bits);
            r.Signed(bits), r.Signed(bits);
            m.shapeW = (sx1 - sx0) / 20;
            EXPECT_EQ(r.U8(), 1u) << "one fill style";
            EXPECT_EQ(r.U8(), 0u) << "solid fill";
            m.colour = (r.U8() << 16) | (r.U8() << 8) | r.U8();
        } else if (code == 26) {
            const std::uint32_t flags = r.U8();
            r.U16();
            if (flags & 0x02) r.U16();
            EXPECT_TRUE(flags & 0x04) << "every frame places the square";
            r.Bits(2);
            const int tb = static_cast<int>(r.Bits(5));
            m.xs.push_back(r.Signed(tb));
            r.Signed(tb);
        }
        r.Seek(next);
    }
    return m;
}

std::vector<std::uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SwfWriterTest, WritesAMovieWithAMovingSquare) {
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("swfwriter-" + std::to_string(getpid()) + ".swf"))
                                .string();
    ASSERT_EQ(RunWriter({out, "--colour", "12ab3C", "--size", "40", "--frames", "30", "--fps", "15",
                         "--stage", "320x200"}),
              0);
    const auto bytes = Read(out);
    std::filesystem::remove(out);
    const TMovie m = Parse(bytes);
    EXPECT_EQ(m.signature, "FWS");
    EXPECT_EQ(m.length, bytes.size());
    EXPECT_EQ(m.stageW, 320);
    EXPECT_EQ(m.stageH, 200);
    EXPECT_EQ(m.fps, 15u);
    EXPECT_EQ(m.frameCount, 30u);
    EXPECT_EQ(m.showFrames, 30u);
    EXPECT_TRUE(m.ended);
    EXPECT_EQ(m.colour, 0x12AB3Cu);
    EXPECT_EQ(m.shapeW, 40);
    ASSERT_EQ(m.xs.size(), 30u);
    for (std::size_t i = 1; i < m.xs.size(); ++i)
        EXPECT_GT(m.xs[i], m.xs[i - 1]) << i;
    EXPECT_EQ(m.xs.front(), 0);
    EXPECT_EQ(m.xs.back(), (320 - 40) * 20) << "the square crosses the whole stage";
}

TEST(SwfWriterTest, RefusesBadArgumentsAndWritesNothing) {
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("swfwriter-bad-" + std::to_string(getpid()) + ".swf"))
                                .string();
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {out, "--colour", "red"},
                                                 {out, "--size", "0"},
                                                 {out, "--frames", "x"},
                                                 {out, "--stage", "100"},
                                                 {out, "--size", "500"},
                                                 {out, "--bogus"},
                                                 {out, "--fps"}}) {
        EXPECT_EQ(RunWriter(args), 2) << (args.size() > 1 ? args[1] : "no arguments");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    EXPECT_EQ(RunWriter({"/nonexistent-folder/x.swf"}), 1);
}

}  // namespace
