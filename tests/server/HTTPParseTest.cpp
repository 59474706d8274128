#include "server/HTTPParse.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PieceStream.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
using zephyrine::server::testing::TPieceStream;

namespace {

using TTokens = std::vector<std::pair<int, std::string>>;

TTokens Tokenize(TStream& stream) {
    THTTPParser parser(stream);
    TTokens tokens;
    for (int kind = parser.Token(); kind != token::kEOF; kind = parser.Advance()) {
        tokens.emplace_back(kind, parser.TokenText());
    }
    return tokens;
}

TTokens Tokenize(std::string_view bytes) {
    TMemoryStream stream(bytes);
    return Tokenize(stream);
}

std::string ErrorOf(std::string_view bytes) {
    TMemoryStream stream(bytes);
    try {
        THTTPParser parser(stream);
        while (parser.Advance() != token::kEOF) {
        }
    } catch (const EParserError& e) {
        return e.what();
    }
    return "";
}

struct TTokenCase {
    const char* description;
    std::string bytes;
    TTokens expected;
};

const std::vector<TTokenCase> kTokenCases = {
    {"1.1 is one number with a fraction", "1.1", {{token::kFloat, "1.1"}}},
    {"exponent and sign join a number",
     "12e5+3 7",
     {{token::kFloat, "12e5+3"}, {token::kInteger, "7"}}},
    {"decimal integer", "0042", {{token::kInteger, "0042"}}},
    {"dollar hex integer", "$1fA", {{token::kInteger, "$1fA"}}},
    {"Content-Length is one keyword in header mode",
     "Content-Length",
     {{token::kContentLength, "Content-Length"}}},
    {"doubled quote in a run", "'It''s'", {{token::kString, "It's"}}},
    {"character codes", "#65#66", {{token::kString, "AB"}}},
    {"runs and codes mixed", "'a'#13'b'", {{token::kString, "a\rb"}}},
    {"codes are taken modulo 256", "#321", {{token::kString, "A"}}},
    {"keywords in other letter case",
     "get content-length HOST iF-mOdIfIeD-sInCe",
     {{token::kGet, "get"},
      {token::kContentLength, "content-length"},
      {token::kHost, "HOST"},
      {token::kIfModifiedSince, "iF-mOdIfIeD-sInCe"}}},
    {"a longer word is not a keyword",
     "Hosts Content-Lengthy",
     {{token::kSymbol, "Hosts"}, {token::kSymbol, "Content-Lengthy"}}},
    {"words take letters, digits and underscores", "_a9_b", {{token::kSymbol, "_a9_b"}}},
    {"single bytes are their own kind", ":,-/", {{':', ":"}, {',', ","}, {'-', "-"}, {'/', "/"}}},
    {"high bytes are single tokens", "\x80\xff", {{0x80, "\x80"}, {0xff, "\xff"}}},
    {"blanks and carriage returns separate, line feeds are tokens",
     "GET\t/x \r\n\r\nA",
     {{token::kGet, "GET"},
      {'/', "/"},
      {token::kSymbol, "x"},
      {token::kLineEnd, "\n"},
      {token::kLineEnd, "\n"},
      {token::kSymbol, "A"}}},
    {"a NUL ends the data", std::string("a\0b", 3), {{token::kSymbol, "a"}}},
    {"request line",
     "GET /temppack11.cab HTTP/1.1\r\n",
     {{token::kGet, "GET"},
      {'/', "/"},
      {token::kSymbol, "temppack11"},
      {'.', "."},
      {token::kSymbol, "cab"},
      {token::kSymbol, "HTTP"},
      {'/', "/"},
      {token::kFloat, "1.1"},
      {token::kLineEnd, "\n"}}},
};

TEST(HTTPParser, TokenKindsAndTexts) {
    for (const TTokenCase& c : kTokenCases) {
        EXPECT_EQ(Tokenize(c.bytes), c.expected) << c.description;
    }
}

TEST(HTTPParser, TokensDoNotDependOnHowTheBytesArrive) {
    for (const TTokenCase& c : kTokenCases) {
        for (std::size_t k = 1; k < c.bytes.size(); ++k) {
            TPieceStream split = TPieceStream::SplitAt(c.bytes, k);
            EXPECT_EQ(Tokenize(split), c.expected) << c.description << ", split at " << k;
        }
        TPieceStream bytewise = TPieceStream::Bytewise(c.bytes);
        EXPECT_EQ(Tokenize(bytewise), c.expected) << c.description << ", byte by byte";
    }
}

TEST(HTTPParser, EveryKeywordHasItsKind) {
    const std::vector<std::pair<std::string, int>> keywords = {
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
    };
    for (const auto& [word, kind] : keywords) {
        std::string lower = word;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(Tokenize(word), (TTokens{{kind, word}})) << word;
        EXPECT_EQ(Tokenize(lower), (TTokens{{kind, lower}})) << lower;
    }
}

TEST(HTTPParser, HeaderModeOffSplitsWordsAtDashes) {
    TMemoryStream stream("06-Nov-94 Content-Length");
    THTTPParser parser(stream);
    EXPECT_EQ(parser.Token(), token::kInteger);
    parser.SetHeaderMode(false);
    TTokens tokens{{parser.Token(), parser.TokenText()}};
    while (parser.Advance() != token::kEOF)
        tokens.emplace_back(parser.Token(), parser.TokenText());
    const TTokens expected = {{token::kInteger, "06"},
                              {'-', "-"},
                              {token::kSymbol, "Nov"},
                              {'-', "-"},
                              {token::kInteger, "94"},
                              {token::kSymbol, "Content"},
                              {'-', "-"},
                              {token::kSymbol, "Length"}};
    EXPECT_EQ(tokens, expected);
}

TEST(HTTPParser, MalformedInputGivesParserErrors) {
    const struct {
        const char* description;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"unclosed quote at the end of data", "'abc", "Invalid string constant on line 1"},
        {"quote closed only on the next line", "x\n'abc\r\n'", "Invalid string constant on line 2"},
        {"quote cut by a line feed", "a\nb\n'ab\n", "Invalid string constant on line 3"},
        {"NUL inside a quoted run", std::string("'a\0b'", 5), "Invalid string constant on line 1"},
        {"one line fills the buffer", std::string(4096, 'a'), "Line too long on line 1"},
        {"a later line fills the buffer", "A: b\r\n" + std::string(5000, 'x') + "\r\n",
         "Line too long on line 2"},
        {"a line of 4095 bytes and its line feed fits", std::string(4095, 'a') + "\n", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.bytes), c.expected) << c.description;
        TPieceStream bytewise = TPieceStream::Bytewise(c.bytes);
        std::string error;
        try {
            THTTPParser parser(bytewise);
            while (parser.Advance() != token::kEOF) {
            }
        } catch (const EParserError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.expected) << c.description << ", byte by byte";
    }
}

