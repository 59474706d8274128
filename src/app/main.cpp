// Program entry: application object, Global, the title, the refusal of a second
// instance started with a file, the main window, the event loop.
#include "CustomWebServer.h"
#include "IECache.h"
#include "InstancePresence.h"
#include "LazyFlash.h"
#include "MessageBoxes.h"
#include "MessengerContentInstaller.h"
#include "RemoteRoots.h"
#include "Shell.h"
#include "WinksGlobal.h"
#include "uMainForm.h"

#include <QApplication>

#include <string>

namespace {

using namespace zephyrine;

platform::TPlatform CreatePlatform() {
    platform::TPlatform p;
    p.MessageBox = platform::CreateMessageBox();
    p.Shell = std::make_unique<platform::TDesktopShell>();
    p.CreateFlash = [](QWidget* parent) {
        return new platform::TLazyFlash(parent, platform::TFlashSettings{});
    };
    p.CreateInstaller = [] { return std::make_unique<platform::TMessengerContentInstaller>(); };
    p.UrlCache = std::make_unique<platform::TIECache>();
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

    app::TfrmMainForm window(Global, CreatePlatform(), roots, fileArgument);  // 5
    window.show();
    return application.exec();  // 6
}
