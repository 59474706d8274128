// zephyrine-httpd: the embedded HTTP server as a command that serves a folder.
//   zephyrine-httpd [--bind ADDRESS] [--port N] [--search-path "DIR1;DIR2"] [--default-target T] [--log]
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

#include "base/Convert.h"
#include "server/CustomWebServer.h"
#include "server/SvrLog.h"

using namespace zephyrine::server;

namespace {

// The log is delivered in batches: the main loop runs its queue this often rather than being
// woken for every entry.
constexpr int kLogBatchMs = 20;

int Usage() {
    std::cerr << "usage: zephyrine-httpd [--bind ADDRESS] [--port N] [--search-path \"DIR1;DIR2\"] "
                 "[--default-target T] [--log]\n";
    return 2;
}

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
    int port = kDefaultServerPort;
    std::string bindAddress = kLoopbackAddress;
    std::string searchPath = std::filesystem::current_path().string();
    std::string defaultTarget;
    bool log = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bind" && hasValue) {
            bindAddress = argv[++i];
        } else if (arg == "--port" && hasValue) {
            const std::optional<int> value = zephyrine::base::TryStrToInt(argv[++i]);
            if (!value || *value < 0 || *value > 65535) return Usage();
            port = *value;
        } else if (arg == "--search-path" && hasValue) {
            searchPath = argv[++i];
        } else if (arg == "--default-target" && hasValue) {
            defaultTarget = argv[++i];
        } else if (arg == "--log") {
            log = true;
        } else {
            return Usage();
        }
    }

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
