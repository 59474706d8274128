#include "app/uMainForm.h"

#include "app/BusyCursor.h"
#include "app/CatalogueUpdate.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <pugixml.hpp>

#include <exception>

namespace zephyrine::app {

using platform::TMsgIcon;

namespace {

// The design size of Panel3 (618 - 185) and btnInstallChe's distance from its right edge.
constexpr int kPanel3DesignWidth = 618 - 185;
constexpr int kInstallCheRightGap = kPanel3DesignWidth - (130 + 80);
// The row of the search field and the Open… button above the tree.
constexpr int kFindRowHeight = 22;
// My Winks, inside the per-user data folder.
constexpr const char* kLibraryFolder = "MyWinks/";

// A button showing an action: enabled state (and, when takeCaption, caption) follow the action,
// a click triggers it.
void ShowAction(QPushButton* button, QAction* action, bool takeCaption) {
    auto update = [button, action, takeCaption] {
        button->setEnabled(action->isEnabled());
        if (takeCaption) button->setText(action->text());
    };
    update();
    QObject::connect(action, &QAction::changed, button, update);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

}  // namespace

void TApplicationEvents::SetOnMessage(THandler handler) {
    onMessage_ = std::move(handler);
}

bool TApplicationEvents::eventFilter(QObject* receiver, QEvent* event) {
    return onMessage_ ? onMessage_(receiver, event) : false;
}

// ---- creation ---------------------------------------------------------------------------------

TfrmMainForm::TfrmMainForm(TGlobal& global, platform::TPlatform platform,
                           platform::TRemoteRoots roots, std::string fileArgument,
                           std::uint16_t serverPort, QWidget* parent)
    : QMainWindow(parent),
      Global(global),
      platform_(std::move(platform)),
      roots_(std::move(roots)),
      downloadBaseUrl_(DownloadBaseUrlFor(roots_.ContentRoot)),
      fileArgument_(std::move(fileArgument)),
      serverPort_(serverPort) {
    createWindow();
    createActions();
    createStatusBar();
    createTreePanel();
    createTreePopupMenu();
    createPreviewPanel();
    createButtonBar();
    createUnits();
    createEventBindings();
    centreOnScreen();
    FormCreate();
}

TfrmMainForm::~TfrmMainForm() {
    // No hook may reach the window once it is being destroyed: the children go after this body,
    // and the events their deletion causes would otherwise call into a half-destroyed window.
    if (ApplicationEvents1 != nullptr) {
        qApp->removeEventFilter(ApplicationEvents1);
        ApplicationEvents1->SetOnMessage(nullptr);
    }
    if (Panel3 != nullptr) Panel3->removeEventFilter(this);
    // The units go first, while the window they report to is whole: a completion that arrives
    // as the installer stops must find a window to tell. The file install refers to the
    // queue and to FServer, so it goes before both.
    delete import_;
    delete fileInstall_;
    delete installs_;
    delete upgrade_;
}

void TfrmMainForm::createWindow() {
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setFont(QFont("MS Sans Serif", 8));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));  // face colour of buttons
    setPalette(face);
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    setCentralWidget(central);
    resize(618, 375);      // the client area: the frame is outside
    setAcceptDrops(true);  // content files dropped on the window
}

void TfrmMainForm::createActions() {
    auto make = [this](const char* caption) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setProperty("category", "Opt");
        return action;
    };
    actInstall = make("&Install For MSN");
    actInstall->setObjectName("actInstall");
    actInstallChe = make("Install &Checked");
    actInstallChe->setObjectName("actInstallChe");
    actUpgrade = make("&Upgrade");
    actUpgrade->setObjectName("actUpgrade");
    actHelp = make("&Help");
    actHelp->setObjectName("actHelp");
    actHelp->setEnabled(false);  // no handler, so shown disabled
    actAbout = make("&About");
    actAbout->setObjectName("actAbout");
    actFind = new QAction(QStringLiteral("&Find"), this);
    actFind->setObjectName("actFind");
    actFind->setShortcut(QKeySequence::Find);
    actFind->setShortcutContext(Qt::WindowShortcut);
    addAction(actFind);
    actOpen = new QAction(QStringLiteral("&Open…"), this);
    actOpen->setObjectName("actOpen");
    actOpen->setShortcut(QKeySequence::Open);
    actOpen->setShortcutContext(Qt::WindowShortcut);
    actOpen->setToolTip(QStringLiteral("Open Wink content files (Ctrl+O)"));
    actOpen->setIconText(QStringLiteral("…"));  // the button's caption, kept on every change
    addAction(actOpen);
    actImport = new QAction(QStringLiteral("Import &folder…"), this);
    actImport->setObjectName("actImport");
    importFolderDialog_ = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Import folder"));
    };
    actRemove = new QAction(QStringLiteral("&Remove"), this);
    actRemove->setObjectName("actRemove");
    actRemove->setShortcut(QKeySequence::Delete);
    actRemove->setShortcutContext(Qt::WidgetShortcut);
    openFilesDialog_ = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, QStringLiteral("Open"), QString(),
                                             QStringLiteral("Wink content files (*.mca *.mco)"));
    };
}

