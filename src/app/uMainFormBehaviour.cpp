// TfrmMainForm's wiring: the event bindings, the rule of what may run while a command is under
// way, the commands as calls into their units, dropped files and Escape, showing and resizing,
// the preview of an item, Close, Support and the about box.
#include "app/uAbout.h"
#include "app/uMainForm.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QUrl>

#include <functional>

namespace zephyrine::app {

using platform::TMsgIcon;

namespace {

// A skin larger than this is not a style sheet.
constexpr qint64 kMaxSkinBytes = 1024 * 1024;
constexpr int kCheckedStateIndex = 2;

// Hands the events of one object to a function; true from it drops the event.
class TEventHook : public QObject {
  public:
    using THandler = std::function<bool(QEvent*)>;
    TEventHook(QObject* watched, THandler handler)
        : QObject(watched), handler_(std::move(handler)) {
        watched->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override { return handler_(event); }

  private:
    THandler handler_;
};

}  // namespace

QString ReadSkin(const std::string& skinPath) {
    QFile file(QString::fromStdString(skinPath));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSkinBytes) return {};
    return QString::fromUtf8(file.readAll());
}

void TfrmMainForm::createEventBindings() {
    // Guarded: what a handler throws goes to the application's error box, never to Qt.
    const auto guarded = [this](void (TfrmMainForm::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& e) {
                ApplicationHandleException(e);
            }
        };
    };
    // A click in the tree: the left button released over it, on an item or not.
    new TEventHook(treWinksList->viewport(), [this, guarded](QEvent* event) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            QMetaObject::invokeMethod(this, guarded(&TfrmMainForm::treWinksListClick),
                                      Qt::QueuedConnection);
        return false;
    });
    connect(actInstall, &QAction::triggered, this, guarded(&TfrmMainForm::actInstallExecute));
    connect(actInstallChe, &QAction::triggered, this, guarded(&TfrmMainForm::actInstallCheExecute));
    connect(actUpgrade, &QAction::triggered, this, guarded(&TfrmMainForm::actUpgradeExecute));
    connect(actAbout, &QAction::triggered, this, guarded(&TfrmMainForm::actAboutExecute));
    connect(btnClose, &QPushButton::clicked, this, guarded(&TfrmMainForm::btnCloseClick));
    connect(btnSupport, &QPushButton::clicked, this, guarded(&TfrmMainForm::btnSupportClick));
    connect(actOpen, &QAction::triggered, this, guarded(&TfrmMainForm::actOpenExecute));
    connect(actImport, &QAction::triggered, this, guarded(&TfrmMainForm::actImportExecute));
    connect(actRemove, &QAction::triggered, this, guarded(&TfrmMainForm::actRemoveExecute));

    // Find: Ctrl+F to the field, its text to the filter, Escape in it clears it.
    connect(actFind, &QAction::triggered, this, [this] {
        edtFind->setFocus(Qt::ShortcutFocusReason);
        edtFind->selectAll();
    });
    connect(edtFind, &QLineEdit::textChanged, treWinksListFilter, &TCatalogueFilter::SetText);
    new TEventHook(edtFind, [this](QEvent* event) {
        if (event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || edtFind->text().isEmpty())
            return false;
        edtFind->clear();
        return true;
    });
    connect(treWinksListFilter, &TCatalogueFilter::CountsChanged, this, [this] {
        lblShown->setText(treWinksListFilter->CountText());
        lblShown->setVisible(treWinksListFilter->Active());
    });
}

// ---- What may run while a command is under way --------------------------------------------------
//
// The update's requests pump the event loop (CatalogueUpgrade), and an install waits for the
// messenger's completion event (InstallQueue); the window stays live through both, so any
// handler could otherwise run inside another. The rule, kept here and nowhere else:
//  - While an update runs, an install is pending, a folder is imported or the file the program
//    was started with is still unpacked, no command starts:
//    Install, Install Checked, Upgrade, Open…, Import folder…, Remove and a dropped content
//    file or folder are refused (StartCommand), and the actions are shown disabled
//    (UpdateActions). A drag over the window is refused meanwhile. The files chosen with
//    Open… wait in openQueue_ and start one at a time, each when nothing is under way.
//  - A click in the tree, or the tree's menu, still previews and chooses an item, but never
//    enables Install while either is under way (OfferInstall).
//  - About, Support and the preview pane work as ever.
//  - Escape aborts the update's running request or stops the import; a close waits until the
//    update has unwound and then closes the window (closeEvent).
// When the update, the last install or the import ends, the actions are enabled again.

