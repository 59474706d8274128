// libFuzzer target: arbitrary bytes read as a request, whole and one byte per read. Both reads
// must agree, and nothing may crash, leak or trip a sanitizer. The raw request keeps the header
// only as far as it is held in the buffer, so when a full buffer had to drop lines from its
// front, one raw request may be a suffix of the other.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "server/HTTPParse.h"
#include "server/ReadRequest.h"
#include "server/ReqImpl.h"
#include "server/WebServerRequest.h"

using namespace zephyrine::base;
using namespace zephyrine::server;

namespace {

// Hands out one byte per read, as the slowest client does.
class TBytewiseStream final : public TStream {
  public:
    TBytewiseStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        if (count == 0 || pos_ == size_) return 0;
        std::memcpy(buffer, data_ + pos_++, 1);
        return 1;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class TCountingHandler final : public IRequestHandler {
  public:
    void LogRequest(TWebServerRequest& request) override {
        calls += "log ";
        request.GetRawRequest();
    }
    bool ServeFile(TWebServerRequest& request, bool headOnly) override {
        calls += headOnly ? "head " : "serve ";
        request.WriteStatusAndHeaders(200, "200 OK", "Content-Length: 0\r\n\r\n");
        return true;
    }
    void SendBadRequest(TWebServerRequest&) override { calls += "bad "; }
    std::string calls;
};

struct TOutcome {
    std::string parsed;
    std::string raw;
    bool dropped = false;  // the parser moved bytes out of the front of its buffer
};

TOutcome Outcome(TStream& stream) {
    TWebServerRequest request(21887, "localhost", "127.0.0.1");
    TCountingHandler handler;
    std::string out;
    bool dropped = false;
    try {
        THTTPParser parser(stream);
        ReadRequest(parser, request, handler);
        dropped = parser.Origin() > 0;
    } catch (const std::exception& e) {
        out += std::string("error:") + e.what() + "\n";
    }
    out += handler.calls + "\n";
    out += std::to_string(static_cast<int>(request.MethodType())) + "\n";
    for (int i = 0; i < var::kCount; ++i) {
        if (i != var::kContent) out += request.GetVarText(i) + "\n";
    }
    for (const std::string& line : request.ExtraHeaders())
        out += line + "\n";
    for (const int index : {var::kDate, var::kIfModifiedSince, var::kContentLength}) {
        try {
            out += std::to_string(request.GetVarDate(index)) + "\n";
        } catch (const std::exception& e) {
            out += std::string("date error:") + e.what() + "\n";
        }
    }
    out += request.GetHeaderValue("HTTP_HOST") + request.GetHeaderValue("Cache-Control") + "\n";
    if (request.BodyBuffer() != nullptr) {
        TWebRequestImpl adapter(request, true, nullptr);
        TVariant body;
        if (adapter.Variable(var::kContent, body) == kS_OK) {
            if (const auto* bytes = std::get_if<TByteArray>(&body)) {
                out.append(bytes->begin(), bytes->end());
            }
        }
    }
    return {out, request.GetRawRequest(), dropped};
}

bool Agree(const TOutcome& a, const TOutcome& b) {
    if (a.parsed != b.parsed) return false;
    if (a.raw == b.raw) return true;
    const TOutcome& shorter = a.raw.size() < b.raw.size() ? a : b;
    const TOutcome& longer = a.raw.size() < b.raw.size() ? b : a;
    return shorter.dropped && longer.raw.ends_with(shorter.raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TMemoryStream whole(std::string_view(reinterpret_cast<const char*>(data), size));
    TBytewiseStream bytewise(data, size);
    if (!Agree(Outcome(whole), Outcome(bytewise))) std::abort();
    return 0;
}
