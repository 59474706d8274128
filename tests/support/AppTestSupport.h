// Helpers shared by the tests of src/app: temporary folders, files, a message box that records,
// the Qt application object (offscreen) and a main window over a folder of the test's own.
#pragma once

#include "app/WinksGlobal.h"
#include "app/uMainForm.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"
#include "support/TestWait.h"

#include <QApplication>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zephyrine::test {

// The window opens the file it was started with beside its first turns of the event loop; this
// runs the loop until it has (at once when there is none). False when it has not after 30 s.
inline bool StartFileOpened(app::TfrmMainForm& window) {
    return Eventually(
        [&] {
            QCoreApplication::processEvents();
            return !window.FileInstall().Opening();
        },
        30000);
}

// Sets an environment variable for a scope and puts the old value back after.
class TScopedEnv {
  public:
    TScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

struct TShownMessage {
    std::string Text;
    std::string Caption;
    platform::TMsgIcon Icon;
};

class TRecordingMessageBox : public platform::IMessageBox {
  public:
    // A question is recorded (icon None) and answered confirm.
    explicit TRecordingMessageBox(std::shared_ptr<std::vector<TShownMessage>> log,
                                  bool confirm = false)
        : log_(std::move(log)), confirm_(confirm) {}
    void Show(QWidget*, const std::string& text, const std::string& caption,
              platform::TMsgIcon icon) override {
        log_->push_back({text, caption, icon});
    }
    bool Confirm(QWidget*, const std::string& text, const std::string& caption) override {
        log_->push_back({text, caption, platform::TMsgIcon::None});
        return confirm_;
    }

  private:
    std::shared_ptr<std::vector<TShownMessage>> log_;
    bool confirm_;
};

inline QApplication& EnsureApp() {
    static int argc = 1;
    static char name[] = "zephyrine-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        auto* a = new QApplication(argc, argv);  // lives until the process ends
        QApplication::setApplicationName("Zephyrine");
        return a;
    }();
    return *app;
}

// A window over folder (its AppFolder); XDG_DATA_HOME points into the folder so the association
// never touches the user's own.
struct TWindowFixture {
    explicit TWindowFixture(const std::string& folder)
        : dataHome("XDG_DATA_HOME", folder + "xdg-data"),
          runtimeDir("XDG_RUNTIME_DIR", folder),
          global((EnsureApp(), folder), "http://content.test") {}

    std::unique_ptr<app::TfrmMainForm> Create(std::string fileArgument = {}) {
        platform::TPlatform p;
        p.MessageBox = std::make_unique<TRecordingMessageBox>(messages);
        auto window = std::make_unique<app::TfrmMainForm>(
            global, std::move(p), platform::TRemoteRoots{"http://content.test", "http://cat.test"},
            std::move(fileArgument));
        if (!StartFileOpened(*window)) throw std::runtime_error("the start's file was not opened");
        return window;
    }

    TScopedEnv dataHome;
    TScopedEnv runtimeDir;
    app::TGlobal global;
    std::shared_ptr<std::vector<TShownMessage>> messages =
        std::make_shared<std::vector<TShownMessage>>();
};

// A child of the window by its object name, as any Qt client finds it; throws when missing.
template <typename T>
T* Child(const QObject& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromUtf8(name));
    if (child == nullptr) throw std::logic_error(std::string("no child named ") + name);
    return child;
}

// The window's widgets, actions and tree model, by their object names.
struct TWindowParts {
    explicit TWindowParts(const QObject& w)
        : staOptState(Child<QStatusBar>(w, "staOptState")),
          staOptStatePanel(Child<QLabel>(w, "staOptStatePanel")),
          prgUpgrade(Child<QProgressBar>(w, "prgUpgrade")),
          Panel1(Child<QWidget>(w, "Panel1")),
          treWinksList(Child<QTreeView>(w, "treWinksList")),
          treWinksListModel(Child<app::TWinksTreeModel>(w, "treWinksListModel")),
          Panel2(Child<QWidget>(w, "Panel2")),
          flsPreview(Child<QWidget>(w, "flsPreview")),
          flsPreviewControl(dynamic_cast<platform::TFlashControl*>(flsPreview)),
          Panel3(Child<QWidget>(w, "Panel3")),
          btnInstall(Child<QPushButton>(w, "btnInstall")),
          btnUpgrade(Child<QPushButton>(w, "btnUpgrade")),
          btnAbout(Child<QPushButton>(w, "btnAbout")),
          btnSupport(Child<QPushButton>(w, "btnSupport")),
          btnClose(Child<QPushButton>(w, "btnClose")),
          btnInstallChe(Child<QPushButton>(w, "btnInstallChe")),
          PopupMenu1(Child<QMenu>(w, "PopupMenu1")),
          actInstall(Child<QAction>(w, "actInstall")),
          actInstallChe(Child<QAction>(w, "actInstallChe")),
          actUpgrade(Child<QAction>(w, "actUpgrade")),
          actHelp(Child<QAction>(w, "actHelp")),
          actAbout(Child<QAction>(w, "actAbout")) {}

    QStatusBar* staOptState;
    QLabel* staOptStatePanel;
    QProgressBar* prgUpgrade;
    QWidget* Panel1;
    QTreeView* treWinksList;
    app::TWinksTreeModel* treWinksListModel;
    QWidget* Panel2;
    QWidget* flsPreview;
    platform::TFlashControl* flsPreviewControl;  // null with the placeholder
    QWidget* Panel3;
    QPushButton* btnInstall;
    QPushButton* btnUpgrade;
    QPushButton* btnAbout;
    QPushButton* btnSupport;
    QPushButton* btnClose;
    QPushButton* btnInstallChe;
    QMenu* PopupMenu1;
    QAction* actInstall;
    QAction* actInstallChe;
    QAction* actUpgrade;
    QAction* actHelp;
    QAction* actAbout;
};

inline TWindowParts Parts(const QObject& window) {
    return TWindowParts(window);
}

// A catalogue with the given categories, each a list of item names.
inline std::string Catalogue(const std::vector<std::pair<std::string, int>>& categories) {
    std::string xml = "<?xml version=\"1.0\"?>\n<WinksList>\n";
    int n = 0;
    for (const auto& [name, count] : categories) {
        xml += "  <" + name + ">\n";
        for (int i = 0; i < count; ++i, ++n) {
            const std::string id = std::to_string(n);
            xml += "    <Wink WinkName=\"Wink " + id + "\" DownloadUrl=\"w" + id +
                   ".cab\" SwfUrl=\"w" + id + ".swf\"/>\n";
        }
        xml += "  </" + name + ">\n";
    }
    return xml + "</WinksList>\n";
}

}  // namespace zephyrine::test