bool TfrmMainForm::Busy() const {
    return upgrade_->Running() || installs_->Pending() || import_->Running() ||
           fileInstall_->Opening();
}

void TfrmMainForm::StartCommand(const std::function<void()>& command) {
    if (Busy()) return;
    command();
    UpdateActions();
}

void TfrmMainForm::UpdateActions() {
    const bool idle = !Busy();
    actInstall->setEnabled(idle && installOffered_);
    actUpgrade->setEnabled(idle);
    actInstallChe->setEnabled(idle);
    actOpen->setEnabled(idle && openQueue_.empty());
    actImport->setEnabled(idle && openQueue_.empty());
    actRemove->setEnabled(idle);
}

void TfrmMainForm::OfferInstall(bool offered) {
    installOffered_ = offered;
    UpdateActions();
}

// ---- the commands -------------------------------------------------------------------------------

void TfrmMainForm::treWinksListClick() {
    const QModelIndex node = SelectedNode();
    const bool item = TWinksTreeModel::IsItem(node);
    const std::string copy = LibraryCopy(node);
    if (!copy.empty()) {  // an item of My Winks: previewed from its kept copy
        FCurrentItem = treWinksListModel->ItemElement(node);
        UnpackAndPreview(copy);
    } else if (item) {
        PreviewItem(treWinksListModel->ItemElement(node));  // throws: Install stays as it was
    } else {                                                // nothing selected, or a category
        FCurrentItem = platform::TXMLNode();
    }
    OfferInstall(item);
}

// The selected node is the item to install: the one clicked, or the one the tree's menu was
// opened on.
void TfrmMainForm::actInstallExecute() {
    StartCommand([this] {
        const QModelIndex node = SelectedNode();
        if (!TWinksTreeModel::IsItem(node)) {
            ShowMessage("Please select a Wink in the list.", TMsgIcon::Information);
            return;
        }
        if (const std::string copy = LibraryCopy(node); !copy.empty()) {
            try {  // through the embedded server, as a content file is
                InstallFileThroughServer("", copy);
            } catch (const std::exception& e) {
                ShowMessage(e.what(), TMsgIcon::Error);
            }
            return;
        }
        std::string url;
        try {
            url = treWinksListModel->ItemElement(node).AttributeValue("DownloadUrl").Text();
        } catch (const std::exception&) {
            return;  // an item without "DownloadUrl": nothing to hand over, no message
        }
        installs_->InstallOne(
            {downloadBaseUrl_ + url, treWinksListModel->Caption(node).toStdString(), {}});
    });
}

void TfrmMainForm::actInstallCheExecute() {
    StartCommand([this] {
        std::vector<TInstallJob> jobs;
        try {
            // Every node in tree order: each category followed by its items.
            // The catalogue's categories only: My Winks is never checked.
            for (int c = 0; c < treWinksListModel->CatalogueCategoryCount(); ++c) {
                for (int i = 0; i < treWinksListModel->ItemCount(c); ++i) {
                    const QModelIndex item = treWinksListModel->ItemIndex(c, i);
                    if (treWinksListModel->StateIndex(item) != kCheckedStateIndex) continue;
                    const platform::TXMLNode element = treWinksListModel->ItemElement(item);
                    jobs.push_back({downloadBaseUrl_ + element.AttributeValue("DownloadUrl").Text(),
                                    treWinksListModel->Caption(item).toStdString(),
                                    {}});
                }
            }
        } catch (const std::exception&) {
            return;  // an unreadable attribute ends the command without a message
        }
        if (jobs.empty()) {
            ShowMessage("Please select a section to install before.", TMsgIcon::Information);
            return;
        }
        installs_->InstallAll(std::move(jobs));
    });
}