void TfrmMainForm::createStatusBar() {
    staOptState = new QStatusBar(this);
    staOptState->setObjectName("staOptState");
    staOptState->setFixedHeight(19);
    staOptState->setSizeGripEnabled(true);
    staOptStatePanel = new QLabel(staOptState);
    staOptStatePanel->setObjectName("staOptStatePanel");
    staOptState->addWidget(staOptStatePanel, 1);  // one panel, spanning the bar
    lblShown = new QLabel(staOptState);
    lblShown->setObjectName("lblShown");
    lblShown->hide();
    staOptState->addPermanentWidget(lblShown);
    prgUpgrade = new QProgressBar(staOptState);
    prgUpgrade->setObjectName("prgUpgrade");
    prgUpgrade->setFixedSize(150, 15);
    prgUpgrade->setTextVisible(false);
    prgUpgrade->hide();
    staOptState->addPermanentWidget(prgUpgrade);
    setStatusBar(staOptState);
}

void TfrmMainForm::createTreePanel() {
    Panel1 = new QWidget(centralWidget());
    Panel1->setObjectName("Panel1");
    Panel1->setFixedWidth(185);
    auto* fill = new QVBoxLayout(Panel1);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->setSpacing(0);

    edtFind = new QLineEdit(Panel1);
    edtFind->setObjectName("edtFind");
    edtFind->setClearButtonEnabled(true);
    edtFind->setPlaceholderText(QStringLiteral("Find"));
    edtFind->setFixedHeight(kFindRowHeight);
    btnOpen = new QToolButton(Panel1);
    btnOpen->setObjectName("btnOpen");
    btnOpen->setDefaultAction(actOpen);
    btnOpen->setAutoRaise(true);
    btnOpen->setFixedHeight(kFindRowHeight);
    btnOpen->setPopupMode(QToolButton::MenuButtonPopup);
    auto* openMenu = new QMenu(btnOpen);
    openMenu->addAction(actOpen);
    openMenu->addAction(actImport);
    btnOpen->setMenu(openMenu);
    auto* findRow = new QHBoxLayout;
    findRow->setContentsMargins(0, 0, 0, 0);
    findRow->setSpacing(0);
    findRow->addWidget(edtFind, 1);
    findRow->addWidget(btnOpen);
    fill->addLayout(findRow);

    treWinksList = new QTreeView(Panel1);
    treWinksList->setObjectName("treWinksList");
    treWinksListModel = new TWinksTreeModel(ImageList1, treWinksList);
    treWinksListModel->setObjectName("treWinksListModel");
    treWinksList->setModel(treWinksListModel);
    treWinksList->setHeaderHidden(true);
    treWinksList->setEditTriggers(QAbstractItemView::NoEditTriggers);  // read-only captions
    treWinksList->setIndentation(19);
    treWinksList->setIconSize(QSize(16, 16));
    treWinksList->setUniformRowHeights(true);
    treWinksList->setSortingEnabled(false);
    treWinksList->setSelectionMode(QAbstractItemView::SingleSelection);
    // The selection stays visible when the tree loses the focus.
    QPalette keep = treWinksList->palette();
    keep.setColor(QPalette::Inactive, QPalette::Highlight,
                  keep.color(QPalette::Active, QPalette::Highlight));
    keep.setColor(QPalette::Inactive, QPalette::HighlightedText,
                  keep.color(QPalette::Active, QPalette::HighlightedText));
    treWinksList->setPalette(keep);
    treWinksList->setContextMenuPolicy(Qt::CustomContextMenu);
    fill->addWidget(treWinksList);
    treWinksList->addAction(actRemove);  // Delete while the tree has the focus
    treWinksListFilter = new TCatalogueFilter(treWinksList, this);
    treWinksListFilter->setObjectName("treWinksListFilter");
    centralWidget()->layout()->addWidget(Panel1);
}

