// Unit uMainForm: the main window TfrmMainForm, its layout and wiring. Its three workflows are
// units of their own that it owns: the catalogue update (CatalogueUpgrade), the install queue
// (InstallQueue) and the content-file install (ContentFileInstall); its handlers call into them,
// and it keeps the one rule of what may run while one of them is under way. The platform pieces
// come from its creator (TPlatform), and so do the settings (TGlobal) and the two remote roots.
// Tests reach its widgets by object name (findChild) and the units through the accessors below.
#pragma once

#include "app/CatalogueFilter.h"
#include "app/CatalogueUpgrade.h"
#include "app/ContentFileInstall.h"
#include "app/InstallQueue.h"
#include "app/LibraryImport.h"
#include "app/WinkLibrary.h"
#include "app/WinksCatalogue.h"
#include "app/WinksGlobal.h"
#include "platform/InstancePresence.h"
#include "platform/Platform.h"
#include "platform/XMLDocument.h"
#include "server/CustomWebServer.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
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

class TfrmMainForm : public QMainWindow {
    Q_OBJECT

  public:
    // fileArgument: the first command-line argument ("" when none), handled by FormCreate.
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

    // The commands and the completion event; each is a call into its unit. A command that
    // arrives while another is under way is refused (the rule in uMainFormBehaviour.cpp).
    void treWinksListClick();
    void actInstallExecute();
    void actInstallCheExecute();
    void actUpgradeExecute();
    void MsnInstallerContentInstalled(std::int32_t lhrResult);
    void UnpackAndPreview(const std::string& file);
    void InstallFileThroughServer(const std::string& name, const std::string& file);
    // A content file dropped on the open window: the same unpack, preview and install.
    void OpenDroppedFile(const std::string& file);
    // Open…: the chosen content files, each in turn as if dropped; the next starts when the
    // install before it has ended.
    void actOpenExecute();
    // The file dialog of Open…: the files the user accepted (none when cancelled). Tests hand
    // their own.
    using TOpenFilesDialog = std::function<QStringList(QWidget* owner)>;
    void SetOpenFilesDialog(TOpenFilesDialog dialog) { openFilesDialog_ = std::move(dialog); }
    // Import folder…: every content file under the chosen folder into My Winks, with the
    // progress bar; Escape stops it. A folder dropped on the window does the same.
    void actImportExecute();
    void ImportFolder(const std::string& folder);
    using TFolderDialog = std::function<QString(QWidget* owner)>;
    void SetImportFolderDialog(TFolderDialog dialog) { importFolderDialog_ = std::move(dialog); }
    TLibraryImport& Import() { return *import_; }
    // Removes the selected item of My Winks, once the user has confirmed it.
    void actRemoveExecute();
    // Ends a running update's request; the update then ends as unsuccessful, nothing replaced.
    void AbortUpgrade();

    // My Winks: the user's library of the content files opened, dropped or given at start.
    TWinkLibrary& Library() { return *library_; }
    // Keeps the content file in My Winks and shows it there; refusals go to the status text, a
    // library that cannot be written to a message box.
    void AddToLibrary(const std::string& file);

    // An update runs, or an install waits for the messenger.
    bool Busy() const;

    // Every message box of the window: through TPlatform::MessageBox, owner the window.
    void ShowMessage(const std::string& text, platform::TMsgIcon icon);
    // The single panel of staOptState.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // The selected node of treWinksList (invalid when none).
    QModelIndex SelectedNode() const;
    // The Find filter over treWinksList.
    TCatalogueFilter& Filter() { return *treWinksListFilter; }
    // The item last clicked and previewed (null when none).
    const platform::TXMLNode& CurrentItem() const { return FCurrentItem; }
    // The number of items in the tree, as the last load counted them.
    int ItemCount() const { return FItemCount; }

