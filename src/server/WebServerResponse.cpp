#include "server/WebServerResponse.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "server/ServerTime.h"
#include "server/SvrLog.h"
#include "server/WebServerRequest.h"
#include "server/WinSocket.h"

namespace zephyrine::server {

namespace {

struct TPhrase {
    int code;
    const char* text;
};

constexpr TPhrase kPhrases[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "None Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Unless True"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char* kRedirectPage =
    "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\nThis Object "
    "may be found <a HREF=\"%s\">here.</a><br>\r\n<br></body></html>\r\n";

// Seconds to add to local standard time to get GMT; the zone is read again when TZ changes.
long StandardBiasSeconds() {
    static std::mutex lock;  // guards zone and bias
    static std::string zone = "\x01";  // no TZ text looks like this
    static long bias = 0;
    const char* tz = std::getenv("TZ");
    std::lock_guard guard(lock);
    if (zone != (tz ? tz : "")) {
        tzset();
        bias = timezone;
        zone = tz ? tz : "";
    }
    return bias;
}

}  // namespace

const char* ReasonPhrase(int code) {
    for (const auto& p : kPhrases) {
        if (p.code == code) return p.text;
    }
    return nullptr;
}

std::string HTTPDate(TDateTime value) {
    const TDateParts p = DecodeDateTime(value);
    char out[64];
    std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDayNames[DayOfWeek(value)], p.day, kMonthNames[(p.month + 11) % 12], p.year,
                  p.hour, p.minute, p.second);
    return out;
}

TDateTime ToGMT(TDateTime localTime) {
    const long biasMinutes = StandardBiasSeconds() / 60;
    const long magnitude = biasMinutes < 0 ? -biasMinutes : biasMinutes;
    const TDateTime shift =
        EncodeTime(static_cast<int>(magnitude / 60 % 24), static_cast<int>(magnitude % 60), 0) +
        static_cast<double>(magnitude / 60 / 24);
    return biasMinutes >= 0 ? localTime + shift : localTime - shift;
}

std::string HeaderSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) c = ' ';
    }
    return out;
}

TWebServerResponse::TWebServerResponse(TWebServerRequest& request,
                                       TServerClientWinSocket* connection, TCustomServerLog* log)
    : Date(ToGMT(NowLocal())), request_(request), connection_(connection), log_(log) {}

TWebServerResponse::~TWebServerResponse() {
    try {
        if (log_) log_->LogResponse(request_.SentText());
    } catch (...) {
        // Logging reports nothing to its callers.
    }
    request_.ClearSentText();
}

std::string TWebServerResponse::GetVarText(int index) const {
    return index >= 0 && index < kResponseTextVars ? textVars_[static_cast<std::size_t>(index)]
                                                   : std::string();
}

void TWebServerResponse::SetVarText(int index, std::string_view text) {
    if (index >= 0 && index < kResponseTextVars) {
        textVars_[static_cast<std::size_t>(index)] = std::string(text);
    }
}

TDateTime TWebServerResponse::GetVarDate(int index) const {
    return index >= 0 && index < kResponseDateVars ? dateVars_[static_cast<std::size_t>(index)]
                                                   : -1.0;
}

void TWebServerResponse::SetVarDate(int index, TDateTime value) {
    if (index >= 0 && index < kResponseDateVars) dateVars_[static_cast<std::size_t>(index)] = value;
}

int TWebServerResponse::GetVarInt(int index) const {
    return index == 0 ? intVar_ : -1;
}

void TWebServerResponse::SetVarInt(int index, int value) {
    if (index == 0) intVar_ = value;
}

void TWebServerResponse::SetBodyText(std::string_view text) {
    BodyText = std::string(text);
    ContentLength = static_cast<std::int64_t>(BodyText.size());
}

void TWebServerResponse::SetBodyStream(std::unique_ptr<base::TStream> stream) {
    bodyStream_ = std::move(stream);
    ContentLength = bodyStream_ ? bodyStream_->Size() : 0;
}

void TWebServerResponse::SetStatus(int code) {
    if (code == StatusCode) return;
    StatusCode = code;
    if (const char* phrase = ReasonPhrase(code)) ReasonPhraseText = phrase;
}

std::string TWebServerResponse::StatusText() const {
    if (ReasonPhraseText.empty() || StatusCode <= 0) return "200 OK";
    return std::to_string(StatusCode) + " " + HeaderSafe(ReasonPhraseText);
}

std::string TWebServerResponse::HeaderBlock() const {
    std::string h;
    auto line = [&h](const char* name, const std::string& value) {
        if (!value.empty()) h.append(name).append(": ").append(HeaderSafe(value)).append("\r\n");
    };
    auto dateLine = [&h](const char* name, TDateTime value) {
        if (value > 0) h.append(name).append(": ").append(HTTPDate(value)).append("\r\n");
    };
    line("Location", textVars_[kLocationVar]);
    dateLine("Date", Date);
    line("Server", Server);
    if (!WWWAuthenticate.empty())
        h.append("WWW-Authenticate: ").append(HeaderSafe(WWWAuthenticate));
    if (!Realm.empty()) {
        h.append("Realm=\"").append(HeaderSafe(Realm)).append("\"\r\n");
    } else if (!WWWAuthenticate.empty()) {
        h.append("\r\n");
    }
    line("Allow", Allow);
    line("Content-Version", ContentVersion);
    line("Derived-From", DerivedFrom);
    dateLine("Expires", Expires);
    dateLine("Last-Modified", LastModified);
    line("Title", Title);
    line("Content-Encoding", ContentEncoding);
    line("Content-Type", ContentType);
    if (!BodyText.empty() || bodyStream_) {
        h.append("Content-Length: ").append(std::to_string(ContentLength)).append("\r\n");
    }
    h.append("Content:\r\n\r\n");
    if (!bodyStream_) h.append(BodyText);
    return h;
}

void TWebServerResponse::Transmit() {
    if (request_.GetVarText(var::kServerProtocol).empty()) {
        // A request without a version gets the body alone.
        if (!bodyStream_) request_.WriteText(BodyText);
    } else {
        request_.WriteStatusAndHeaders(StatusCode, StatusText(), HeaderBlock());
    }
    if (bodyStream_) {
        TransmitStream(bodyStream_);
        bodyStream_.reset();
    }
}

void TWebServerResponse::TransmitRedirect(std::string_view uri) {
    SetVarText(kLocationVar, uri);
    SetStatus(302);
    ContentType = "text/html";
    const std::string target(uri);
    const int n = std::snprintf(nullptr, 0, kRedirectPage, target.c_str());
    std::string page(static_cast<std::size_t>(n), '\0');
    std::snprintf(page.data(), page.size() + 1, kRedirectPage, target.c_str());
    SetBodyText(page);
    Transmit();
}

bool TWebServerResponse::TransmitStream(std::unique_ptr<base::TStream>& stream) {
    if (!connection_) return false;
    return connection_->SendWholeStream(stream);
}

}  // namespace zephyrine::server