TEST(HTTPParser, TokenNumberConvertsIntegers) {
    const struct {
        std::string text;
        int value;
    } good[] = {
        {"0", 0}, {"42", 42}, {"$ff", 255}, {"$7FFFFFFF", 2147483647}, {"2147483647", 2147483647}};
    for (const auto& c : good) {
        TMemoryStream stream(c.text);
        THTTPParser parser(stream);
        EXPECT_EQ(parser.TokenNumber(), c.value) << c.text;
    }
    for (const std::string text : {"abc", "$", "2147483648", "1.1", "99999999999999999999"}) {
        TMemoryStream stream(text);
        THTTPParser parser(stream);
        try {
            parser.TokenNumber();
            ADD_FAILURE() << text << " converted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), "'" + text + "' is not a valid integer value");
        }
    }
}

TEST(HTTPParser, TokenIsWordOnlyForPlainWords) {
    TMemoryStream stream("jan GET 12");
    THTTPParser parser(stream);
    EXPECT_TRUE(parser.TokenIsWord("Jan"));
    EXPECT_FALSE(parser.TokenIsWord("Ja"));
    parser.Advance();
    EXPECT_FALSE(parser.TokenIsWord("GET"));  // a keyword, not kind 1
    parser.Advance();
    EXPECT_FALSE(parser.TokenIsWord("12"));
}

TEST(HTTPParser, RestOfLineKeepsTrailingBlanksAndEndsTheLine) {
    TMemoryStream stream("Host:   a 'b  \r\nNext\r\nLast: x");
    THTTPParser parser(stream);
    parser.Advance();  // :
    parser.Advance();  // a
    EXPECT_EQ(parser.RestOfLine(), "a 'b  ");
    EXPECT_EQ(parser.Token(), token::kLineEnd);
    EXPECT_EQ(parser.Advance(), token::kSymbol);
    EXPECT_EQ(parser.RestOfLine(), "Next");
    EXPECT_EQ(parser.Advance(), token::kSymbol);
    parser.Advance();
    parser.Advance();
    EXPECT_EQ(parser.RestOfLine(), "x");
    EXPECT_EQ(parser.Token(), token::kEOF);
}

TEST(HTTPParser, SkipLineEndsPassesEmptyLines) {
    TMemoryStream stream("A\r\n\r\n\n\r\nB\r\n\r\n");
    THTTPParser parser(stream);
    EXPECT_EQ(parser.Advance(), token::kLineEnd);
    parser.SkipLineEnds();
    EXPECT_TRUE(parser.TokenIsWord("B"));
    EXPECT_EQ(parser.Line(), 5);
    EXPECT_EQ(parser.Advance(), token::kLineEnd);
    parser.SkipLineEnds();
    EXPECT_EQ(parser.Token(), token::kEOF);
    parser.SkipLineEnds();  // only at a line end
    EXPECT_EQ(parser.Token(), token::kEOF);
}

