// zephyrine-swfwriter: writes a small uncompressed SWF movie in which a filled square crosses the
// stage, moving every frame, for tests and demo content.
//
//   zephyrine-swfwriter OUT.swf [--colour RRGGBB] [--size PX] [--frames N] [--fps N]
//                       [--stage WxH] [--background RRGGBB]
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kTwipsPerPixel = 20;
constexpr int kSwfVersion = 8;
constexpr int kMaxStagePixels = 4000;
constexpr int kMaxFrames = 10000;
constexpr int kMaxFps = 120;
constexpr std::uint16_t kShapeId = 1;
constexpr std::uint16_t kDepth = 1;

// Tag codes of the SWF file format.
constexpr int kTagEnd = 0;
constexpr int kTagShowFrame = 1;
constexpr int kTagDefineShape = 2;
constexpr int kTagSetBackgroundColor = 9;
constexpr int kTagPlaceObject2 = 26;

struct TRgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

struct TOptions {
    std::string out;
    TRgb colour{0xE0, 0x20, 0x20};
    TRgb background{0xFF, 0xFF, 0xFF};
    int size = 60;
    int frames = 36;
    int fps = 12;
    int stageWidth = 400;
    int stageHeight = 300;
};

// SWF bit fields are written most significant bit first and padded to whole bytes.
class TBitWriter {
  public:
    void Bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bitPos_ == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> bitPos_);
            bitPos_ = (bitPos_ + 1) % 8;
        }
    }
    void Signed(std::int32_t value, int count) {
        Bits(static_cast<std::uint32_t>(value) & ((count >= 32) ? ~0u : ((1u << count) - 1)),
             count);
    }
    void Align() { bitPos_ = 0; }
    void U8(std::uint8_t v) {
        Align();
        bytes_.push_back(v);
    }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v & 0xFF));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v & 0xFFFF));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Rgb(const TRgb& c) {
        U8(c.r);
        U8(c.g);
        U8(c.b);
    }
    void Append(const std::vector<std::uint8_t>& more) {
        Align();
        bytes_.insert(bytes_.end(), more.begin(), more.end());
    }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
    int bitPos_ = 0;
};

// Bits a signed field needs for every value given (at least 2: sign plus one).
int SignedBits(std::initializer_list<std::int32_t> values) {
    int bits = 2;
    for (std::int32_t v : values) {
        int n = 1;
        while (n < 31 && (v < -(1 << (n - 1)) || v >= (1 << (n - 1))))
            ++n;
        if (n > bits) bits = n;
    }
    return bits;
}

void Rect(TBitWriter& w, std::int32_t xMin, std::int32_t xMax, std::int32_t yMin,
          std::int32_t yMax) {
    const int n = SignedBits({xMin, xMax, yMin, yMax});
    w.Bits(static_cast<std::uint32_t>(n), 5);
    w.Signed(xMin, n);
    w.Signed(xMax, n);
    w.Signed(yMin, n);
    w.Signed(yMax, n);
    w.Align();
}

void Tag(TBitWriter& file, int code, const std::vector<std::uint8_t>& body) {
    if (body.size() < 0x3F) {
        file.U16(static_cast<std::uint16_t>((code << 6) | static_cast<int>(body.size())));
    } else {
        file.U16(static_cast<std::uint16_t>((code << 6) | 0x3F));
        file.U32(static_cast<std::uint32_t>(body.size()));
    }
    file.Append(body);
}

std::vector<std::uint8_t> DefineSquare(const TRgb& colour, std::int32_t side) {
    TBitWriter w;
    w.U16(kShapeId);
    Rect(w, 0, side, 0, side);
    w.U8(1);     // one fill style
    w.U8(0x00);  // solid fill
    w.Rgb(colour);
    w.U8(0);       // no line styles
    w.Bits(1, 4);  // fill style index bits
    w.Bits(0, 4);  // line style index bits
    // Style change: select fill style 1 and move to the origin.
    w.Bits(0, 1);        // non-edge record
    w.Bits(0b00101, 5);  // StateMoveTo | StateFillStyle1
    w.Bits(1, 5);        // move bits (a field of one bit holding 0)
    w.Signed(0, 1);
    w.Signed(0, 1);
    w.Bits(1, 1);  // fill style 1
    // Four straight edges around the square, each horizontal or vertical.
    const int n = SignedBits({side, -side});
    const auto edge = [&](bool vertical, std::int32_t delta) {
        w.Bits(1, 1);  // edge record
        w.Bits(1, 1);  // straight
        w.Bits(static_cast<std::uint32_t>(n - 2), 4);
        w.Bits(0, 1);  // not a general line
        w.Bits(vertical ? 1 : 0, 1);
        w.Signed(delta, n);
    };
    edge(false, side);
    edge(true, side);
    edge(false, -side);
    edge(true, -side);
    w.Bits(0, 6);  // end of shape
    w.Align();
    return w.Bytes();
}

