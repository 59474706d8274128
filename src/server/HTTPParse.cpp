#include "server/HTTPParse.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zephyrine::server {

namespace {

struct TKeyword {
    std::string_view word;
    int kind;
};

constexpr std::array<TKeyword, 22> kKeywords = {{
    {"GET", token::kGet},
    {"HEAD", token::kHead},
    {"PUT", token::kPut},
    {"DELETE", token::kDelete},
    {"POST", token::kPost},
    {"User-Agent", token::kUserAgent},
    {"Accept", token::kAccept},
    {"Content-Type", token::kContentType},
    {"Content-Length", token::kContentLength},
    {"Referer", token::kReferer},
    {"Authorization", token::kAuthorization},
    {"Cache-Control", token::kCacheControl},
    {"Date", token::kDate},
    {"From", token::kFrom},
    {"Host", token::kHost},
    {"If-Modified-Since", token::kIfModifiedSince},
    {"Content-Encoding", token::kContentEncoding},
    {"Content-Version", token::kContentVersion},
    {"Allow", token::kAllow},
    {"Connection", token::kConnection},
    {"Cookie", token::kCookie},
    {"Content-Disposition", token::kContentDisposition},
}};

constexpr std::size_t kShortestKeyword = 3;
constexpr std::size_t kLongestKeyword = 19;

constexpr std::uint32_t MakeLengthMask() {
    std::uint32_t mask = 0;
    for (const TKeyword& k : kKeywords)
        mask |= 1u << k.word.size();
    return mask;
}
constexpr std::uint32_t kKeywordLengths = MakeLengthMask();

// Byte classes, looked up rather than tested one comparison at a time.
enum : std::uint8_t {
    kDigitBit = 1,
    kHexBit = 2,
    kLetterBit = 4,  // letters and "_"
    kDashBit = 8,
    kFloatBit = 16,  // digits, "+", ".", "E", "e"
};

constexpr std::array<std::uint8_t, 256> MakeClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t bits = 0;
        if (c >= '0' && c <= '9') bits |= kDigitBit | kHexBit | kFloatBit;
        if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) bits |= kHexBit;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') bits |= kLetterBit;
        if (c == '-') bits |= kDashBit;
        if (c == '+' || c == '.' || c == 'E' || c == 'e') bits |= kFloatBit;
        classes[c] = bits;
    }
    return classes;
}
constexpr auto kClasses = MakeClasses();

constexpr bool Is(unsigned char c, std::uint8_t bits) {
    return (kClasses[c] & bits) != 0;
}
constexpr bool IsDigit(unsigned char c) {
    return Is(c, kDigitBit);
}
constexpr bool IsLetter(unsigned char c) {
    return Is(c, kLetterBit);
}
constexpr bool IsHexDigit(unsigned char c) {
    return Is(c, kHexBit);
}
constexpr bool IsFloatByte(unsigned char c) {
    return Is(c, kFloatBit);
}

// Digits, capitals and "_" stand for themselves, small letters for capitals, the rest for 0.
constexpr std::array<std::uint8_t, 256> MakeFolds() {
    std::array<std::uint8_t, 256> folds{};
    for (int c = 0; c < 256; ++c) {
        if (c >= 'a' && c <= 'z') {
            folds[c] = static_cast<std::uint8_t>(c - 'a' + 'A');
        } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            folds[c] = static_cast<std::uint8_t>(c);
        }
    }
    return folds;
}
constexpr auto kFolds = MakeFolds();

constexpr std::uint16_t HashWord(std::string_view word) {
    std::uint16_t h = 0;
    for (const char ch : word) {
        h = static_cast<std::uint16_t>((h << 5) | (h >> 11));
        h ^= kFolds[static_cast<unsigned char>(ch)];
    }
    return h;
}

constexpr std::array<std::uint16_t, kKeywords.size()> MakeHashes() {
    std::array<std::uint16_t, kKeywords.size()> hashes{};
    for (std::size_t i = 0; i < kKeywords.size(); ++i)
        hashes[i] = HashWord(kKeywords[i].word);
    return hashes;
}
constexpr auto kKeywordHashes = MakeHashes();

