// Starting other programs without a shell: one that runs beside the caller (TChildProcess), or one
// waited for (RunProcess); and finding a program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zephyrine::base {

// Where one of a child's standard streams goes.
struct TRedirect {
    enum TKind { Inherit, Null, File, AppendFile, Pipe };
    TKind Kind = Inherit;
    std::string Path;  // File and AppendFile

    static TRedirect ToNull() { return {Null, {}}; }
    static TRedirect ToFile(std::string path) { return {File, std::move(path)}; }
    static TRedirect AppendTo(std::string path) { return {AppendFile, std::move(path)}; }
    static TRedirect ToPipe() { return {Pipe, {}}; }
};

struct TChildOptions {
    std::vector<std::string> Environment;  // "NAME=value" entries that override the caller's
    std::string WorkingFolder;             // empty: the caller's
    TRedirect Input;                       // Pipe is not offered for the input
    TRedirect Output;
    TRedirect ErrorOutput;
    bool ErrorToOutput = false;  // standard error goes where standard output goes
};

// A program started with argv (argv[0] looked up on PATH when it holds no "/"). The child
// inherits no descriptor beyond 0 to 2 and starts with default signal handling and an empty
// signal mask. On destruction a child that still runs is stopped (Stop) and reaped.
class TChildProcess {
  public:
    // Throws std::runtime_error naming the program and the reason when it cannot be started.
    explicit TChildProcess(const std::vector<std::string>& argv, const TChildOptions& options = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The read ends of piped output streams; -1 when not piped. Owned by this object.
    int OutputFd() const { return output_; }
    int ErrorOutputFd() const { return errorOutput_; }
    // One line of the piped standard output, without its line end; nullopt at its end.
    std::optional<std::string> ReadOutputLine();
    // Everything left on a piped stream, up to its end (at most limit bytes are kept).
    static std::string ReadToEnd(int fd, std::size_t limit = static_cast<std::size_t>(-1));

    // The exit status, 128 + the signal number when the child was killed; nullopt while it still
    // runs after limit.
    std::optional<int> WaitFor(std::chrono::milliseconds limit);
    int Wait();
    bool Running() { return !WaitFor(std::chrono::milliseconds(0)).has_value(); }
    // SIGTERM, then SIGKILL when the child has not ended after grace; reaps it.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    void Kill(int signal);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    int output_ = -1;
    int errorOutput_ = -1;
    std::string pending_;  // output read beyond the last line handed out
};

struct TProcessResult {
    // The exit status; 128 + the signal number for a child that was killed; -1 when the program
    // could not be started (StartError then says why).
    int ExitCode = -1;
    std::string StartError;
    std::string ErrorOutput;  // the child's standard error, when asked for
};

// Runs a program and waits for it. With captureErrorOutput its standard input and output are
// /dev/null and its standard error (up to a bounded size) comes back in ErrorOutput; otherwise it
// shares the caller's three streams.
TProcessResult RunProcess(const std::vector<std::string>& argv, bool captureErrorOutput = false);

// Ends a process that may not be a child of ours (one a launcher started, say): SIGTERM, then
// SIGKILL after grace; reaps it when it is our child.
void StopProcess(pid_t pid, std::chrono::milliseconds grace = std::chrono::seconds(5));

// The full path of an executable program of that name in a folder of $PATH (searched in order;
// empty entries skipped; the system's default path when PATH is unset), or "" when there is
// none.
std::string FindOnPath(const std::string& program);

// The full path of a program: beside the running executable when one is there, else the first on
// PATH; empty when there is none.
std::string FindProgram(const std::string& name);

}  // namespace zephyrine::base
