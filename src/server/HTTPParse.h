// THTTPParser: the line- and token-oriented tokenizer for HTTP messages. It works in place on one
// buffer over a stream and hands the bytes after the header over as a body stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/Convert.h"
#include "base/Stream.h"
#include "base/TextCompare.h"

namespace zephyrine::server {

// A syntax error in the tokenized bytes; the message reads "<what> on line <n>".
class EParserError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The integer conversion and the case-blind comparison the tokenizer's callers use.
using base::EConvertError;
using base::SameText;
using base::StrToInt;

// Token kinds; a byte that starts no other token is its own kind (':' is 58). 11 and 12 name no
// keyword and never occur: those bytes are blanks.
namespace token {
enum TKind : int {
    kEOF = 0,
    kSymbol = 1,  // a word that is not a keyword
    kString = 2,
    kInteger = 3,
    kFloat = 4,
    kLineEnd = 5,
    kGet = 6,
    kHead = 7,
    kPut = 8,
    kDelete = 9,
    kPost = 10,
    kUserAgent = 13,
    kAccept = 14,
    kContentType = 15,
    kContentLength = 16,
    kReferer = 17,
    kAuthorization = 18,
    kCacheControl = 19,
    kDate = 20,
    kFrom = 21,
    kHost = 22,
    kIfModifiedSince = 23,
    kContentEncoding = 24,
    kContentVersion = 25,
    kAllow = 26,
    kConnection = 27,
    kCookie = 28,
    kContentDisposition = 29,
};
}  // namespace token

class THTTPParser {
  public:
    static constexpr std::size_t kBufferSize = 4096;
    static constexpr std::size_t kBodyChunk = 1000;

    // Reads the first token at once. The stream is not owned and must outlive the parser.
    explicit THTTPParser(base::TStream& source);
    THTTPParser(const THTTPParser&) = delete;
    THTTPParser& operator=(const THTTPParser&) = delete;
    // Moves the source back by the held bytes that were not tokenized.
    ~THTTPParser();

    int Advance();
    int Token() const { return token_; }
    std::string TokenText() const;
    std::string_view TokenView() const;
    int TokenNumber() const;
    bool TokenIsWord(std::string_view word) const;
    std::string RestOfLine();
    void SkipLineEnds();

    // The held bytes from the current position to the end of the data held, NUL bytes included:
    // the part of the body that arrived with the header.
    std::string PendingText() const;
    // A memory stream with the header bytes held in the buffer, then up to length body bytes
    // (the held ones first), positioned just after the header; it becomes the source. The
    // parser holds no bytes past its position afterwards. The stream must outlive the parser.
    std::unique_ptr<base::TMemoryStream> TakeBody(int length);

    [[noreturn]] void Error(std::string_view message) const;

    int Line() const { return line_; }
    bool HeaderMode() const { return headerMode_; }
    void SetHeaderMode(bool on) { headerMode_ = on; }
    // Bytes of the source consumed before the buffer's first byte.
    std::int64_t Origin() const { return origin_; }

  private:
    bool AtDataEnd();
    void Fill();
    void Shift(std::size_t from);
    void Compact(std::size_t from);
    void ScanString();
    int LookupKeyword(std::uint16_t hash, std::size_t start, std::size_t end) const;

    // Scans may look at a few bytes past the end NUL, so the buffer carries a tail.
    static constexpr std::size_t kScanTail = 16;

    base::TStream* source_;
    std::array<char, kBufferSize + 1 + kScanTail> buffer_;
    std::size_t held_ = 0;       // end of the bytes held
    std::size_t pos_ = 0;        // current position
    std::size_t dataEnd_ = 0;    // end of usable data, where the NUL is
    std::size_t stringEnd_ = 0;  // end of the decoded text of a string token
    std::size_t tokenStart_ = 0;
    char saved_ = 0;  // the byte under the NUL at dataEnd_
    std::int64_t origin_ = 0;
    int line_ = 1;
    bool headerMode_ = true;
    int token_ = token::kEOF;
    bool exhausted_ = false;  // a read yielded nothing: the data has ended
};

}  // namespace zephyrine::server