void TfrmMainForm::createTreePopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    PopupMenu1->addAction(actInstall);
    PopupMenu1->addAction(actInstallChe);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(actHelp);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(actAbout);
    mnuLibrary = new QMenu(this);
    mnuLibrary->setObjectName("mnuLibrary");
    mnuLibrary->addAction(actInstall);
    mnuLibrary->addSeparator();
    mnuLibrary->addAction(actRemove);
    // The right press has selected the node under the pointer: the menu's Install is for it.
    connect(treWinksList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        OfferInstall(TWinksTreeModel::IsItem(SelectedNode()));
        QMenu* menu = LibraryCopy(SelectedNode()).empty() ? PopupMenu1 : mnuLibrary;
        menu->popup(treWinksList->viewport()->mapToGlobal(pos));
    });
}

void TfrmMainForm::createPreviewPanel() {
    Panel2 = new QWidget(centralWidget());
    Panel2->setObjectName("Panel2");
    auto* rows = new QVBoxLayout(Panel2);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    if (platform_.CreateFlash) {
        flsPreviewControl = platform_.CreateFlash(Panel2);
        flsPreview = flsPreviewControl;
    }
    if (flsPreview == nullptr) flsPreview = new QWidget(Panel2);  // empty placeholder
    flsPreview->setObjectName("flsPreview");
    flsPreview->setFocusPolicy(Qt::StrongFocus);
    flsPreview->setMinimumSize(0, 0);
    rows->addWidget(flsPreview, 1);
    qobject_cast<QHBoxLayout*>(centralWidget()->layout())->addWidget(Panel2, 1);
}

void TfrmMainForm::createButtonBar() {
    Panel3 = new QWidget(Panel2);
    Panel3->setObjectName("Panel3");
    Panel3->setFixedHeight(44);
    Panel2->layout()->addWidget(Panel3);

    auto make = [this](const char* name, int left, int top, int width, const char* caption,
                       const char* hint) {
        auto* button = new QPushButton(QString::fromUtf8(caption), Panel3);
        button->setObjectName(name);
        button->setGeometry(left, top, width, 25);
        button->setToolTip(QString::fromUtf8(hint));  // hints shown on hover
        return button;
    };
    btnInstall = make("btnInstall", 5, 10, 80, "&Install to MSN", "Install into MSN Messenger ");
    btnUpgrade = make("btnUpgrade", 91, 10, 80, "&Upgrade", "Update Winks Database");
    btnAbout = make("btnAbout", 178, 10, 79, "&About", "About Zephyrine");
    btnSupport = make("btnSupport", 264, 10, 80, "&Support", "Support");
    btnClose = make("btnClose", 349, 10, 80, "&Close", "Close");
    btnInstallChe = make("btnInstallChe", 130, -6, 80, "Install &Checked",
                         "Install Checked into MSN Messenger ");
    btnInstallChe->hide();
    ShowAction(btnInstall, actInstall, false);
    ShowAction(btnUpgrade, actUpgrade, true);
    ShowAction(btnAbout, actAbout, true);
    ShowAction(btnInstallChe, actInstallChe, true);
    Panel3->installEventFilter(this);
}