TEST(HTTPParser, NulInsideTheHeaderEndsItAfterOneMoreRead) {
    const std::string bytes("Host: a\0b\r\n", 11);
    TPieceStream stream({bytes, "More: c\r\n"});
    THTTPParser parser(stream);
    parser.Advance();
    parser.Advance();
    EXPECT_EQ(parser.TokenText(), "a");
    const int readsBefore = stream.Reads();
    EXPECT_EQ(parser.Advance(), token::kEOF);
    EXPECT_EQ(stream.Reads(), readsBefore + 1);
    EXPECT_EQ(parser.Advance(), token::kEOF);
}

TEST(HTTPParser, LongHeadersAreReadAcrossRefills) {
    std::string bytes;
    for (int i = 0; i < 600; ++i)
        bytes += "X-Line-" + std::to_string(i) + ": value " + std::to_string(i) + "\r\n";
    ASSERT_GT(bytes.size(), 3 * THTTPParser::kBufferSize);
    for (int mode = 0; mode < 2; ++mode) {
        TMemoryStream whole(bytes);
        TPieceStream bytewise = TPieceStream::Bytewise(bytes);
        TStream& stream = mode == 0 ? static_cast<TStream&>(whole) : bytewise;
        THTTPParser parser(stream);
        for (int i = 0; i < 600; ++i) {
            ASSERT_EQ(parser.TokenText(), "X-Line-" + std::to_string(i)) << mode;
            parser.Advance();
            parser.Advance();
            ASSERT_EQ(parser.RestOfLine(), "value " + std::to_string(i));
            parser.Advance();
        }
        EXPECT_EQ(parser.Token(), token::kEOF);
        EXPECT_EQ(parser.Line(), 601);
    }
}

TEST(HTTPParser, DestroySeeksBackOverUntokenizedBytes) {
    TMemoryStream stream("abc def ghi");
    {
        THTTPParser parser(stream);
        parser.Advance();
        EXPECT_EQ(parser.TokenText(), "def");
    }
    EXPECT_EQ(stream.Position(), 4);
}

// Up to the line end of the empty line after a one-line header.
void SkipToBody(THTTPParser& parser) {
    while (!(parser.Token() == token::kLineEnd && parser.Line() == 3)) {
        ASSERT_NE(parser.Advance(), token::kEOF);
    }
}

struct TBodyCase {
    const char* description;
    std::vector<std::string> pieces;
    int length;
    std::string expectedBody;
};

TEST(HTTPParser, TakeBodyHandsHeldBytesThenReadsTheRest) {
    const std::string header = "POST / HTTP/1.0\r\n\r\n";
    const std::string big(2500, 'z');
    const std::string binary("a\0b\0\0c", 6);
    const TBodyCase cases[] = {
        {"body held with the header", {header + "hello"}, 5, "hello"},
        {"body arriving later", {header, "hel", "lo"}, 5, "hello"},
        {"length shorter than the data", {header + "hello world"}, 5, "hello"},
        {"data ends early", {header + "hel"}, 5, "hel"},
        {"no length reads nothing", {header + "hello"}, 0, ""},
        {"negative length reads nothing", {header + "hello"}, -1, ""},
        {"NUL bytes are body bytes", {header + binary}, 6, binary},
        {"NUL bytes arriving later", {header + "a", std::string("\0b\0\0c", 5)}, 6, binary},
        {"long body in chunks", {header + big.substr(0, 700), big.substr(700)}, 2500, big},
    };
    for (const TBodyCase& c : cases) {
        TPieceStream stream(c.pieces);
        THTTPParser parser(stream);
        SkipToBody(parser);
        auto body = parser.TakeBody(c.length);
        EXPECT_EQ(body->ToString(), header + c.expectedBody) << c.description;
        EXPECT_EQ(body->Position(), static_cast<std::int64_t>(header.size())) << c.description;
    }
}

TEST(HTTPParser, TakeBodyKeepsBytesAfterTheLastLineOfAFullBuffer) {
    // Header and body fill the buffer in one read; the body's last line is cut by the end of
    // the buffer, so part of it is held beyond the end of usable data.
    const std::string header = "POST / HTTP/1.0\r\n\r\n";
    std::string body;
    while (body.size() < 5000)
        body += "line of body text\n";
    body += "tail without line feed";
    TMemoryStream stream(header + body);
    THTTPParser parser(stream);
    SkipToBody(parser);
    EXPECT_EQ(parser.PendingText(), body.substr(0, THTTPParser::kBufferSize - header.size()));
    auto taken = parser.TakeBody(static_cast<int>(body.size()));
    EXPECT_EQ(taken->ToString(), header + body);
}

TEST(HTTPParser, AfterTakeBodyTheSourceIsTheBodyStream) {
    TMemoryStream stream("A\r\n\r\nxy\r\n");
    std::unique_ptr<TMemoryStream> body;  // the parser reads it, so it outlives the parser
    THTTPParser parser(stream);
    parser.Advance();
    parser.Advance();
    body = parser.TakeBody(4);
    EXPECT_EQ(body->ToString(), "A\r\n\r\nxy\r\n");
    EXPECT_TRUE(parser.PendingText().empty());
    EXPECT_EQ(parser.Advance(), token::kSymbol);
    EXPECT_EQ(parser.TokenText(), "xy");
}

}  // namespace
