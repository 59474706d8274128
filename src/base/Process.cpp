#include "Process.h"

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
#include <string_view>

extern char** environ;

namespace zephyrine::base {

namespace {

constexpr std::size_t kMaxErrorOutput = 4096;

// Reads the pipe to its end (so the child never blocks on a full pipe), keeping the first bytes.
std::string Drain(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0 && text.size() < kMaxErrorOutput)
            text.append(buffer, std::min<std::size_t>(n, kMaxErrorOutput - text.size()));
    }
    return text;
}

}  // namespace

TProcessResult RunProcess(const std::vector<std::string>& argv, bool captureErrorOutput) {
    TProcessResult result;
    if (argv.empty() || argv[0].empty()) {
        result.StartError = "no program given";
        return result;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int err[2] = {-1, -1};
    if (captureErrorOutput && pipe2(err, O_CLOEXEC) != 0) {
        result.StartError = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (captureErrorOutput) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
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

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (captureErrorOutput) close(err[1]);
    if (rc != 0) {
        if (captureErrorOutput) close(err[0]);
        result.StartError = std::strerror(rc);
        return result;
    }
    if (captureErrorOutput) {
        result.ErrorOutput = Drain(err[0]);
        close(err[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.ExitCode = 128 + WTERMSIG(status);
    return result;
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