void TfrmMainForm::MsnInstallerContentInstalled(std::int32_t lhrResult) {
    installs_->MsnInstallerContentInstalled(lhrResult);
}

void TfrmMainForm::actUpgradeExecute() {
    StartCommand([this] { upgrade_->Run(FItemCount); });
    if (closeAfterUpgrade_ && !upgrade_->Running()) {
        closeAfterUpgrade_ = false;
        close();
    }
}

void TfrmMainForm::AbortUpgrade() {
    upgrade_->Abort();
}

void TfrmMainForm::UnpackAndPreview(const std::string& file) {
    fileInstall_->UnpackAndPreview(file);
}

void TfrmMainForm::InstallFileThroughServer(const std::string& name, const std::string& file) {
    fileInstall_->InstallFileThroughServer(name, file);
}

// A new single install, like the others: the commands wait for its completion.
void TfrmMainForm::OpenDroppedFile(const std::string& file) {
    StartCommand([this, &file] {
        AddToLibrary(file);
        UnpackAndPreview(file);
        try {
            InstallFileThroughServer("", file);
        } catch (const std::exception& e) {
            ShowMessage(e.what(), TMsgIcon::Error);
        }
    });
}

void TfrmMainForm::actOpenExecute() {
    if (Busy() || !openQueue_.empty() || !openFilesDialog_) return;
    for (const QString& file : openFilesDialog_(this))
        openQueue_.push_back(file.toStdString());
    OpenNextQueued();
}

// A file whose install could not start (reported already) does not hold up the rest.
void TfrmMainForm::OpenNextQueued() {
    while (!openQueue_.empty() && !Busy()) {
        const std::string file = openQueue_.front();
        openQueue_.pop_front();
        OpenDroppedFile(file);
    }
    UpdateActions();
}

void TfrmMainForm::actImportExecute() {
    if (Busy() || !openQueue_.empty() || !importFolderDialog_) return;
    const QString folder = importFolderDialog_(this);
    if (!folder.isEmpty()) ImportFolder(folder.toStdString());
}

void TfrmMainForm::ImportFolder(const std::string& folder) {
    StartCommand([this, &folder] {
        if (import_->Start(folder)) SetStatusText(QStringLiteral("Importing into My Winks.."));
    });
}

void TfrmMainForm::ImportFinished(int added, int notCabinet, int duplicates, int unreadable) {
    prgUpgrade->hide();
    SetStatusText(QString("%1 Winks added to My Winks%2: %3 not content files, %4 kept already, "
                          "%5 unreadable.")
                      .arg(added)
                      .arg(import_->Cancelled() ? QStringLiteral(" (stopped)") : QString())
                      .arg(notCabinet)
                      .arg(duplicates)
                      .arg(unreadable));
    installOffered_ = true;
    UpdateActions();
    QMetaObject::invokeMethod(this, &TfrmMainForm::OpenNextQueued, Qt::QueuedConnection);
}

void TfrmMainForm::actRemoveExecute() {
    StartCommand([this] {
        const QModelIndex node = SelectedNode();
        if (LibraryCopy(node).empty()) return;
        const platform::TXMLNode element = treWinksListModel->ItemElement(node);
        const std::string name = element.AttributeValue("WinkName").Text();
        if (!platform_.MessageBox || !platform_.MessageBox->Confirm(
                                         this, "Remove \"" + name + "\" from My Winks?", kAppTitle))
            return;
        try {
            library_->Remove(element.AttributeValue("File").Text());
        } catch (const ELibraryError& e) {
            ShowMessage(e.what(), TMsgIcon::Error);
            return;
        }
        if (FCurrentItem == element) FCurrentItem = platform::TXMLNode();
        ShowLibrary();
    });
}