void TfrmMainForm::createUnits() {
    library_ = std::make_unique<TWinkLibrary>(Global.DataFolder + kLibraryFolder);
    import_ = new TLibraryImport(*library_, this);
    connect(import_, &TLibraryImport::Progress, this, [this](int done, int total) {
        prgUpgrade->setVisible(true);
        ShowProgress(done, total);  // total 0: busy while the folder is walked
    });
    connect(import_, &TLibraryImport::ItemAdded, this, [this] { ShowLibrary(); });
    connect(import_, &TLibraryImport::Failed, this, [this](const QString& message) {
        ShowMessage(message.toStdString(), TMsgIcon::Error);
    });
    connect(import_, &TLibraryImport::Finished, this, &TfrmMainForm::ImportFinished);
    installs_ = new TInstallQueue(platform_.CreateInstaller, this);
    upgrade_ = new TCatalogueUpgrade(Global, roots_.CatalogueRoot, this);
    connect(installs_, &TInstallQueue::StatusText, this, &TfrmMainForm::SetStatusText);
    connect(installs_, &TInstallQueue::HandOverFailed, this, [this](const QString& reason) {
        ShowMessage(reason.toStdString(), TMsgIcon::Information);
    });
    connect(installs_, &TInstallQueue::PendingChanged, this, [this](bool pending) {
        if (!pending) installOffered_ = true;  // a command that ends enables Install again
        UpdateActions();
        // Once the queue has settled after its completion: the next file chosen with Open….
        if (!pending)
            QMetaObject::invokeMethod(this, &TfrmMainForm::OpenNextQueued, Qt::QueuedConnection);
    });
    connect(upgrade_, &TCatalogueUpgrade::StatusText, this, &TfrmMainForm::SetStatusText);
    connect(upgrade_, &TCatalogueUpgrade::Message, this, [this](const QString& text) {
        ShowMessage(text.toStdString(), TMsgIcon::Information);
    });
    connect(upgrade_, &TCatalogueUpgrade::CatalogueReplaced, this,
            [this](const platform::TXMLDocument& doc) { LoadWinksList(&doc); });
    connect(upgrade_, &TCatalogueUpgrade::ProgressShown, this, [this](bool shown) {
        prgUpgrade->setRange(0, 0);  // busy until a length is known
        prgUpgrade->reset();
        prgUpgrade->setVisible(shown);
    });
    connect(upgrade_, &TCatalogueUpgrade::Progress, this, &TfrmMainForm::ShowProgress);
    connect(upgrade_, &TCatalogueUpgrade::RunningChanged, this, [this](bool running) {
        if (!running) installOffered_ = true;
        UpdateActions();
        if (!running)
            QMetaObject::invokeMethod(this, &TfrmMainForm::OpenNextQueued, Qt::QueuedConnection);
    });
}

void TfrmMainForm::ShowProgress(int value, int maximum) {
    if (prgUpgrade->maximum() != maximum) prgUpgrade->setRange(0, maximum);
    if (value != prgUpgrade->value()) prgUpgrade->setValue(value);
}

void TfrmMainForm::centreOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

bool TfrmMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel3 && event->type() == QEvent::Resize) layoutButtonBar();
    return QMainWindow::eventFilter(watched, event);
}

// btnInstallChe is anchored top-right: it keeps its distance from Panel3's right edge.
void TfrmMainForm::layoutButtonBar() {
    if (Panel3 == nullptr) return;
    const int width = Panel3->width() > 0 ? Panel3->width() : kPanel3DesignWidth;
    btnInstallChe->move(width - kInstallCheRightGap - btnInstallChe->width(), -6);
}

// ---- FormCreate -------------------------------------------------------------------------------

// Double buffering needs no step: Qt paints every widget double-buffered already. The install
// queue was made empty with the units.
void TfrmMainForm::FormCreate() {
    try {
        createServer();
        hookApplicationEvents();
        LoadWinksList();
        ensureFileAssociation();
        handleFileArgument();
    } catch (const std::exception& e) {
        // The application's error box; the remaining steps are skipped, the window opens.
        ShowMessage(e.what(), TMsgIcon::Error);
    }
}

void TfrmMainForm::createServer() {
    // Log deliveries run on this thread, as queued calls; they die with the window.
    FServer = std::make_unique<server::TCustomWebServer>([this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    });
    FServer->SetListenPort(serverPort_);
    FServer->SetDefaultTarget("");
    FServer->SetSearchFolders(Global.DataFolder + kPackFolder);
    fileInstall_ =
        new TContentFileInstall(Global, *FServer, *installs_, platform_.UrlCache.get(), this);
    connect(fileInstall_, &TContentFileInstall::StatusText, this, &TfrmMainForm::SetStatusText);
    connect(fileInstall_, &TContentFileInstall::PreviewMovie, this,
            [this](const QString& movie) { PlayMovie(movie.toStdString()); });
}

void TfrmMainForm::hookApplicationEvents() {
    ApplicationEvents1 = new TApplicationEvents(this);
    ApplicationEvents1->SetOnMessage([this](QObject* receiver, QEvent* event) {
        return ApplicationEvents1Message(receiver, event);
    });
    qApp->installEventFilter(ApplicationEvents1);
}

// A right-button press over the preview pane, or any widget inside it, is dropped so that the
// player never opens a menu of its own; so is the context-menu request Qt makes of that press.
// Everything else passes.
bool TfrmMainForm::ApplicationEvents1Message(QObject* receiver, QEvent* event) {
    if (RouteContentFileDrag(receiver, event)) return true;
    if (RouteUpgradeEscape(receiver, event)) return true;
    if (event->type() == QEvent::MouseButtonPress) {
        if (static_cast<QMouseEvent*>(event)->button() != Qt::RightButton) return false;
    } else if (event->type() == QEvent::ContextMenu) {
        if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Mouse)
            return false;
    } else {
        return false;
    }
    QWidget* under = QApplication::widgetAt(QCursor::pos());
    return under != nullptr && flsPreview != nullptr &&
           (under == flsPreview || flsPreview->isAncestorOf(under));
}

