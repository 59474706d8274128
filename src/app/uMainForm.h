// Unit uMainForm: the main window TfrmMainForm. It owns every component; the platform pieces come
// from its creator (TPlatform), and so do the settings (TGlobal) and the two remote roots.
// Its fields and components are its own: the program reaches the window through the named
// operations below, and tests through TMainFormProbe.
#pragma once

#include "server/CustomWebServer.h"
#include "platform/InstancePresence.h"
#include "httpclient/NMHTTP.h"
#include "platform/Platform.h"
#include "app/WinksCatalogue.h"
#include "app/WinksGlobal.h"
#include "platform/XMLDocument.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>

#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <string>

namespace zephyrine::app {

// ApplicationEvents1: the application-event hook, an event filter on the application object that
// hands every event to the window's ApplicationEvents1Message.
class TApplicationEvents : public QObject {
    Q_OBJECT
  public:
    using THandler = std::function<bool(QObject* receiver, QEvent* event)>;  // true: handled
    explicit TApplicationEvents(QObject* parent) : QObject(parent) {}
    void SetOnMessage(THandler handler);

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    THandler onMessage_;
};

// The busy cursor for the whole application while a scope runs.
class TBusyCursor {
  public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

class TfrmMainForm : public QMainWindow {
    Q_OBJECT
    // The one way tests and benchmarks look at the fields and components (tests/app).
    friend class TMainFormProbe;

  public:
    // fileArgument: the first command-line argument ("" when none), handled by FormCreate step 7.
    // serverPort: FServer's port (0: the system chooses one when it is activated).
    TfrmMainForm(TGlobal& global, platform::TPlatform platform, platform::TRemoteRoots roots,
                 std::string fileArgument = {},
                 std::uint16_t serverPort = server::kDefaultServerPort, QWidget* parent = nullptr);
    ~TfrmMainForm() override;

    // The catalogue into the tree. parsed, when given, is the catalogue file parsed already.
    void LoadWinksList(const platform::TXMLDocument* parsed = nullptr);

    // The window's behaviours. Handlers without a guard of their own throw; the bindings hand
    // what they throw to ApplicationHandleException, the application's default error box.
    void FormShow();
    void FormResize();
    void PreviewItem(const platform::TXMLNode& item);
    void btnCloseClick();
    void btnSupportClick();
    void actAboutExecute();
    void ApplicationHandleException(const std::exception& e);

    // Installing catalogue items.
    void SetActionsEnabled(bool enabled);
    void InstallItemUrl(const std::string& url, const std::string& name);
    void treWinksListClick();
    void actInstallExecute();
    void actInstallCheExecute();
    void MsnInstallerContentInstalled(std::int32_t lhrResult);

    // Installing from a content file (.mca, .mco).
    void UnpackAndPreview(const std::string& file);
    void InstallFileThroughServer(const std::string& name, const std::string& file);
    std::string PrepareLocalPack(const std::string& file);  // the pack's path, "" on failure
    // The loopback URL of the pack the messenger fetches from FServer.
    std::string LocalPackUrl() const;
    // A content file dropped on the open window: the same unpack, preview and install, as one
    // install command.
    void OpenDroppedFile(const std::string& file);

    // The catalogue update (Upgrade) and the count client's connection events.
    void actUpgradeExecute();
    void nmpWinksCountConnect();
    void nmpWinksCountConnectionFailed();
    // Ends a running update's request; the update then ends as unsuccessful, nothing replaced.
    void AbortUpgrade();
    bool Upgrading() const { return upgrading_; }

    // Every message box of the window: through TPlatform::MessageBox, owner the window.
    void ShowMessage(const std::string& text, platform::TMsgIcon icon);
    // The single panel of staOptState.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // The selected node of treWinksList (invalid when none).
    QModelIndex SelectedNode() const;

    // The number of items in the tree, as the last load counted them.
    int ItemCount() const { return FItemCount; }
    // The embedded server (inactive until the first content-file install).
    server::TCustomWebServer& EmbeddedServer() { return *FServer; }

  protected:
    void resizeEvent(QResizeEvent* event) override;  // FormResize
    void showEvent(QShowEvent* event) override;      // FormShow, on the first showing
    bool eventFilter(QObject* watched, QEvent* event) override;
    // While an update runs, a close waits for it: the request is aborted, and the window closes
    // once the update has unwound.
    void closeEvent(QCloseEvent* event) override;

