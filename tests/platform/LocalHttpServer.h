// Test helpers for the media pieces: a temporary folder, a real HTTP server on loopback
// (python3 -m http.server on a port the system picks) and a process runner.
#pragma once

#include "../TestFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

extern char** environ;

namespace zephyrine::mediatest {

using TTempFolder = test::TTempDir;
using test::ReadFile;
using test::WriteFile;
constexpr auto& WriteText = test::WriteFile;
constexpr auto& ReadText = test::ReadFile;

// Runs a program (no shell) with stdout and stderr to /dev/null; its exit status, -1 when it
// cannot start.
inline int Run(const std::vector<std::string>& args, const std::string& cwd = {}) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    explicit TLocalHttpServer(const std::string& folder) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {"python3",     "-u",     "-m",
                                         "http.server", "--bind", "127.0.0.1",
                                         "--directory", folder,   "0"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start python3");
        }
        // "Serving HTTP on 127.0.0.1 port 40123 (http://127.0.0.1:40123/) ..."
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        const auto at = line.find(" port ");
        if (at == std::string::npos) {
            Stop();
            throw std::runtime_error("http.server did not start: " + line);
        }
        port_ = std::stoi(line.substr(at + 6));
    }
    ~TLocalHttpServer() { Stop(); }
    TLocalHttpServer(const TLocalHttpServer&) = delete;
    TLocalHttpServer& operator=(const TLocalHttpServer&) = delete;

    int Port() const { return port_; }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace zephyrine::mediatest
