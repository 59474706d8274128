// Starting another program without a shell and waiting for it.
#pragma once

#include <string>
#include <vector>

namespace zephyrine::base {

struct TProcessResult {
    // The exit status; 128 + the signal number for a child that was killed; -1 when the program
    // could not be started (StartError then says why).
    int ExitCode = -1;
    std::string StartError;
    std::string ErrorOutput;  // the child's standard error, when asked for
};

// Runs argv[0] (looked up on PATH when it holds no "/") with argv as its arguments. The child
// inherits no descriptor beyond 0 to 2 and starts with default signal handling. With
// captureErrorOutput its standard input and output are /dev/null and its standard error (up to a
// bounded size) comes back in ErrorOutput; otherwise it shares the caller's three streams.
TProcessResult RunProcess(const std::vector<std::string>& argv, bool captureErrorOutput = false);

// The full path of an executable program of that name in a folder of $PATH (searched in order;
// empty entries skipped; the system's default path when PATH is unset), or "" when there is
// none.
std::string FindOnPath(const std::string& program);

// The full path of a program: beside the running executable when one is there, else the first on
// PATH; empty when there is none.
std::string FindProgram(const std::string& name);

}  // namespace zephyrine::base
