// The command-line parser of the Qt-free commands: long options with or without a value
// ("--port N" or "--port=N"), positional arguments, "--" before arguments that begin with "-",
// and the conventional --help (usage on standard output, status 0), --version (status 0) and
// usage errors (a message on standard error, status 2).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zephyrine::base {

// The exit status of a usage error, as the shell's built-ins use it.
inline constexpr int kUsageErrorStatus = 2;

class TCommandLine {
  public:
    // program: the command's name; summary: one line under the usage line.
    TCommandLine(std::string program, std::string version, std::string summary);

    // An option --name; with a valueName it takes a value, shown in the usage as that name.
    void AddOption(const std::string& name, const std::string& valueName, const std::string& help);
    // A positional argument; required ones come first.
    void AddArgument(const std::string& name, const std::string& help, bool required = true);

    enum class TOutcome { Run, Help, Version, Error };
    // Parses args (without the program name). Help and Version win as soon as they are met;
    // Error leaves its reason in ErrorText().
    TOutcome Parse(const std::vector<std::string>& args);

    // Parse of argv, then what the conventions ask: the usage or the version on standard
    // output and 0, or the error and a hint on standard error and kUsageErrorStatus. Nothing
    // (carry on) when the command is to run.
    std::optional<int> ParseOrExit(int argc, const char* const* argv);
    // For checks the command makes itself (a value out of range): the message and the hint on
    // standard error; returns kUsageErrorStatus.
    int Fail(const std::string& message) const;

    bool Has(const std::string& name) const;
    // The option's last value, or fallback when it was not given.
    std::string Value(const std::string& name, const std::string& fallback = {}) const;
    const std::vector<std::string>& Arguments() const { return arguments_; }

    std::string Usage() const;  // the whole help text
    std::string Version() const { return program_ + " " + version_ + "\n"; }
    const std::string& ErrorText() const { return error_; }

  private:
    struct TOption {
        std::string Name, ValueName, Help;
    };
    struct TArgument {
        std::string Name, Help;
        bool Required = true;
    };
    const TOption* Find(const std::string& name) const;
    TOutcome Error(std::string text);

    std::string program_, version_, summary_;
    std::vector<TOption> options_;
    std::vector<TArgument> positional_;
    std::map<std::string, std::string> values_;  // given options; flags hold ""
    std::vector<std::string> arguments_;
    std::string error_;
};

}  // namespace zephyrine::base