void TfrmMainForm::closeEvent(QCloseEvent* event) {
    if (upgrade_->Running()) {
        closeAfterUpgrade_ = true;
        upgrade_->Abort();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// ---- the application-event hook -----------------------------------------------------------------

bool TfrmMainForm::IsOwnWidget(QObject* receiver) const {
    auto* widget = qobject_cast<QWidget*>(receiver);
    return widget != nullptr && (widget == this || isAncestorOf(widget));
}

// One local folder, while no command is under way; "" otherwise.
std::string TfrmMainForm::DroppedFolder(const QMimeData* data) const {
    if (data == nullptr || Busy() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) return {};
    const QString folder = url.toLocalFile();
    return QFileInfo(folder).isDir() ? folder.toStdString() : std::string();
}

// One local .mca or .mco file, while no command is under way; "" otherwise.
std::string TfrmMainForm::DroppedContentFile(const QMimeData* data) const {
    if (data == nullptr || Busy() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) return {};
    const std::string file = url.toLocalFile().toStdString();
    const std::string ext = UpperFileExtension(file);
    return ext == ".MCA" || ext == ".MCO" ? file : std::string();
}

bool TfrmMainForm::RouteContentFileDrag(QObject* receiver, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    if (!IsOwnWidget(receiver)) return false;
    // Every drag over the window ends here, so that the preview's web view never opens a
    // dropped file itself.
    auto* drop = static_cast<QDropEvent*>(event);
    const std::string file = DroppedContentFile(drop->mimeData());
    const std::string folder = file.empty() ? DroppedFolder(drop->mimeData()) : std::string();
    if (file.empty() && folder.empty()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (type == QEvent::Drop && !folder.empty()) {
        QMetaObject::invokeMethod(
            this, [this, folder] { ImportFolder(folder); }, Qt::QueuedConnection);
    } else if (type == QEvent::Drop) {
        // Once the drop has been answered: the unpack blocks, and the source waits for us.
        QMetaObject::invokeMethod(
            this, [this, file] { OpenDroppedFile(file); }, Qt::QueuedConnection);
    }
    return true;
}

// Escape while an update's request or a folder import runs stops it.
bool TfrmMainForm::RouteUpgradeEscape(QObject* receiver, QEvent* event) {
    if ((!upgrade_->RequestRunning() && !import_->Running()) || event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || !IsOwnWidget(receiver))
        return false;
    if (import_->Running()) {
        import_->Cancel();
    } else {
        upgrade_->Abort();
    }
    return true;
}

// ---- the rest ----------------------------------------------------------------------------------

void TfrmMainForm::ApplicationHandleException(const std::exception& e) {
    ShowMessage(e.what(), platform::TMsgIcon::Error);
}

void TfrmMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_ && !event->spontaneous()) {
        shown_ = true;
        FormShow();
    }
}

void TfrmMainForm::FormShow() {
    const QString sheet = ReadSkin(Global.SkinPath);
    if (!sheet.isEmpty()) setStyleSheet(sheet);
}

void TfrmMainForm::FormResize() {
    if (flsPreview == nullptr) return;
    if (QWidget* focused = focusWidget()) focused->clearFocus();
    flsPreview->setFocus(Qt::OtherFocusReason);
}

void TfrmMainForm::PreviewItem(const platform::TXMLNode& item) {
    fileInstall_->DropPendingPreview();  // the item clicked is shown, not an earlier file
    FCurrentItem = item;
    SetStatusText("Previewing..");
    PlayMovie(Global.PreviewBaseUrl + item.AttributeValue("SwfUrl").Text());
}

void TfrmMainForm::PlayMovie(const std::string& movie) {
    if (flsPreviewControl == nullptr) return;  // a window without a player shows nothing
    flsPreviewControl->SetMovie(movie);
    flsPreviewControl->Play();
}

void TfrmMainForm::btnCloseClick() {
    close();
}

void TfrmMainForm::btnSupportClick() {
    if (platform_.Shell) platform_.Shell->OpenUrl(kSupportPage);
}

// Modal without a nested event loop: the box takes all input until it closes, and is released
// then.
void TfrmMainForm::actAboutExecute() {
    auto* about = new TFrmAbout(this, platform_.Shell.get(), Global.SkinPath);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    about->show();
}

}  // namespace zephyrine::app
