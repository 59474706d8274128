#include "base/CommandLine.h"

#include <algorithm>
#include <cstdio>

namespace zephyrine::base {

namespace {

// Help texts start in this column of the option list.
constexpr std::size_t kHelpColumn = 28;

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

std::string ListLine(const std::string& left, const std::string& help) {
    std::string line = "  " + left;
    line += line.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : "  ";
    return line + help + "\n";
}

}  // namespace

TCommandLine::TCommandLine(std::string program, std::string version, std::string summary)
    : program_(std::move(program)), version_(std::move(version)), summary_(std::move(summary)) {}

void TCommandLine::AddOption(const std::string& name, const std::string& valueName,
                             const std::string& help) {
    options_.push_back({name, valueName, help});
}

void TCommandLine::AddArgument(const std::string& name, const std::string& help, bool required) {
    positional_.push_back({name, help, required});
}

const TCommandLine::TOption* TCommandLine::Find(const std::string& name) const {
    const auto it = std::find_if(options_.begin(), options_.end(),
                                 [&](const TOption& o) { return o.Name == name; });
    return it == options_.end() ? nullptr : &*it;
}

TCommandLine::TOutcome TCommandLine::Error(std::string text) {
    error_ = std::move(text);
    return TOutcome::Error;
}

TCommandLine::TOutcome TCommandLine::Parse(const std::vector<std::string>& args) {
    values_.clear();
    arguments_.clear();
    error_.clear();
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            arguments_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return TOutcome::Help;
        if (arg == "--version") return TOutcome::Version;
        if (arg.rfind("--", 0) != 0) return Error("unknown option '" + arg + "'");

        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const TOption* option = Find(name);
        if (option == nullptr) return Error("unknown option '--" + name + "'");
        if (option->ValueName.empty()) {
            if (equals != std::string::npos)
                return Error("option '--" + name + "' takes no value");
            values_[name] = "";
        } else if (equals != std::string::npos) {
            values_[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            values_[name] = args[++i];
        } else {
            return Error("option '--" + name + "' needs a value (" + option->ValueName + ")");
        }
    }
    const auto required = std::count_if(positional_.begin(), positional_.end(),
                                        [](const TArgument& a) { return a.Required; });
    if (arguments_.size() < static_cast<std::size_t>(required))
        return Error("missing argument " + positional_[arguments_.size()].Name);
    if (arguments_.size() > positional_.size())
        return Error("unexpected argument '" + arguments_[positional_.size()] + "'");
    return TOutcome::Run;
}

std::optional<int> TCommandLine::ParseOrExit(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    switch (Parse(args)) {
        case TOutcome::Run:
            return std::nullopt;
        case TOutcome::Help:
            Write(stdout, Usage());
            return 0;
        case TOutcome::Version:
            Write(stdout, Version());
            return 0;
        case TOutcome::Error:
            break;
    }
    return Fail(error_);
}

int TCommandLine::Fail(const std::string& message) const {
    Write(stderr, program_ + ": " + message + "\nTry '" + program_ + " --help' for more.\n");
    return kUsageErrorStatus;
}

bool TCommandLine::Has(const std::string& name) const {
    return values_.count(name) != 0;
}

std::string TCommandLine::Value(const std::string& name, const std::string& fallback) const {
    const auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

std::string TCommandLine::Usage() const {
    std::string usage = "Usage: " + program_;
    for (const TOption& o : options_)
        usage += " [--" + o.Name + (o.ValueName.empty() ? "" : " " + o.ValueName) + "]";
    for (const TArgument& a : positional_)
        usage += a.Required ? " " + a.Name : " [" + a.Name + "]";
    usage += "\n" + summary_ + "\n";
    if (!positional_.empty()) {
        usage += "\nArguments:\n";
        for (const TArgument& a : positional_)
            usage += ListLine(a.Name, a.Help);
    }
    usage += "\nOptions:\n";
    for (const TOption& o : options_)
        usage += ListLine("--" + o.Name + (o.ValueName.empty() ? "" : " " + o.ValueName), o.Help);
    usage += ListLine("-h, --help", "show this help and exit");
    usage += ListLine("--version", "show the version and exit");
    return usage;
}

}  // namespace zephyrine::base
