#include "base/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

extern char** environ;

namespace zephyrine::base {

namespace {

constexpr std::size_t kMaxErrorOutput = 4096;
constexpr auto kPollInterval = std::chrono::milliseconds(10);

int ExitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// The descriptor pair of a pipe whose ends are closed on exec in the caller.
struct TPipe {
    int read = -1, write = -1;
};

// Adds the spawn action that sets up stream fd of the child; a pipe is made and its read end
// returned through readEnd.
bool AddRedirect(posix_spawn_file_actions_t& actions, const TRedirect& redirect, int fd,
                 std::vector<TPipe>& pipes, int& readEnd) {
    switch (redirect.Kind) {
        case TRedirect::Inherit:
            return true;
        case TRedirect::Null:
            return posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                                    fd == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
        case TRedirect::File:
        case TRedirect::AppendFile: {
            const int flags = fd == 0 ? O_RDONLY
                                      : O_WRONLY | O_CREAT |
                                            (redirect.Kind == TRedirect::File ? O_TRUNC : O_APPEND);
            return posix_spawn_file_actions_addopen(&actions, fd, redirect.Path.c_str(), flags,
                                                    0644) == 0;
        }
        case TRedirect::Pipe: {
            if (fd == 0) return false;
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) return false;
            pipes.push_back({ends[0], ends[1]});
            readEnd = ends[0];
            return posix_spawn_file_actions_adddup2(&actions, ends[1], fd) == 0;
        }
    }
    return false;
}

// The caller's environment with the given entries in front: the first of a name wins.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> entries = overrides;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        const bool overridden = std::any_of(overrides.begin(), overrides.end(), [&](auto& o) {
            return std::string_view(o).substr(0, o.find('=')) == name;
        });
        if (!overridden) entries.emplace_back(entry);
    }
    return entries;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& t : texts)
        pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& argv, const TChildOptions& options) {
    if (argv.empty() || argv[0].empty()) throw std::runtime_error("no program given");
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(options.Environment);
    std::vector<char*> argp = PointersTo(args);
    std::vector<char*> envp = PointersTo(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::vector<TPipe> pipes;
    bool ok = AddRedirect(actions, options.Input, 0, pipes, output_) &&
              AddRedirect(actions, options.Output, 1, pipes, output_) &&
              AddRedirect(actions, options.ErrorOutput, 2, pipes, errorOutput_);
    if (ok && options.ErrorToOutput) ok = posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    if (ok && !options.WorkingFolder.empty()) {
        ok = posix_spawn_file_actions_addchdir_np(&actions, options.WorkingFolder.c_str()) == 0;
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = ok ? posix_spawnp(&pid_, argp[0], &actions, &attr, argp.data(), envp.data())
                   : errno != 0 ? errno
                                : EINVAL;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    for (const TPipe& p : pipes)
        close(p.write);
    if (rc != 0) {
        for (const TPipe& p : pipes)
            close(p.read);
        output_ = errorOutput_ = -1;
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
}

TChildProcess::~TChildProcess() {
    Stop();
    if (output_ >= 0) close(output_);
    if (errorOutput_ >= 0) close(errorOutput_);
}

std::optional<std::string> TChildProcess::ReadOutputLine() {
    for (;;) {
        if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[512];
        const ssize_t n = output_ >= 0 ? read(output_, buffer, sizeof buffer) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (pending_.empty()) return std::nullopt;
            return std::exchange(pending_, {});
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string TChildProcess::ReadToEnd(int fd, std::size_t limit) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    // Read to the end even past the limit, so that the child never blocks on a full pipe.
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0 && text.size() < limit)
            text.append(buffer,
                        std::min<std::size_t>(static_cast<std::size_t>(n), limit - text.size()));
    }
    return text;
}

std::optional<int> TChildProcess::WaitFor(std::chrono::milliseconds limit) {
    if (status_ || pid_ <= 0) return status_;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) return status_ = ExitStatus(status);
        if (done < 0 && errno != EINTR) return status_ = -1;
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
}

int TChildProcess::Wait() {
    if (status_ || pid_ <= 0) return status_.value_or(-1);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) return *(status_ = -1);
    }
    return *(status_ = ExitStatus(status));
}

void TChildProcess::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || status_) return;
    kill(pid_, SIGTERM);
    if (!WaitFor(grace)) {
        kill(pid_, SIGKILL);
        Wait();
    }
}

void TChildProcess::Kill(int signal) {
    if (pid_ > 0 && !status_) kill(pid_, signal);
}

TProcessResult RunProcess(const std::vector<std::string>& argv, bool captureErrorOutput) {
    TProcessResult result;
    TChildOptions options;
    if (captureErrorOutput) {
        options.Input = TRedirect::ToNull();
        options.Output = TRedirect::ToNull();
        options.ErrorOutput = TRedirect::ToPipe();
    }
    try {
        TChildProcess child(argv, options);
        if (captureErrorOutput) {
            result.ErrorOutput = TChildProcess::ReadToEnd(child.ErrorOutputFd(), kMaxErrorOutput);
        }
        result.ExitCode = child.Wait();
    } catch (const std::runtime_error& e) {
        result.StartError = e.what();
    }
    return result;
}

void StopProcess(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    // Running: neither ended nor a zombie; our own children are reaped here.
    const auto alive = [pid] {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string self, comm, state;
        stat >> self >> comm >> state;
        return stat && state != "Z";
    };
    kill(pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + grace;
    while (alive() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(kPollInterval);
    if (alive()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::string FindOnPath(const std::string& program) {
    if (program.empty()) return {};
    std::string path;
    if (const char* variable = std::getenv("PATH")) {
        path = variable;
    } else {  // as the exec functions do: the system's default search path
        path.resize(confstr(_CS_PATH, nullptr, 0));
        confstr(_CS_PATH, path.data(), path.size());
        path.resize(std::strlen(path.c_str()));
    }
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t colon = std::min(rest.find(':'), rest.size());
        const std::string_view dir = rest.substr(0, colon);
        rest.remove_prefix(std::min(colon + 1, rest.size()));
        if (dir.empty()) continue;
        std::string candidate = std::string(dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string FindProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::string beside = (self.parent_path() / name).string();
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    return FindOnPath(name);
}

}  // namespace zephyrine::base