    // The embedded server (inactive until the first content-file install) and the three units.
    server::TCustomWebServer& EmbeddedServer() { return *FServer; }
    TCatalogueUpgrade& Upgrade() { return *upgrade_; }
    TInstallQueue& Installs() { return *installs_; }
    TContentFileInstall& FileInstall() { return *fileInstall_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;  // FormResize
    void showEvent(QShowEvent* event) override;      // FormShow, on the first showing
    bool eventFilter(QObject* watched, QEvent* event) override;
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
    void createUnits();
    void createEventBindings();
    void centreOnScreen();
    // FormCreate and its steps.
    void FormCreate();
    void createServer();
    void hookApplicationEvents();
    void ensureFileAssociation();
    void handleFileArgument();

    // The re-entrancy rule (uMainFormBehaviour.cpp).
    void StartCommand(const std::function<void()>& command);
    void UpdateActions();
    void OfferInstall(bool offered);

    bool ApplicationEvents1Message(QObject* receiver, QEvent* event);
    bool IsOwnWidget(QObject* receiver) const;
    // Drags over the window or any widget in it: content files are taken, the rest refused.
    bool RouteContentFileDrag(QObject* receiver, QEvent* event);
    std::string DroppedContentFile(const QMimeData* data) const;
    std::string DroppedFolder(const QMimeData* data) const;
    void ImportFinished(int added, int notCabinet, int duplicates, int unreadable);
    // Escape while an update's request runs aborts it.
    bool RouteUpgradeEscape(QObject* receiver, QEvent* event);
    void ShowProgress(int value, int maximum);
    void OpenNextQueued();
    // The library's items into the tree's trailing category.
    void ShowLibrary();
    // The kept copy of a node of My Winks; "" for any other node.
    std::string LibraryCopy(const QModelIndex& node) const;
    void PlayMovie(const std::string& movie);
    void treWinksListMouseUp() {}  // does nothing
    void layoutButtonBar();

    // ---- fields ---------------------------------------------------------------------------------
    platform::TXMLNode FCurrentItem;  // counted reference to the item being previewed, or null
    int FItemCount = 0;
    // The embedded server: inactive until the first content-file install switches it on.
    std::unique_ptr<server::TCustomWebServer> FServer;

    // ---- components -----------------------------------------------------------------------------
    QStatusBar* staOptState = nullptr;
    QLabel* staOptStatePanel = nullptr;  // the status bar's one panel
    // Beside the panel while the new catalogue downloads: its bytes received.
    QProgressBar* prgUpgrade = nullptr;
    QWidget* Panel1 = nullptr;
    // Find: the search field above the tree, the filter it sets, and "N of M shown" beside the
    // status panel while a filter is active.
    QLineEdit* edtFind = nullptr;
    QLabel* lblShown = nullptr;
    QToolButton* btnOpen = nullptr;  // beside the search field: Open…
    QTreeView* treWinksList = nullptr;
    TImageList ImageList1;
    TWinksTreeModel* treWinksListModel = nullptr;
    TCatalogueFilter* treWinksListFilter = nullptr;
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
    QAction* actFind = nullptr;    // Ctrl+F: to the search field
    QAction* actOpen = nullptr;    // Ctrl+O: content files through the file dialog
    QAction* actImport = nullptr;  // beside Open…: a folder into My Winks
    QAction* actRemove = nullptr;  // Delete in the tree: an item of My Winks
    QMenu* mnuLibrary = nullptr;   // the tree's menu on an item of My Winks
    TApplicationEvents* ApplicationEvents1 = nullptr;

    // ---- the workflows, children of the window --------------------------------------------------
    TCatalogueUpgrade* upgrade_ = nullptr;
    TInstallQueue* installs_ = nullptr;
    TContentFileInstall* fileInstall_ = nullptr;
    std::unique_ptr<TWinkLibrary> library_;
    TLibraryImport* import_ = nullptr;

    // ---- what the creator gave, and the window's own state --------------------------------------
    TGlobal& Global;
    platform::TPlatform platform_;
    const platform::TRemoteRoots roots_;
    const std::string downloadBaseUrl_;  // content root + "/download/"
    const std::string fileArgument_;
    const std::uint16_t serverPort_;
    platform::TInstancePresence presence_;  // stands for the window class "Zephyrine"
    bool shown_ = false;
    bool installOffered_ = true;  // Install may be enabled: an item was chosen, or a command ended
    bool closeAfterUpgrade_ = false;  // a close arrived while the update ran
    TOpenFilesDialog openFilesDialog_;
    TFolderDialog importFolderDialog_;
    std::deque<std::string> openQueue_;  // files chosen with Open… not yet started
};

}  // namespace zephyrine::app
