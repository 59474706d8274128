// Program entry: the command line, application object, Global, the title, the refusal of a
// second instance started with a file, the main window, the event loop.
//   zephyrine [FILE.mca|FILE.mco]
#include "server/CustomWebServer.h"
#include "platform/IECache.h"
#include "platform/InstancePresence.h"
#include "platform/LazyFlash.h"
#include "platform/MessageBoxes.h"
#include "platform/MessengerContentInstaller.h"
#include "app/RemoteRoots.h"
#include "platform/Shell.h"
#include "server/SvrLog.h"
#include "app/DataFolders.h"
#include "base/CommandLine.h"
#include "base/Convert.h"
#include "app/WinksGlobal.h"
#include "app/uMainForm.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

namespace {

using namespace zephyrine;

// For tests: ZEPHYRINE_TRACE=stderr writes every status text, the preview's first frames and
// the embedded server's log entries to standard error, one line each.
bool Tracing() {
    const char* trace = std::getenv("ZEPHYRINE_TRACE");
    return trace != nullptr && std::strcmp(trace, "stderr") == 0;
}

void Trace(const std::string& kind, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kind.c_str(), text.c_str());
    std::fflush(stderr);
}

constexpr const char* kProgramName = "zephyrine";

// For tests: ZEPHYRINE_SERVER_PORT sets the embedded server's port (0: the system picks a free
// one), so that a test never depends on 21887 being free.
std::uint16_t ServerPort() {
    const char* text = std::getenv("ZEPHYRINE_SERVER_PORT");
    if (text == nullptr) return server::kDefaultServerPort;
    const std::optional<int> port = base::TryStrToInt(text);
    if (!port || *port < 0 || *port > 65535) {
        std::fprintf(stderr, "%s: ZEPHYRINE_SERVER_PORT is not a port number: '%s'; %u is used\n",
                     kProgramName, text, static_cast<unsigned>(server::kDefaultServerPort));
        return server::kDefaultServerPort;
    }
    return static_cast<std::uint16_t>(*port);
}

// The command line, read before any application object exists, so that --help and --version need
// no display: the content file to open, or the exit status when the program is not to run.
struct TCommandLine {
    std::string File;
    std::optional<int> ExitStatus;
};

TCommandLine ParseCommandLine(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Keeps a catalogue of Winks, previews them and installs them into the messenger.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument("FILE", "a content file (.mca or .mco) to preview and install",
                                 "[FILE]");
    if (!parser.parse(args)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more.\n", kProgramName,
                     parser.errorText().toLocal8Bit().constData(), kProgramName);
        return {{}, base::kUsageErrorStatus};
    }
    if (parser.isSet(help) || parser.isSet("help-all")) {
        // The help text names the program from the application object's arguments.
        const QCoreApplication names(argc, argv);
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return {{}, 0};
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", kProgramName, ZEPHYRINE_VERSION);
        return {{}, 0};
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) return {};
    // The name's bytes as given: decoding and encoding again would change a name that is not
    // valid text in the locale's encoding.
    for (int i = 1; i < argc; ++i) {
        if (args[i] == files.first()) return {argv[i], {}};
    }
    return {files.first().toLocal8Bit().toStdString(), {}};
}

platform::TPlatform CreatePlatform(const app::TDataFolders& folders, bool withFile) {
    platform::TPlatform p;
    p.MessageBox = platform::CreateMessageBox();
    p.Shell = std::make_unique<platform::TDesktopShell>();
    p.CreateFlash = [folders, withFile](QWidget* parent) {
        platform::TFlashSettings settings;
        settings.PlayerFolder = folders.PlayerFolder;
        auto* flash = new platform::TLazyFlash(parent, settings, folders.LibraryFolder);
        // The player starts while a content file unpacks, else once the window is up.
        if (Tracing()) {
            QObject::connect(flash, &platform::TLazyFlash::FirstFrameDrawn, flash,
                             [flash] { Trace("FirstFrame", flash->Movie()); });
            QObject::connect(flash, &platform::TLazyFlash::WarmedUp, flash,
                             [] { Trace("PlayerReady", "yes"); });
        }
        withFile ? flash->WarmUp() : flash->WarmUpWhenShown();
        return flash;
    };
    p.CreateInstaller = [] { return std::make_unique<platform::TMessengerContentInstaller>(); };
    p.UrlCache = std::make_unique<platform::TIECache>();
    if (Tracing()) p.OnStatusText = [](const std::string& text) { Trace("Status", text); };
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    if (commandLine.ExitStatus) return *commandLine.ExitStatus;
    server::InitTesselVariable();            // before any thread
    platform::TLazyFlash::PrepareProcess();  // before the application object
    QApplication application(argc, argv);
    const platform::TRemoteRoots roots = app::RemoteRootsFromEnvironment();
    const app::TDataFolders folders = app::DataFoldersFor(app::ExecutableFolder());
    try {
        app::PrepareDataFolders(folders);
    } catch (const std::exception& e) {
        // The window then reports the catalogue it cannot load.
        std::fprintf(stderr, "%s: %s\n", kProgramName, e.what());
    }
    app::TGlobal Global(folders, roots.ContentRoot);
    // No display name: on X11 Qt would append it to every window title ("About Zephyrine "
    // included), and the titles are the program's own.
    QApplication::setApplicationName(QString::fromUtf8(app::kAppTitle));

    const std::string& fileArgument = commandLine.File;
    if (platform::TInstancePresence::IsHeldByAnyone() && !fileArgument.empty()) {
        platform::CreateMessageBox()->Show(
            nullptr, "Zephyrine is already running.First,Please close the program.", app::kAppTitle,
            platform::TMsgIcon::Information);
        return 0;
    }

    app::TfrmMainForm window(Global, CreatePlatform(folders, !fileArgument.empty()), roots,
                             fileArgument, ServerPort());
    if (Tracing()) {
        // Entries are delivered through the event loop, so none is missed by assigning it now.
        window.EmbeddedServer().OnLogEntry =
            [](server::TCustomServerLog&, std::unique_ptr<server::TTransactionLogEntry>& entry,
               bool&) { Trace("ServerLog", server::LogLine(*entry)); };
    }
    window.show();
    return application.exec();
}
