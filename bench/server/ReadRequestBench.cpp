// Requests per second for reading a typical browser request from memory into a request object,
// and for a bare tokenizer pass over the same bytes.
#include <benchmark/benchmark.h>

#include <string>

#include "server/HTTPParse.h"
#include "server/ReadRequest.h"
#include "server/WebServerRequest.h"

using namespace zephyrine::base;
using namespace zephyrine::server;

namespace {

// A request line and eight header lines, about 400 bytes.
const std::string kBrowserRequest =
    "GET /temppack11.cab HTTP/1.1\r\n"
    "Host: 127.0.0.1:21887\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0\r\n"
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "Accept-Language: en-US,en;q=0.5\r\n"
    "Accept-Encoding: gzip, deflate, br\r\n"
    "Referer: http://127.0.0.1:21887/index.html\r\n"
    "Connection: keep-alive\r\n"
    "If-Modified-Since: Tue, 08 Dec 2026 10:00:00 GMT\r\n"
    "\r\n";

class TNullHandler final : public IRequestHandler {
  public:
    void LogRequest(TWebServerRequest&) override {}
    bool ServeFile(TWebServerRequest&, bool) override { return true; }
    void SendBadRequest(TWebServerRequest&) override {}
};

void BM_ReadRequest(benchmark::State& state) {
    TNullHandler handler;
    for (auto _ : state) {
        TMemoryStream stream(kBrowserRequest);
        TWebServerRequest request(21887, "localhost", "127.0.0.1");
        THTTPParser parser(stream);
        ReadRequest(parser, request, handler);
        benchmark::DoNotOptimize(request.GetVarText(var::kHost).size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBrowserRequest.size()));
    state.counters["request_bytes"] = static_cast<double>(kBrowserRequest.size());
}
BENCHMARK(BM_ReadRequest);

void BM_TokenizeHeader(benchmark::State& state) {
    for (auto _ : state) {
        TMemoryStream stream(kBrowserRequest);
        THTTPParser parser(stream);
        int tokens = 1;
        while (parser.Advance() != token::kEOF)
            ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBrowserRequest.size()));
}
BENCHMARK(BM_TokenizeHeader);

}  // namespace

BENCHMARK_MAIN();