// Keyword indices by the low byte of their hash, at most two to a slot, in table order.
constexpr std::size_t kSlotDepth = 2;
constexpr std::array<std::array<std::int8_t, kSlotDepth>, 256> MakeSlots() {
    std::array<std::array<std::int8_t, kSlotDepth>, 256> slots{};
    for (auto& slot : slots)
        slot.fill(-1);
    for (std::size_t i = 0; i < kKeywords.size(); ++i) {
        auto& slot = slots[kKeywordHashes[i] & 0xFF];
        std::size_t k = 0;
        while (slot[k] >= 0)
            ++k;  // a third keyword in one slot fails constant evaluation
        slot[k] = static_cast<std::int8_t>(i);
    }
    return slots;
}
constexpr auto kKeywordSlots = MakeSlots();

// The first carriage return, line feed or NUL from p; the NUL at the end of usable data stops it.
std::size_t FindLineStop(const char* b, std::size_t p) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    for (;; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                         _mm_cmpeq_epi8(v, nul));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#else
    while (b[p] != '\r' && b[p] != '\n' && b[p] != 0)
        ++p;
    return p;
#endif
}

}  // namespace

THTTPParser::THTTPParser(base::TStream& source) : source_(&source) {
    buffer_[0] = 0;
    std::fill(buffer_.end() - kScanTail, buffer_.end(), 0);
    Advance();
}

THTTPParser::~THTTPParser() {
    const std::size_t untokenized = held_ > tokenStart_ ? held_ - tokenStart_ : 0;
    if (untokenized == 0) return;
    try {
        source_->Seek(-static_cast<std::int64_t>(untokenized), base::TSeekOrigin::Current);
    } catch (...) {
        // A source that cannot seek keeps its position.
    }
}

void THTTPParser::Error(std::string_view message) const {
    throw EParserError(std::string(message) + " on line " + std::to_string(line_));
}

void THTTPParser::Shift(std::size_t from) {
    char* b = buffer_.data();
    if (from > 0) std::memmove(b, b + from, held_ - from);
    held_ -= from;
    origin_ += static_cast<std::int64_t>(from);
    pos_ -= std::min(pos_, from);
    tokenStart_ -= std::min(tokenStart_, from);
    stringEnd_ -= std::min(stringEnd_, from);
}

void THTTPParser::Compact(std::size_t from) {
    buffer_[dataEnd_] = saved_;
    Shift(from);
    dataEnd_ = held_;
    saved_ = buffer_[held_];
    buffer_[held_] = 0;
}

// One read into the free space behind the held bytes, then the end of usable data is set anew.
// A full buffer ends its usable data after its last line feed; when the line being read does not
// end inside it, that line is moved to the front and reading goes on, so a line is always
// tokenized whole however the bytes arrived. A full buffer without a line feed is usable to its
// end; the line is too long only if tokenizing has to go beyond it (AtDataEnd).
void THTTPParser::Fill() {
    char* b = buffer_.data();
    b[dataEnd_] = saved_;
    for (;;) {
        if (!exhausted_ && held_ < kBufferSize) {
            const std::size_t n = source_->Read(b + held_, kBufferSize - held_);
            if (n == 0) {
                exhausted_ = true;
            } else {
                held_ += n;
            }
        }
        if (held_ < kBufferSize) {
            dataEnd_ = held_;
            break;
        }
        const char* lf = static_cast<const char*>(memrchr(b, '\n', held_));
        dataEnd_ = lf == nullptr ? held_ : static_cast<std::size_t>(lf - b) + 1;
        if (dataEnd_ > pos_) break;
        Shift(dataEnd_);
    }
    saved_ = b[dataEnd_];
    b[dataEnd_] = 0;
}

// At the NUL that marks the end of usable data: makes more data usable if the source has any.
// True when the data has really ended there.
bool THTTPParser::AtDataEnd() {
    while (pos_ == dataEnd_) {
        if (held_ == kBufferSize) {
            // The buffer starts at a line start; without a line feed that line fills it.
            if (std::memchr(buffer_.data(), '\n', held_) == nullptr) Error("Line too long");
            Compact(tokenStart_);
        } else if (exhausted_) {
            return true;
        }
        Fill();
    }
    return false;
}

