// zephyrine-fetch: one GET of a URL with the body stored in a file, as the program's clients
// fetch (file mode, no proxy, no extra header values, no time-out).
//   zephyrine-fetch URL BODYFILE
// The reply header goes to standard error. Exit status 0 when the request returned (also for an
// error status: its page is stored), 1 with the error's message on standard error when it
// raised. On a terminal a progress line is shown while the body arrives.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "base/CommandLine.h"
#include "httpclient/NMHTTP.h"

using namespace zephyrine::httpclient;

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

// The progress line on standard error, when that is a terminal.
class TProgress {
  public:
    explicit TProgress(const TNMHTTP& http) : http_(http), shown_(isatty(STDERR_FILENO) == 1) {}

    void Update() {
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - last_ < kProgressInterval) return;
        last_ = now;
        drawn_ = true;
        const long long length = http_.ReplyContentLength();
        if (length > 0) {
            std::fprintf(stderr, "\r%lld of %lld bytes (%lld%%)\033[K", http_.BytesReceived(),
                         length, http_.BytesReceived() * 100 / length);
        } else {
            std::fprintf(stderr, "\r%lld bytes\033[K", http_.BytesReceived());
        }
    }
    // Takes the line away, so that what follows stands as it would without it.
    void Clear() {
        if (drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

  private:
    const TNMHTTP& http_;
    const bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int main(int argc, char** argv) {
    zephyrine::base::TCommandLine commandLine(
        "zephyrine-fetch", ZEPHYRINE_VERSION,
        "Fetches URL with one HTTP GET into BODYFILE; the reply header goes to standard error.");
    commandLine.AddArgument("URL", "the address to fetch (http://HOST[:PORT]/PATH)");
    commandLine.AddArgument("BODYFILE", "the file the body is stored in");
    if (const auto status = commandLine.ParseOrExit(argc, argv)) return *status;
    const std::string url = commandLine.Arguments()[0];
    const std::string bodyFile = commandLine.Arguments()[1];
    // A file-size limit then fails the write with an error instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);

    std::unique_ptr<TNMHTTP> client;
    try {
        client = std::make_unique<TNMHTTP>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    TNMHTTP& http = *client;
    TProgress progress(http);
    int status = 0;
    std::string error;
    try {
        http.Port = 0;
        http.TimeOut = 0;
        http.InputFileMode = true;
        http.OutputFileMode = false;
        http.Body = bodyFile;
        http.OnPacketRecvd = [&] { progress.Update(); };
        http.Get(url);
    } catch (const std::exception& e) {
        status = 1;
        error = e.what();
    }
    progress.Clear();
    const std::string& header = http.ReplyHeader();
    std::fwrite(header.data(), 1, header.size(), stderr);
    if (status != 0) std::fprintf(stderr, "%s\n", error.c_str());
    return status;
}
