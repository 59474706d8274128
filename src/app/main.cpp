// Program entry: application object, Global, the title, the refusal of a second
// instance started with a file, the main window, the event loop.
#include "server/CustomWebServer.h"
#include "platform/IECache.h"
#include "platform/InstancePresence.h"
#include "platform/LazyFlash.h"
#include "platform/MessageBoxes.h"
#include "platform/MessengerContentInstaller.h"
#include "app/RemoteRoots.h"
#include "platform/Shell.h"
#include "server/SvrLog.h"
#include "app/WinksGlobal.h"
#include "app/uMainForm.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

platform::TPlatform CreatePlatform(bool withFile) {
    platform::TPlatform p;
    p.MessageBox = platform::CreateMessageBox();
    p.Shell = std::make_unique<platform::TDesktopShell>();
    p.CreateFlash = [withFile](QWidget* parent) {
        auto* flash = new platform::TLazyFlash(parent, platform::TFlashSettings{});
        // The player starts while a content file unpacks, else once the window is up.
        withFile ? flash->WarmUp() : flash->WarmUpWhenShown();
        if (Tracing()) {
            QObject::connect(flash, &platform::TLazyFlash::FirstFrameDrawn, flash,
                             [flash] { Trace("FirstFrame", flash->Movie()); });
        }
        return flash;
    };
    p.CreateInstaller = [] { return std::make_unique<platform::TMessengerContentInstaller>(); };
    p.UrlCache = std::make_unique<platform::TIECache>();
    if (Tracing()) p.OnStatusText = [](const std::string& text) { Trace("Status", text); };
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    server::InitTesselVariable();            // before any thread
    platform::TLazyFlash::PrepareProcess();  // before the application object
    QApplication application(argc, argv);    // 1
    const platform::TRemoteRoots roots = app::RemoteRootsFromEnvironment();
    app::TGlobal Global(roots.ContentRoot);                               // 2
    QApplication::setApplicationName(QString::fromUtf8(app::kAppTitle));  // 3
    QApplication::setApplicationDisplayName(QString::fromUtf8(app::kAppTitle));

    const std::string fileArgument = argc > 1 ? argv[1] : "";
    if (platform::TInstancePresence::IsHeldByAnyone() && !fileArgument.empty()) {  // 4
        platform::CreateMessageBox()->Show(
            nullptr, "Zephyrine is already running.First,Please close the program.", app::kAppTitle,
            platform::TMsgIcon::Information);
        return 0;
    }

    app::TfrmMainForm window(Global, CreatePlatform(!fileArgument.empty()), roots,
                             fileArgument);  // 5
    if (Tracing()) {
        // Entries are delivered through the event loop, so none is missed by assigning it now.
        window.EmbeddedServer().OnLogEntry =
            [](server::TCustomServerLog&, std::unique_ptr<server::TTransactionLogEntry>& entry,
               bool&) { Trace("ServerLog", server::LogLine(*entry)); };
    }
    window.show();
    return application.exec();  // 6
}