std::vector<std::uint8_t> PlaceAt(bool first, std::int32_t x, std::int32_t y) {
    TBitWriter w;
    w.U8(first ? 0x06 : 0x05);  // HasMatrix plus HasCharacter (first) or Move
    w.U16(kDepth);
    if (first) w.U16(kShapeId);
    w.Bits(0, 1);  // no scale
    w.Bits(0, 1);  // no rotation
    const int n = SignedBits({x, y});
    w.Bits(static_cast<std::uint32_t>(n), 5);
    w.Signed(x, n);
    w.Signed(y, n);
    w.Align();
    return w.Bytes();
}

std::vector<std::uint8_t> Movie(const TOptions& o) {
    const std::int32_t side = o.size * kTwipsPerPixel;
    const std::int32_t stageW = o.stageWidth * kTwipsPerPixel;
    const std::int32_t stageH = o.stageHeight * kTwipsPerPixel;
    const std::int32_t travel = std::max<std::int32_t>(stageW - side, 0);
    const std::int32_t y = std::max<std::int32_t>((stageH - side) / 2, 0);

    TBitWriter body;
    Rect(body, 0, stageW, 0, stageH);
    body.U16(static_cast<std::uint16_t>(o.fps << 8));  // 8.8 fixed point
    body.U16(static_cast<std::uint16_t>(o.frames));
    Tag(body, kTagSetBackgroundColor, {o.background.r, o.background.g, o.background.b});
    Tag(body, kTagDefineShape, DefineSquare(o.colour, side));
    // Left to right, one step per frame, starting over after the last frame: two frames a
    // second apart never show the square at the same place while frames differs from fps.
    for (int i = 0; i < o.frames; ++i) {
        const std::int32_t x = o.frames > 1 ? travel * i / (o.frames - 1) : 0;
        Tag(body, kTagPlaceObject2, PlaceAt(i == 0, x, y));
        Tag(body, kTagShowFrame, {});
    }
    Tag(body, kTagEnd, {});

    TBitWriter file;
    file.U8('F');
    file.U8('W');
    file.U8('S');
    file.U8(kSwfVersion);
    file.U32(static_cast<std::uint32_t>(8 + body.Bytes().size()));
    file.Append(body.Bytes());
    return file.Bytes();
}

TRgb ParseColour(const std::string& text) {
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::invalid_argument("a colour is six hexadecimal digits (RRGGBB): " + text);
    const unsigned long v = std::stoul(text, nullptr, 16);
    return TRgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v)};
}

int ParseInt(const std::string& text, int low, int high, const char* what) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        throw std::invalid_argument(std::string(what) + " must be a whole number from " +
                                    std::to_string(low) + " to " + std::to_string(high) + ": " +
                                    text);
    return static_cast<int>(v);
}

TOptions ParseArguments(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--colour" || arg == "--color") {
            o.colour = ParseColour(value());
        } else if (arg == "--background") {
            o.background = ParseColour(value());
        } else if (arg == "--size") {
            o.size = ParseInt(value(), 1, kMaxStagePixels, "--size");
        } else if (arg == "--frames") {
            o.frames = ParseInt(value(), 1, kMaxFrames, "--frames");
        } else if (arg == "--fps") {
            o.fps = ParseInt(value(), 1, kMaxFps, "--fps");
        } else if (arg == "--stage") {
            const std::string v = value();
            const auto x = v.find('x');
            if (x == std::string::npos) throw std::invalid_argument("--stage is WxH: " + v);
            o.stageWidth = ParseInt(v.substr(0, x), 1, kMaxStagePixels, "the stage width");
            o.stageHeight = ParseInt(v.substr(x + 1), 1, kMaxStagePixels, "the stage height");
        } else if (!arg.empty() && arg[0] == '-') {
            throw std::invalid_argument("unknown option " + arg);
        } else if (o.out.empty()) {
            o.out = arg;
        } else {
            throw std::invalid_argument("more than one output file given");
        }
    }
    if (o.out.empty()) throw std::invalid_argument("no output file given");
    if (o.size > o.stageWidth || o.size > o.stageHeight)
        throw std::invalid_argument("the square does not fit on the stage");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "zephyrine-swfwriter: " << e.what() << "\n"
                  << "usage: zephyrine-swfwriter OUT.swf [--colour RRGGBB] [--size PX] "
                     "[--frames N] [--fps N] [--stage WxH] [--background RRGGBB]\n";
        return 2;
    }
    const std::vector<std::uint8_t> bytes = Movie(options);
    std::ofstream out(options.out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "zephyrine-swfwriter: cannot write " << options.out << "\n";
        return 1;
    }
    return 0;
}