  private:
    // The layout, in the order the constructor runs them.
    void createWindow();
    void createActions();
    void createStatusBar();
    void createTreePanel();
    void createTreePopupMenu();
    void createPreviewPanel();
    void createButtonBar();
    void createHttpClients();
    void centreOnScreen();
    // FormCreate and its steps.
    void FormCreate();
    void createServer();
    void hookApplicationEvents();
    void createInstallQueues();
    void handleFileArgument();

    bool ApplicationEvents1Message(QObject* receiver, QEvent* event);
    // Drags over the window or any widget in it: content files are taken, the rest refused.
    bool RouteContentFileDrag(QObject* receiver, QEvent* event);
    std::string DroppedContentFile(const QMimeData* data) const;
    // Escape while an update's request runs aborts it.
    bool RouteUpgradeEscape(QObject* receiver, QEvent* event);
    // One request of the update; throws when it fails or the update was aborted meanwhile.
    void RunUpgradeRequest(httpclient::TNMHTTP& client, const std::string& url);
    void ShowDownloadProgress();
    void ActivateServer();
    void treWinksListMouseUp() {}  // does nothing
    void layoutButtonBar();
    void createEventBindings();
    platform::IMessengerContentInstaller& ConnectedMsnInstaller();
    bool shown_ = false;
    bool upgrading_ = false;                         // actUpgradeExecute is under way
    bool upgradeAborted_ = false;                    // ... and was told to stop
    bool closeAfterUpgrade_ = false;                 // a close arrived meanwhile
    httpclient::TNMHTTP* runningRequest_ = nullptr;  // the update's client inside Get

    platform::TInstancePresence presence_;  // stands for the window class "Zephyrine"

    // ---- fields -----------------------------------------------------------------
    platform::TXMLNode FCurrentItem;  // counted reference to the item being previewed, or null
    int FInstallTotal = 0;
    std::deque<std::string> FUrlQueue;  // created by FormCreate step 4
    std::deque<std::string> FNameQueue;
    bool FQueueMode = false;
    int FItemCount = 0;
    // The embedded server: inactive until the first content-file install switches it on.
    std::unique_ptr<server::TCustomWebServer> FServer;
    std::string FInstallName;

    // ---- components ----------------------------------------------------------------------------
    QStatusBar* staOptState = nullptr;
    QLabel* staOptStatePanel = nullptr;  // the status bar's one panel
    // Beside the panel while the new catalogue downloads: its bytes received.
    QProgressBar* prgUpgrade = nullptr;
    QWidget* Panel1 = nullptr;
    QTreeView* treWinksList = nullptr;
    TImageList ImageList1;
    TWinksTreeModel* treWinksListModel = nullptr;
    QWidget* Panel2 = nullptr;
    QWidget* flsPreview = nullptr;                         // the preview control or its placeholder
    platform::TFlashControl* flsPreviewControl = nullptr;  // null with the placeholder
    QWidget* Panel3 = nullptr;
    QPushButton* btnInstall = nullptr;
    QPushButton* btnUpgrade = nullptr;
    QPushButton* btnAbout = nullptr;
    QPushButton* btnSupport = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnInstallChe = nullptr;
    platform::TXMLDocument xmlWinksFile;
    QMenu* PopupMenu1 = nullptr;
    // ActionList1, category "Opt".
    QAction* actInstall = nullptr;
    QAction* actInstallChe = nullptr;
    QAction* actUpgrade = nullptr;
    QAction* actHelp = nullptr;
    QAction* actAbout = nullptr;
    TApplicationEvents* ApplicationEvents1 = nullptr;
    // The HTTP clients of the catalogue update: the count file and the new catalogue.
    std::unique_ptr<httpclient::TNMHTTP> nmpWinksCount;
    std::unique_ptr<httpclient::TNMHTTP> nmpWinksList;
    // Not connected at start: made on the first hand-over and kept until the window goes.
    std::unique_ptr<platform::IMessengerContentInstaller> MsnInstaller;

    // What the creator gave.
    TGlobal& Global;
    platform::TPlatform Platform;
    const platform::TRemoteRoots Roots;
    const std::string DownloadBaseUrl;  // content root + "/download/"
    const std::string FileArgument;
    const std::uint16_t ServerPort;
};

}  // namespace zephyrine::app
