// For MainFormUpgradeTest: the window's Upgrade in a process of its own, offscreen, with no file
// allowed to grow beyond a size (a full disk, as the file-size limit makes writes fail with
// EFBIG). usage: zephyrine-upgrade-child APPFOLDER CATALOGUE_ROOT MAX_FILE_BYTES (0: no limit)
// Prints every status text and message box on standard output; exits 0 once the update ran.
#include "app/uMainForm.h"

#include <QApplication>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace {

using namespace zephyrine;

class TPrintedMessageBox : public platform::IMessageBox {
  public:
    void Show(QWidget*, const std::string& text, const std::string&, platform::TMsgIcon) override {
        std::printf("MessageBox: %s\n", text.c_str());
    }
    bool Confirm(QWidget*, const std::string& text, const std::string&) override {
        std::printf("Confirm: %s\n", text.c_str());
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    app::TGlobal global(argv[1], "http://content.test");
    platform::TPlatform p;
    p.MessageBox = std::make_unique<TPrintedMessageBox>();
    p.OnStatusText = [](const std::string& text) { std::printf("Status: %s\n", text.c_str()); };
    app::TfrmMainForm window(global, std::move(p), {"http://content.test", argv[2]});
    const rlim_t limit = std::stoull(argv[3]);
    if (limit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0) return 3;
    }
    window.actUpgradeExecute();
    std::fflush(stdout);
    return 0;
}