int THTTPParser::Advance() {
    const char* b = buffer_.data();
    std::size_t p = pos_;
    for (;;) {
        const auto c = static_cast<unsigned char>(b[p]);
        if (c == '\n' || c > ' ') break;
        if (c != 0) {
            ++p;
            continue;
        }
        pos_ = tokenStart_ = p;
        if (p == dataEnd_) {
            if (AtDataEnd()) {
                token_ = token::kEOF;
                return token_;
            }
            p = pos_;
            continue;
        }
        // A NUL inside the data ends it, after one more read.
        Compact(p);
        Fill();
        token_ = token::kEOF;
        return token_;
    }

    pos_ = tokenStart_ = p;
    // Scans from p while pred holds, reading on where the usable data ends.
    const auto scan = [this](std::size_t q, auto pred) {
        for (;;) {
            const char* bb = buffer_.data();
            while (pred(static_cast<unsigned char>(bb[q])))
                ++q;
            if (q != dataEnd_) return q;
            const std::size_t keep = q - tokenStart_;
            pos_ = q;
            if (AtDataEnd()) return pos_;
            q = tokenStart_ + keep;
        }
    };

    const auto c = static_cast<unsigned char>(b[p]);
    if (c == '\n') {
        ++line_;
        pos_ = p + 1;
        token_ = token::kLineEnd;
    } else if (c == '#' || c == '\'') {
        ScanString();
        token_ = token::kString;
    } else if (c == '$') {
        pos_ = scan(p + 1, IsHexDigit);
        token_ = token::kInteger;
    } else if (IsDigit(c)) {
        std::size_t q = scan(p + 1, IsDigit);
        token_ = token::kInteger;
        if (IsFloatByte(static_cast<unsigned char>(buffer_[q]))) {
            q = scan(q, IsFloatByte);
            token_ = token::kFloat;
        }
        pos_ = q;
    } else if (IsLetter(c)) {
        const std::uint8_t wordBits =
            headerMode_ ? kLetterBit | kDigitBit | kDashBit : kLetterBit | kDigitBit;
        // The keyword hash is taken while scanning; a word cut by the end of held data is
        // scanned on and hashed again.
        std::uint16_t hash = kFolds[c];
        std::size_t q = p + 1;
        for (unsigned char x; Is(x = static_cast<unsigned char>(b[q]), wordBits); ++q) {
            hash = static_cast<std::uint16_t>(((hash << 5) | (hash >> 11)) ^ kFolds[x]);
        }
        if (q == dataEnd_) {
            q = scan(q, [wordBits](unsigned char x) { return Is(x, wordBits); });
            hash = HashWord(std::string_view(buffer_.data() + tokenStart_, q - tokenStart_));
        }
        pos_ = q;
        token_ = LookupKeyword(hash, tokenStart_, pos_);
    } else {
        pos_ = p + 1;
        token_ = c;
    }
    return token_;
}

void THTTPParser::ScanString() {
    std::size_t p = tokenStart_;
    std::size_t s = tokenStart_;  // where the decoded text goes
    // At the end of usable data: reads on; false when the data has ended.
    const auto more = [&]() {
        pos_ = p;
        stringEnd_ = s;
        const bool ended = AtDataEnd();
        p = pos_;
        s = stringEnd_;
        return !ended;
    };
    for (;;) {
        char* b = buffer_.data();
        const char c = b[p];
        if (c == '\'') {
            ++p;
            for (;;) {
                b = buffer_.data();
                const char q = b[p];
                if (q == 0 && p == dataEnd_ && more()) continue;
                if (q == 0 || q == '\r' || q == '\n') Error("Invalid string constant");
                if (q == '\'') {
                    ++p;
                    if (b[p] == 0 && p == dataEnd_ && more()) b = buffer_.data();
                    if (b[p] != '\'') break;
                }
                b[s++] = b[p++];
            }
        } else if (c == '#') {
            ++p;
            unsigned value = 0;
            for (;;) {
                b = buffer_.data();
                const auto d = static_cast<unsigned char>(b[p]);
                if (IsDigit(d)) {
                    value = (value * 10 + (d - '0')) & 0xFFu;
                    ++p;
                } else if (d == 0 && p == dataEnd_ && more()) {
                    continue;
                } else {
                    break;
                }
            }
            buffer_[s++] = static_cast<char>(value);
        } else if (c == 0 && p == dataEnd_ && more()) {
            continue;
        } else {
            break;
        }
    }
    pos_ = p;
    stringEnd_ = s;
}

