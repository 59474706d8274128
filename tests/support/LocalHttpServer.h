// Test helpers for the media pieces: a temporary folder, a real HTTP server on loopback
// (python3 -m http.server on a port the system picks) and a process runner.
#pragma once

#include "support/TestFiles.h"
#include "base/Process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zephyrine::mediatest {

using TTempFolder = test::TTempDir;
using test::ReadFile;
using test::WriteFile;
constexpr auto& WriteText = test::WriteFile;
constexpr auto& ReadText = test::ReadFile;

// Runs a program (no shell) with stdout and stderr to /dev/null; its exit status, -1 when it
// cannot start.
inline int Run(const std::vector<std::string>& args, const std::string& cwd = {}) {
    base::TChildOptions options;
    options.WorkingFolder = cwd;
    options.Output = base::TRedirect::ToNull();
    options.ErrorOutput = base::TRedirect::ToNull();
    try {
        return base::TChildProcess(args, options).Wait();
    } catch (const std::runtime_error&) {
        return -1;
    }
}

// A cabinet made by gcab from files given as {name, content}; names may hold folders ("a/b").
inline bool MakeCabinet(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& files) {
    TTempFolder work;
    std::vector<std::string> args = {"gcab", "-c", path};
    for (const auto& [name, content] : files) {
        WriteFile(work / name, content);
        args.push_back(name);
    }
    return Run(args, work.Path().string()) == 0;
}

// python3 -m http.server serving a folder on 127.0.0.1; the port is chosen by the system and
// read from the server's first line. Stopped on destruction.
class TLocalHttpServer {
  public:
    explicit TLocalHttpServer(const std::string& folder)
        : server_({"python3", "-u", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                   folder, "0"},
                  Options()) {
        // "Serving HTTP on 127.0.0.1 port 40123 (http://127.0.0.1:40123/) ..."
        const std::string line = server_.ReadOutputLine().value_or("");
        const auto at = line.find(" port ");
        if (at == std::string::npos) throw std::runtime_error("http.server did not start: " + line);
        port_ = std::stoi(line.substr(at + 6));
    }

    int Port() const { return port_; }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    static base::TChildOptions Options() {
        base::TChildOptions options;
        options.Output = base::TRedirect::ToPipe();
        options.ErrorOutput = base::TRedirect::ToNull();
        return options;
    }
    base::TChildProcess server_;  // stopped on destruction
    int port_ = 0;
};

}  // namespace zephyrine::mediatest
