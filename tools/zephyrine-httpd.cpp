// zephyrine-httpd: the embedded HTTP server as a command that serves a folder.
//   zephyrine-httpd [--bind ADDRESS] [--port N] [--search-path "DIR1;DIR2"]
//                   [--default-target T] [--log]
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "base/CommandLine.h"
#include "base/Convert.h"
#include "server/CustomWebServer.h"
#include "server/SvrLog.h"

using namespace zephyrine::server;

namespace {

// The log is delivered in batches: the main loop runs its queue this often rather than being
// woken for every entry.
constexpr int kLogBatchMs = 20;


// Each idle or busy connection holds a descriptor: allow as many as the system lets us.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void PrintEntry(const TTransactionLogEntry& entry) {
    const std::string line = LogLine(entry) + '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    InitTesselVariable();
    zephyrine::base::TCommandLine commandLine(
        "zephyrine-httpd", ZEPHYRINE_VERSION, "Serves the files of a folder over HTTP.");
    commandLine.AddOption("bind", "ADDRESS",
                          std::string("listen on ADDRESS (default ") + kLoopbackAddress +
                              "; 0.0.0.0 for every local address)");
    commandLine.AddOption("port", "N",
                          "listen on port N (default " + std::to_string(kDefaultServerPort) +
                              "; 0: the system chooses)");
    commandLine.AddOption("search-path", "\"DIR1;DIR2\"",
                          "serve these folders, ';' between them (default: the current folder)");
    commandLine.AddOption("default-target", "T", "the file that a request for / is sent to");
    commandLine.AddOption("log", "", "write each log entry to standard output");
    if (const auto status = commandLine.ParseOrExit(argc, argv)) return *status;

    int port = kDefaultServerPort;
    if (commandLine.Has("port")) {
        const std::optional<int> value = zephyrine::base::TryStrToInt(commandLine.Value("port"));
        if (!value || *value < 0 || *value > 65535)
            return commandLine.Fail("invalid port '" + commandLine.Value("port") + "'");
        port = *value;
    }
    const std::string bindAddress = commandLine.Value("bind", kLoopbackAddress);
    if (in_addr parsed{}; inet_pton(AF_INET, bindAddress.c_str(), &parsed) != 1)
        return commandLine.Fail("invalid address '" + bindAddress + "'");
    const std::string searchPath =
        commandLine.Value("search-path", std::filesystem::current_path().string());
    const std::string defaultTarget = commandLine.Value("default-target");
    const bool log = commandLine.Has("log");

    RaiseDescriptorLimit();
    // The server's threads inherit this mask; the signals are taken by the waiter below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TOwnerQueue queue(false);
    TCustomWebServer server(queue.Poster());
    server.SetListenPort(static_cast<std::uint16_t>(port));
    server.SetBindAddress(bindAddress);
    server.SetSearchFolders(searchPath);
    server.SetDefaultTarget(defaultTarget);
    if (log) {
        server.OnLogEntry = [](TCustomServerLog&, std::unique_ptr<TTransactionLogEntry>& entry,
                               bool&) { PrintEntry(*entry); };
    }
    try {
        server.SetListening(true);
    } catch (const std::exception& e) {
        queue.RunPending();
        std::cerr << e.what() << std::endl;
        return 1;
    }
    std::cout << "zephyrine-httpd listening on port " << server.BoundPort() << std::endl;

    std::atomic<bool> stop{false};
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stop = true;
        queue.Wake();
    });
    while (!stop)
        queue.WaitAndRun(kLogBatchMs);
    waiter.join();
    server.SetListening(false);
    queue.RunPending();
    return 0;
}