int THTTPParser::LookupKeyword(std::uint16_t hash, std::size_t start, std::size_t end) const {
    const std::size_t length = end - start;
    if (length < kShortestKeyword || length > kLongestKeyword ||
        ((kKeywordLengths >> length) & 1u) == 0) {
        return token::kSymbol;
    }
    const std::string_view word(buffer_.data() + start, length);
    for (const std::int8_t i : kKeywordSlots[hash & 0xFF]) {
        if (i < 0) break;
        if (kKeywordHashes[i] == hash && SameText(kKeywords[i].word, word)) {
            return kKeywords[i].kind;
        }
    }
    return token::kSymbol;
}

std::string_view THTTPParser::TokenView() const {
    const std::size_t end = token_ == token::kString ? stringEnd_ : pos_;
    return {buffer_.data() + tokenStart_, end - tokenStart_};
}

std::string THTTPParser::TokenText() const {
    return std::string(TokenView());
}

int THTTPParser::TokenNumber() const {
    return StrToInt(TokenView());
}

bool THTTPParser::TokenIsWord(std::string_view word) const {
    return token_ == token::kSymbol && SameText(TokenView(), word);
}

std::string THTTPParser::RestOfLine() {
    std::size_t p = tokenStart_;
    for (;;) {
        const char* b = buffer_.data();
        p = FindLineStop(b, p);
        if (b[p] != 0 || p != dataEnd_) break;
        const std::size_t keep = p - tokenStart_;
        pos_ = p;
        if (AtDataEnd()) break;
        p = tokenStart_ + keep;
    }
    std::string text(buffer_.data() + tokenStart_, p - tokenStart_);
    if (buffer_[p] == '\r') ++p;
    pos_ = p;
    if (p == dataEnd_) AtDataEnd();
    if (buffer_[pos_] == 0) {
        tokenStart_ = pos_;
        token_ = token::kEOF;
    } else {
        Advance();
    }
    return text;
}

void THTTPParser::SkipLineEnds() {
    if (token_ != token::kLineEnd) return;
    std::size_t p = tokenStart_ + 1;  // the token's own line feed is counted already
    for (;;) {
        const char* b = buffer_.data();
        while (b[p] == '\r' || b[p] == '\n') {
            if (b[p] == '\n') ++line_;
            ++p;
        }
        pos_ = p;
        if (b[p] != 0) break;
        if (p != dataEnd_ || AtDataEnd()) {
            tokenStart_ = pos_;
            token_ = token::kEOF;
            return;
        }
        p = pos_;
    }
    Advance();
}

std::string THTTPParser::PendingText() const {
    std::string text(buffer_.data() + pos_, held_ - pos_);
    if (dataEnd_ < held_) text[dataEnd_ - pos_] = saved_;
    return text;
}

std::unique_ptr<base::TMemoryStream> THTTPParser::TakeBody(int length) {
    auto body = std::make_unique<base::TMemoryStream>();
    char* b = buffer_.data();
    b[dataEnd_] = saved_;
    const std::size_t headerLength = pos_;
    std::size_t held = held_ - pos_;
    const std::size_t wanted = length > 0 ? static_cast<std::size_t>(length) : 0;
    body->Reserve(headerLength + std::min(wanted, held + kBodyChunk));
    body->WriteBuffer(b, headerLength);
    std::size_t from = pos_;
    std::size_t remaining = wanted;
    std::array<char, kBodyChunk> scratch;
    while (remaining > 0) {
        const std::size_t chunk = std::min(remaining, kBodyChunk);
        std::size_t got = 0;
        if (held > 0) {
            got = std::min(chunk, held);
            body->WriteBuffer(b + from, got);
            from += got;
            held -= got;
        } else {
            while (got < chunk && !exhausted_) {
                const std::size_t n = source_->Read(scratch.data() + got, chunk - got);
                if (n == 0) exhausted_ = true;
                got += n;
            }
            body->WriteBuffer(scratch.data(), got);
            if (got < chunk) break;
        }
        remaining -= got;
    }
    body->Seek(static_cast<std::int64_t>(headerLength), base::TSeekOrigin::Beginning);
    // The held bytes went to the body: nothing remains past the position.
    held_ = dataEnd_ = tokenStart_ = stringEnd_ = pos_;
    saved_ = b[pos_];
    b[pos_] = 0;
    source_ = body.get();
    exhausted_ = false;
    return body;
}

}  // namespace zephyrine::server
