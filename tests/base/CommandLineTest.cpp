// The commands' option parser: what each kind of command line gives, as a table.
#include "base/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using zephyrine::base::TCommandLine;
using TOutcome = TCommandLine::TOutcome;

// A command shaped like the server and the client together: two valued options, a flag, one
// required and one optional argument.
TCommandLine Command() {
    TCommandLine c("demo", "9.8.7", "A command for the tests.");
    c.AddOption("port", "N", "the port");
    c.AddOption("search-path", "DIRS", "the folders");
    c.AddOption("log", "", "log entries");
    c.AddArgument("URL", "the address");
    c.AddArgument("FILE", "the file", false);
    return c;
}

TEST(CommandLineTest, EachCommandLineGivesItsOutcome) {
    const struct {
        std::vector<std::string> args;
        TOutcome outcome;
        std::string port, error;
        std::vector<std::string> arguments;
    } cases[] = {
        {{"u"}, TOutcome::Run, "", "", {"u"}},
        {{"--port", "80", "u", "f"}, TOutcome::Run, "80", "", {"u", "f"}},
        {{"--port=81", "u"}, TOutcome::Run, "81", "", {"u"}},
        {{"--port=", "u"}, TOutcome::Run, "", "", {"u"}},
        {{"--port", "1", "--port", "2", "u"}, TOutcome::Run, "2", "", {"u"}},  // the last wins
        {{"--port", "-5", "u"}, TOutcome::Run, "-5", "", {"u"}},  // a value may begin with "-"
        {{"--", "--port", "-x"}, TOutcome::Run, "", "", {"--port", "-x"}},
        {{"-", "u"}, TOutcome::Run, "", "", {"-", "u"}},  // "-" alone is an argument
        {{"--log", "u", "--search-path", "a;b"}, TOutcome::Run, "", "", {"u"}},
        {{"--help"}, TOutcome::Help, "", "", {}},
        {{"-h", "--bogus"}, TOutcome::Help, "", "", {}},
        {{"u", "--version", "--bogus"}, TOutcome::Version, "", "", {}},
        {{"--bogus", "--help"}, TOutcome::Error, "", "unknown option '--bogus'", {}},
        {{"--bogus=1", "u"}, TOutcome::Error, "", "unknown option '--bogus'", {}},
        {{"-p", "u"}, TOutcome::Error, "", "unknown option '-p'", {}},
        {{"u", "--port"}, TOutcome::Error, "", "option '--port' needs a value (N)", {}},
        {{"--log=yes", "u"}, TOutcome::Error, "", "option '--log' takes no value", {}},
        {{}, TOutcome::Error, "", "missing argument URL", {}},
        {{"--log"}, TOutcome::Error, "", "missing argument URL", {}},
        {{"u", "f", "g"}, TOutcome::Error, "", "unexpected argument 'g'", {}},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += "[" + a + "]";
        SCOPED_TRACE(line);
        TCommandLine command = Command();
        EXPECT_EQ(command.Parse(c.args), c.outcome);
        EXPECT_EQ(command.ErrorText(), c.error);
        if (c.outcome != TOutcome::Run) continue;
        EXPECT_EQ(command.Value("port", ""), c.port);
        EXPECT_EQ(command.Arguments(), c.arguments);
    }
}

TEST(CommandLineTest, FlagsAndFallbacks) {
    TCommandLine command = Command();
    ASSERT_EQ(command.Parse({"--log", "u"}), TOutcome::Run);
    EXPECT_TRUE(command.Has("log"));
    EXPECT_FALSE(command.Has("port"));
    EXPECT_EQ(command.Value("port", "21887"), "21887");
    // A second parse starts afresh.
    ASSERT_EQ(command.Parse({"u"}), TOutcome::Run);
    EXPECT_FALSE(command.Has("log"));
}

TEST(CommandLineTest, UsageNamesEveryOptionAndArgument) {
    const TCommandLine command = Command();
    const std::string usage = command.Usage();
    EXPECT_EQ(usage.rfind("Usage: demo [--port N] [--search-path DIRS] [--log] URL [FILE]\n"
                          "A command for the tests.\n",
                          0),
              0u)
        << usage;
    for (const char* text : {"--port N", "the port", "--log", "URL", "the address", "--help",
                             "--version"}) {
        EXPECT_NE(usage.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(command.Version(), "demo 9.8.7\n");
}

}  // namespace