// An association that cannot be written is reported; the file given to open is still handled.
void TfrmMainForm::ensureFileAssociation() {
    try {
        Global.EnsureFileAssociation();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), TMsgIcon::Error);
    }
}

// The unpack runs beside the window's first turns, so that the player starts meanwhile; the
// commands wait for it as for an install (Busy).
void TfrmMainForm::handleFileArgument() {
    if (fileArgument_.empty()) return;
    AddToLibrary(fileArgument_);
    fileInstall_->OpenInBackground("", fileArgument_, [this](std::exception_ptr failure) {
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                ShowMessage(e.what(), TMsgIcon::Error);
            }
        }
        UpdateActions();
    });
    UpdateActions();
}

// ---- The catalogue ----------------------------------------------------------------------------

void TfrmMainForm::LoadWinksList(const platform::TXMLDocument* parsed) {
    const auto busy = BusyCursor();
    const TCatalogueLoad load = LoadCatalogue(xmlWinksFile, Global.DataFolder + kCatalogueFileName,
                                              *treWinksListModel, parsed);
    FItemCount = load.ItemCount;
    // Under an active filter the view shows the filter, which expands what it shows itself.
    if (load.ExpandFirst && treWinksList->model() == treWinksListModel)
        treWinksList->expand(treWinksListModel->CategoryIndex(0));
    ShowLibrary();  // a load empties the tree, My Winks too
    if (!load.Ok) {
        ShowMessage("Load the Winks list failed.", TMsgIcon::None);
        return;
    }
    FCurrentItem = platform::TXMLNode();
    SetStatusText(QString::number(FItemCount) + " Winks of MSN Messenger in the list.");
}

// ---- My Winks ---------------------------------------------------------------------------------

// The tree reads its items from a document of the library's items, made here in memory. An
// empty library shows no category.
void TfrmMainForm::ShowLibrary() {
    if (library_->Items().empty()) {
        treWinksListModel->SetTrailingCategory(nullptr, {}, {});
        return;
    }
    auto doc = std::make_shared<pugi::xml_document>();
    pugi::xml_node category =
        doc->append_child(TWinkLibrary::kRootElement).append_child(TWinkLibrary::kCategoryElement);
    for (const TLibraryItem& item : library_->Items()) {
        pugi::xml_node wink = category.append_child("Wink");
        wink.append_attribute("WinkName") = item.Name.c_str();
        wink.append_attribute("File") = item.File.c_str();
    }
    treWinksListModel->SetTrailingCategory(std::move(doc), category,
                                           QString::fromUtf8(TWinkLibrary::kCategoryCaption));
}

std::string TfrmMainForm::LibraryCopy(const QModelIndex& node) const {
    if (!TWinksTreeModel::IsItem(node) || !treWinksListModel->InTrailingCategory(node)) return {};
    TLibraryItem item;
    item.File = treWinksListModel->ItemElement(node).AttributeValue("File").Text();
    return library_->CopyPath(item);
}

void TfrmMainForm::AddToLibrary(const std::string& file) {
    try {
        const TAddResult result = library_->Add(file);
        if (result.Outcome == TAddOutcome::Added) ShowLibrary();
        if (!result.Error.empty()) SetStatusText(QString::fromStdString(result.Error));
    } catch (const ELibraryError& e) {
        ShowMessage(e.what(), TMsgIcon::Error);
    }
}

// ---- helpers ----------------------------------------------------------------------------------

void TfrmMainForm::ShowMessage(const std::string& text, TMsgIcon icon) {
    if (platform_.MessageBox) platform_.MessageBox->Show(this, text, kAppTitle, icon);
}

void TfrmMainForm::SetStatusText(const QString& text) {
    staOptStatePanel->setText(text);
    if (platform_.OnStatusText) platform_.OnStatusText(text.toStdString());
}

QString TfrmMainForm::StatusText() const {
    return staOptStatePanel->text();
}

QModelIndex TfrmMainForm::SelectedNode() const {
    // The view shows the catalogue model or, while a text is set, the Find filter over it.
    const QModelIndexList selected = treWinksList->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : treWinksListFilter->SourceIndex(selected.first());
}

}  // namespace zephyrine::app
