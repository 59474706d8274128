#include "server/ReadRequest.h"

#include <string>

#include "server/DateText.h"

namespace zephyrine::server {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Header mode is off while a date is read, so that "-" separates tokens.
class THeaderModeOff {
  public:
    explicit THeaderModeOff(THTTPParser& parser) : parser_(parser) { parser_.SetHeaderMode(false); }
    ~THeaderModeOff() { parser_.SetHeaderMode(true); }
    THeaderModeOff(const THeaderModeOff&) = delete;
    THeaderModeOff& operator=(const THeaderModeOff&) = delete;

  private:
    THTTPParser& parser_;
};

TDateTime ReadHeaderDate(THTTPParser& parser) {
    THeaderModeOff modeOff(parser);
    return ReadDate(parser, kNoMonth);
}

// Past the keyword and its colon: the value runs to the end of the line.
std::string HeaderValue(THTTPParser& parser) {
    parser.Advance();
    if (parser.Token() == ':') parser.Advance();
    return parser.RestOfLine();
}

// Whether an integer token denotes more than limit, without overflowing on long digit runs.
bool NumberExceeds(std::string_view text, long long limit) {
    const bool hex = text.starts_with('$');
    if (hex) text.remove_prefix(1);
    return !text.empty() &&
           !base::DigitsValue(text, hex ? 16 : 10, static_cast<std::uint64_t>(limit));
}

class TRequestReader {
  public:
    TRequestReader(THTTPParser& parser, TWebServerRequest& request)
        : parser_(parser), request_(request) {}

    void ReadHeader() {
        for (;;) {
            const int kind = parser_.Token();
            if (kind == token::kEOF || kind == token::kLineEnd) return;
            if (kind >= token::kGet && kind <= token::kPost) {
                if (!RequestLine(kind)) return;
                continue;
            }
            switch (kind) {
                case token::kUserAgent:
                    FirstWins(var::kUserAgent);
                    break;
                case token::kReferer:
                    FirstWins(var::kReferer);
                    break;
                case token::kHost:
                    FirstWins(var::kHost);
                    break;
                case token::kContentType:
                    FirstWins(var::kContentType);
                    break;
                case token::kConnection:
                    FirstWins(var::kConnection);
                    break;
                case token::kCookie:
                    FirstWins(var::kCookie);
                    break;
                case token::kAccept:
                    Accept();
                    break;
                case token::kContentLength:
                    ContentLength();
                    break;
                case token::kAuthorization:
                    Authorization();
                    break;
                case token::kDate:
                    Date(var::kDate);
                    break;
                case token::kIfModifiedSince:
                    Date(var::kIfModifiedSince);
                    break;
                default:
                    GenericLine();
                    break;
            }
        }
    }

  private:
    // False when the line has no protocol part: such a request has no header lines.
    bool RequestLine(int kind) {
        switch (kind) {
            case token::kGet:
                request_.SetVarText(var::kRequestMethod, "GET");
                break;
            case token::kHead:
                request_.SetVarText(var::kRequestMethod, "HEAD");
                break;
            case token::kPut:
                request_.SetVarText(var::kRequestMethod, "PUT");
                break;
            case token::kPost:
                request_.SetVarText(var::kRequestMethod, "POST");
                break;
            case token::kDelete:
                request_.SetVarText(var::kRequestMethod, "ANY");
                break;
            default:
                break;
        }
        parser_.Advance();
        const std::string line = parser_.RestOfLine();
        std::string_view text = TrimLeft(line);
        const std::size_t space = text.find(' ');
        if (space != std::string_view::npos) {
            request_.SetVarText(var::kServerProtocol, TrimRight(text.substr(space + 1)));
            text = text.substr(0, space);
        }
        const std::size_t question = text.find('?');
        if (question != std::string_view::npos) {
            std::string query(text.substr(question + 1));
            for (char& c : query) {
                if (c == '+') c = ' ';
            }
            request_.SetVarText(var::kQueryString, query);
            text = text.substr(0, question);
        }
        request_.SetVarText(var::kPathInfo, text == "/" ? std::string_view() : text);
        if (request_.StoredVar(var::kServerProtocol).empty()) return false;
        parser_.Advance();
        return true;
    }

    void FirstWins(int index) {
        std::string value = HeaderValue(parser_);
        if (request_.StoredVar(index).empty()) request_.SetVarText(index, std::move(value));
        parser_.Advance();
    }

    void Accept() {
        std::string value = HeaderValue(parser_);
        const std::string& before = request_.StoredVar(var::kAccept);
        if (before.empty()) {
            request_.SetVarText(var::kAccept, std::move(value));
        } else {
            request_.SetVarText(var::kAccept, before + ", " + value);
        }
        parser_.Advance();
    }

    void ContentLength() {
        parser_.Advance();
        if (parser_.Token() == ':') parser_.Advance();
        if (parser_.Token() == token::kInteger) {
            // A body is buffered in memory, so its size is bounded.
            if (NumberExceeds(parser_.TokenView(), kMaxBodyLength)) {
                parser_.Error("Content-Length too large");
            }
            request_.SetVarInt(var::kContentLength, parser_.TokenNumber());
        }
        parser_.RestOfLine();
        parser_.Advance();
    }

    void Authorization() {
        parser_.Advance();
        if (parser_.Token() == ':') parser_.Advance();
        parser_.Advance();  // the scheme word
        request_.SetVarText(var::kAuthorization, parser_.RestOfLine());
        parser_.Advance();
    }

    void Date(int index) { request_.SetVarDate(index, ReadHeaderDate(parser_)); }

    void GenericLine() {
        const std::string name = parser_.TokenText();
        std::string value;
        if (parser_.Advance() == ':') {
            parser_.Advance();
            value = parser_.RestOfLine();
        }
        request_.AddExtraHeader(name, value);
        parser_.Advance();
    }

    THTTPParser& parser_;
    TWebServerRequest& request_;
};

}  // namespace

void ReadRequest(THTTPParser& parser, TWebServerRequest& request, IRequestHandler& handler) {
    try {
        TRequestReader(parser, request).ReadHeader();
        handler.HeaderRead();
        std::string pending = parser.PendingText();
        auto body = parser.TakeBody(request.GetVarInt(var::kContentLength));
        request.SetBody(std::move(body), std::move(pending));
        handler.LogRequest(request);
        switch (request.MethodType()) {
            case TMethodType::Get:
            case TMethodType::Post:
                handler.ServeFile(request, false);
                break;
            case TMethodType::Head:
                handler.ServeFile(request, true);
                break;
            case TMethodType::Put:
            case TMethodType::Any:
                break;
        }
    } catch (const EParserError&) {
        handler.SendBadRequest(request);
    }
}

}  // namespace zephyrine::server
