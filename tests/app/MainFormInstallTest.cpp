// Installing catalogue items from the window, offscreen, with the real installer stand-in
// against a real HTTP server on loopback serving cabinets made by gcab.
#include "platform/MessengerContentInstaller.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace zephyrine;
using mediatest::TLocalHttpServer;
using platform::TMsgIcon;
using test::TTempDir;

namespace {

constexpr int kInstallTimeoutMs = 30000;

// Counts the hand-overs and passes them to the real installer.
class TCountingInstaller : public platform::IMessengerContentInstaller {
  public:
    explicit TCountingInstaller(std::shared_ptr<std::vector<std::string>> log)
        : log_(std::move(log)) {
        real_.OnContentInstalled = [this](std::int32_t hr) {
            if (OnContentInstalled) OnContentInstalled(hr);
        };
    }
    void InstallFromUrl(const std::string& url) override {
        log_->push_back(url);
        real_.InstallFromUrl(url);
    }

  private:
    std::shared_ptr<std::vector<std::string>> log_;
    platform::TMessengerContentInstaller real_;
};

class MainFormInstallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApp();
        site = std::make_unique<TTempDir>();
        std::filesystem::create_directories(site->Path() / "download");
        server = std::make_unique<TLocalHttpServer>(site->Path().string());
        data = std::make_unique<test::TScopedEnv>("XDG_DATA_HOME", app / "xdg-data");
        cache = std::make_unique<test::TScopedEnv>("XDG_CACHE_HOME", app / "xdg-cache");
        runtime = std::make_unique<test::TScopedEnv>("XDG_RUNTIME_DIR", app.Folder());
    }

    void MakePack(const std::string& name, const std::string& file) {
        TTempDir work;
        test::WriteFile(work / file, "content of " + file);
        ASSERT_EQ(mediatest::Run({"gcab", "-c", (site->Path() / "download" / name).string(), file},
                                 work.Path().string()),
                  0);
    }

    // A window over a catalogue of Animals (Foo, Bar, Baz) and Birds (Owl).
    void CreateWindow() {
        test::WriteFile(app / "WinksList.dat",
                        "<WinksList><Animals>"
                        "<Wink WinkName=\"Foo\" DownloadUrl=\"foo.cab\" SwfUrl=\"foo.swf\"/>"
                        "<Wink WinkName=\"Bar\" DownloadUrl=\"bar.cab\" SwfUrl=\"bar.swf\"/>"
                        "<Wink WinkName=\"Baz\" DownloadUrl=\"baz.cab\" SwfUrl=\"baz.swf\"/>"
                        "</Animals><Birds>"
                        "<Wink WinkName=\"Owl\" DownloadUrl=\"owl.cab\" SwfUrl=\"owl.swf\"/>"
                        "<Wink WinkName=\"NoPack\" SwfUrl=\"none.swf\"/>"
                        "</Birds></WinksList>");
        global = std::make_unique<app::TGlobal>(app.Folder(), server->Root());
        platform::TPlatform p;
        p.MessageBox = std::make_unique<test::TRecordingMessageBox>(messages);
        p.CreateInstaller = [this] {
            ++installersMade;
            return std::make_unique<TCountingInstaller>(handedOver);
        };
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{server->Root(), server->Root()});
        window->show();
        messages->clear();
    }

    QModelIndex Item(int category, int item) {
        return test::Parts(*window).treWinksListModel->ItemIndex(category, item);
    }

    // A user's click on a node (an invalid index clicks the empty space below the nodes).
    void Click(const QModelIndex& node) {
        QWidget* viewport = test::Parts(*window).treWinksList->viewport();
        if (node.isValid()) {
            if (node.parent().isValid()) test::Parts(*window).treWinksList->expand(node.parent());
            const QRect r = test::Parts(*window).treWinksList->visualRect(node);
            QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
        } else {
            test::Parts(*window).treWinksList->clearSelection();
            QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(5, viewport->height() - 3));
        }
        QApplication::processEvents();
    }

    void Check(const QModelIndex& item) {
        test::Parts(*window).treWinksListModel->setData(item, Qt::Checked, Qt::CheckStateRole);
    }

    bool ActionsEnabled() const {
        return test::Parts(*window).actInstall->isEnabled() &&
               test::Parts(*window).actUpgrade->isEnabled() &&
               test::Parts(*window).actInstallChe->isEnabled();
    }
    bool ActionsDisabled() const {
        return !test::Parts(*window).actInstall->isEnabled() &&
               !test::Parts(*window).actUpgrade->isEnabled() &&
               !test::Parts(*window).actInstallChe->isEnabled();
    }

    // Runs the event loop until the actions are enabled again.
    bool WaitUntilIdle() {
        return QTest::qWaitFor([&] { return ActionsEnabled(); }, kInstallTimeoutMs);
    }
    // Runs the event loop until every event posted so far has been handled: whatever the last
    // step set going has happened by then.
    static void Settle() {
        bool reached = false;
        QMetaObject::invokeMethod(qApp, [&] { reached = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return reached; }));
    }

    std::string Stored(const std::string& pack, const std::string& file) const {
        return platform::TMessengerContentInstaller::StoreFolder() + pack + "/" + file;
    }

    std::string Url(const std::string& file) const { return server->Root() + "/download/" + file; }

    TTempDir app;
    std::unique_ptr<TTempDir> site;
    std::unique_ptr<TLocalHttpServer> server;
    std::unique_ptr<test::TScopedEnv> data, cache, runtime;
    std::unique_ptr<app::TGlobal> global;
    std::shared_ptr<std::vector<test::TShownMessage>> messages =
        std::make_shared<std::vector<test::TShownMessage>>();
    std::shared_ptr<std::vector<std::string>> handedOver =
        std::make_shared<std::vector<std::string>>();
    int installersMade = 0;
    std::unique_ptr<app::TfrmMainForm> window;
};

TEST_F(MainFormInstallTest, InstallWithNothingOrACategorySelectedAsksForAWink) {
    CreateWindow();
    for (const QModelIndex& node :
         {QModelIndex(), test::Parts(*window).treWinksListModel->CategoryIndex(1)}) {
        if (node.isValid())
            Click(node);
        else
            test::Parts(*window).treWinksList->clearSelection();
        messages->clear();
        const bool before = test::Parts(*window).actUpgrade->isEnabled();
        window->actInstallExecute();
        ASSERT_EQ(messages->size(), 1u);
        EXPECT_EQ((*messages)[0].Text, "Please select a Wink in the list.");
        EXPECT_EQ((*messages)[0].Caption, "Zephyrine");
        EXPECT_EQ((*messages)[0].Icon, TMsgIcon::Information);
        EXPECT_EQ(test::Parts(*window).actUpgrade->isEnabled(), before)
            << "the action states do not change";
    }
    EXPECT_TRUE(handedOver->empty());
    EXPECT_EQ(installersMade, 0) << "the installer is not connected before the first hand-over";
}

TEST_F(MainFormInstallTest, ClickMakesTheItemCurrentAndACategoryClearsIt) {
    CreateWindow();
    Click(Item(0, 1));
    EXPECT_TRUE(window->CurrentItem() ==
                test::Parts(*window).treWinksListModel->ItemElement(Item(0, 1)));
    EXPECT_TRUE(test::Parts(*window).actInstall->isEnabled());
    EXPECT_EQ(window->StatusText(), "Previewing..");
    Click(test::Parts(*window).treWinksListModel->CategoryIndex(0));
    EXPECT_TRUE(window->CurrentItem().IsNull());
    EXPECT_FALSE(test::Parts(*window).actInstall->isEnabled());
    Click(Item(1, 0));
    Click(QModelIndex());
    EXPECT_TRUE(window->CurrentItem().IsNull());
    EXPECT_FALSE(test::Parts(*window).actInstall->isEnabled());
}

TEST_F(MainFormInstallTest, SingleInstallOfFoo) {
    MakePack("foo.cab", "foo.xml");
    CreateWindow();
    Click(Item(0, 0));
    test::Parts(*window).actInstall->trigger();
    EXPECT_TRUE(ActionsDisabled()) << "the commands wait for the completion";
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(window->StatusText(), "Foo installed successfully.");
    EXPECT_EQ(*handedOver, std::vector<std::string>{Url("foo.cab")});
    EXPECT_EQ(test::ReadFile(Stored("foo", "foo.xml")), "content of foo.xml");
    EXPECT_TRUE(messages->empty());
    EXPECT_FALSE(window->Installs().QueueMode());
}

TEST_F(MainFormInstallTest, QueueOfThreeInTreeOrderOneAtATime) {
    MakePack("foo.cab", "foo.xml");
    MakePack("baz.cab", "baz.xml");
    MakePack("owl.cab", "owl.xml");
    CreateWindow();
    // Checked out of tree order; the owl's category is collapsed.
    Check(Item(1, 0));
    Check(Item(0, 2));
    Check(Item(0, 0));
    test::Parts(*window).actInstallChe->trigger();
    EXPECT_EQ(window->Installs().InstallTotal(), 3);
    EXPECT_EQ(handedOver->size(), 1u) << "the next is handed over only after a success";
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(*handedOver,
              (std::vector<std::string>{Url("foo.cab"), Url("baz.cab"), Url("owl.cab")}));
    EXPECT_EQ(window->StatusText(),
              "Total 3 Winks of MSN Messenger have been installed successfully.");
    for (const char* pack : {"foo", "baz", "owl"})
        EXPECT_TRUE(std::filesystem::exists(Stored(pack, std::string(pack) + ".xml"))) << pack;
    EXPECT_TRUE(messages->empty());
    EXPECT_EQ(installersMade, 1) << "one installer, kept";
}

TEST_F(MainFormInstallTest, FailureInTheQueueStopsItSilently) {
    MakePack("foo.cab", "foo.xml");
    MakePack("baz.cab", "baz.xml");  // bar.cab, the second, is missing on the server
    CreateWindow();
    Check(Item(0, 0));
    Check(Item(0, 1));
    Check(Item(0, 2));
    const QString before = window->StatusText();
    test::Parts(*window).actInstallChe->trigger();
    ASSERT_TRUE(WaitUntilIdle());
    Settle();  // nothing more may come
    EXPECT_EQ(*handedOver, (std::vector<std::string>{Url("foo.cab"), Url("bar.cab")}));
    EXPECT_TRUE(messages->empty());
    EXPECT_EQ(window->StatusText(), before);
    EXPECT_FALSE(std::filesystem::exists(Stored("baz", "baz.xml")));
}

TEST_F(MainFormInstallTest, InstallCheckedWithNothingChecked) {
    CreateWindow();
    Check(Item(0, 0));
    test::Parts(*window).treWinksListModel->setData(Item(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->StateIndex(Item(0, 0)), 1);
    window->actInstallCheExecute();
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].Text, "Please select a section to install before.");
    EXPECT_EQ((*messages)[0].Icon, TMsgIcon::Information);
    EXPECT_TRUE(ActionsEnabled());
    EXPECT_TRUE(handedOver->empty());
}

TEST_F(MainFormInstallTest, FailedHandOverShowsTheErrorAndEnablesTheCommands) {
    MakePack("foo.cab", "foo.xml");
    CreateWindow();
    // The real installer cannot make its content store below a regular file.
    test::WriteFile(app / "plain-file", "x");
    test::TScopedEnv unusable("XDG_DATA_HOME", app / "plain-file");
    Check(Item(0, 0));
    Check(Item(0, 1));
    test::Parts(*window).actInstallChe->trigger();
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_NE((*messages)[0].Text.find("The messenger content store cannot be created"),
              std::string::npos)
        << (*messages)[0].Text;
    EXPECT_EQ((*messages)[0].Caption, "Zephyrine");
    EXPECT_EQ((*messages)[0].Icon, TMsgIcon::Information);
    EXPECT_TRUE(ActionsEnabled());
    Settle();
    EXPECT_EQ(handedOver->size(), 1u) << "the run stops";
    EXPECT_EQ(messages->size(), 1u);
}

// An item without "DownloadUrl" ends either command silently, and the commands stay usable.
TEST_F(MainFormInstallTest, UnreadableItemEndsTheCommandWithTheCommandsEnabled) {
    CreateWindow();
    Click(Item(1, 1));  // NoPack
    window->actInstallExecute();
    EXPECT_TRUE(messages->empty());
    EXPECT_TRUE(ActionsEnabled());
    Check(Item(1, 1));
    window->actInstallCheExecute();
    EXPECT_TRUE(messages->empty());
    EXPECT_TRUE(ActionsEnabled());

    // An item selected without a click (by keyboard after a reload) is the one installed.
    window->LoadWinksList();
    test::Parts(*window).treWinksList->setCurrentIndex(Item(0, 0));
    ASSERT_TRUE(window->CurrentItem().IsNull());
    window->actInstallExecute();
    EXPECT_TRUE(messages->empty());
    EXPECT_EQ(*handedOver, std::vector<std::string>{Url("foo.cab")});
    EXPECT_TRUE(WaitUntilIdle());
}

// The tree's menu installs the item it was opened on, under its own name, whatever was clicked
// before (here a category, which leaves no item current and Install disabled).
TEST_F(MainFormInstallTest, InstallFromTheMenuTakesTheItemItWasOpenedOn) {
    MakePack("bar.cab", "bar.xml");
    CreateWindow();
    Click(Item(0, 0));
    Click(test::Parts(*window).treWinksListModel->CategoryIndex(0));
    ASSERT_FALSE(test::Parts(*window).actInstall->isEnabled());
    QTreeView* tree = test::Parts(*window).treWinksList;
    const QRect bar = tree->visualRect(Item(0, 1));
    const QPoint at = tree->viewport()->mapToGlobal(QPoint(bar.right() - 4, bar.center().y()));
    QCursor::setPos(at);
    QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, window->mapFromGlobal(at));
    QApplication::processEvents();
    QMenu* menu = test::Parts(*window).PopupMenu1;
    ASSERT_TRUE(menu->isVisible());
    EXPECT_TRUE(test::Parts(*window).actInstall->isEnabled()) << "the menu offers Bar";
    test::Parts(*window).actInstall->trigger();
    menu->close();
    EXPECT_EQ(*handedOver, std::vector<std::string>{Url("bar.cab")});
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(window->StatusText(), "Bar installed successfully.");
    EXPECT_EQ(test::ReadFile(Stored("bar", "bar.xml")), "content of bar.xml");
}

// An installer whose completion comes when the test says.
class THeldInstaller : public platform::IMessengerContentInstaller {
  public:
    explicit THeldInstaller(std::shared_ptr<std::vector<std::string>> log) : log_(std::move(log)) {}
    void InstallFromUrl(const std::string& url) override { log_->push_back(url); }

  private:
    std::shared_ptr<std::vector<std::string>> log_;
};

// While an install or a queue waits for the messenger, a click in the tree previews but never
// enables Install, and no second install starts.
TEST_F(MainFormInstallTest, TreeClickWhileAnInstallIsPendingLeavesTheCommandsDisabled) {
    CreateWindow();
    platform::IMessengerContentInstaller* held = nullptr;
    window.reset();
    platform::TPlatform p;
    p.MessageBox = std::make_unique<test::TRecordingMessageBox>(messages);
    p.CreateInstaller = [&] {
        auto installer = std::make_unique<THeldInstaller>(handedOver);
        held = installer.get();
        return installer;
    };
    window = std::make_unique<app::TfrmMainForm>(
        *global, std::move(p), platform::TRemoteRoots{server->Root(), server->Root()});
    window->show();
    Check(Item(0, 0));
    Check(Item(0, 1));
    test::Parts(*window).actInstallChe->trigger();
    ASSERT_NE(held, nullptr);
    Click(Item(0, 2));
    EXPECT_EQ(window->StatusText(), "Previewing..");
    EXPECT_TRUE(ActionsDisabled());
    window->actInstallExecute();  // refused: the queue stays as it is
    held->OnContentInstalled(0);  // Foo: Bar follows
    Click(Item(1, 0));
    EXPECT_TRUE(ActionsDisabled());
    EXPECT_EQ(*handedOver, (std::vector<std::string>{Url("foo.cab"), Url("bar.cab")}));
    held->OnContentInstalled(0);
    EXPECT_TRUE(ActionsEnabled());
    EXPECT_EQ(window->StatusText(),
              "Total 2 Winks of MSN Messenger have been installed successfully.");
}

TEST_F(MainFormInstallTest, TreeItemsCarryCheckBoxesAtStateIndexTwo) {
    CreateWindow();
    const QModelIndex foo = Item(0, 0);
    EXPECT_TRUE(test::Parts(*window).treWinksListModel->flags(foo) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(test::Parts(*window).treWinksListModel->flags(
                     test::Parts(*window).treWinksListModel->CategoryIndex(0)) &
                 Qt::ItemIsUserCheckable);
    EXPECT_EQ(foo.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    // A user ticks the box with the mouse.
    const QRect r = test::Parts(*window).treWinksList->visualRect(foo);
    QStyleOptionViewItem option;
    option.initFrom(test::Parts(*window).treWinksList);
    option.rect = r;
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = test::Parts(*window).treWinksList->style()->subElementRect(
        QStyle::SE_ItemViewItemCheckIndicator, &option, test::Parts(*window).treWinksList);
    QTest::mouseClick(test::Parts(*window).treWinksList->viewport(), Qt::LeftButton, {},
                      box.center());
    QApplication::processEvents();
    EXPECT_EQ(test::Parts(*window).treWinksListModel->StateIndex(foo), 2);
    EXPECT_EQ(foo.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_FALSE(test::Parts(*window).btnInstallChe->isVisible());
    EXPECT_TRUE(
        test::Parts(*window).PopupMenu1->actions().contains(test::Parts(*window).actInstallChe));
}

}  // namespace

namespace {

QLineEdit* FindField(const app::TfrmMainForm& window) {
    return test::Child<QLineEdit>(window, "edtFind");
}

}  // namespace

// Find: typing shows only the matching items, the count text stays the catalogue's, checks made
// before or during the filter hold, and Install Checked takes what is checked, shown or not.
TEST_F(MainFormInstallTest, FindShowsMatchesKeepsChecksAndInstallCheckedTakesHiddenItems) {
    MakePack("foo.cab", "foo.xml");
    MakePack("baz.cab", "baz.xml");
    MakePack("owl.cab", "owl.xml");
    CreateWindow();
    QTreeView* tree = test::Parts(*window).treWinksList;
    QLabel* shown = test::Child<QLabel>(*window, "lblShown");
    const QString count = window->StatusText();
    EXPECT_EQ(count, "5 Winks of MSN Messenger in the list.");
    EXPECT_FALSE(shown->isVisible());
    Check(Item(0, 0));  // Foo and Owl are hidden by the filter below
    Check(Item(1, 0));

    EXPECT_EQ(test::Child<QAction>(*window, "actFind")->shortcut(),
              QKeySequence(QKeySequence::Find));
    test::Child<QAction>(*window, "actFind")->trigger();
    EXPECT_EQ(window->focusWidget(), FindField(*window));
    QTest::keyClicks(FindField(*window), "bA");
    QAbstractItemModel* view = tree->model();
    ASSERT_NE(view, test::Parts(*window).treWinksListModel);
    ASSERT_EQ(view->rowCount(), 1);
    const QModelIndex animals = view->index(0, 0);
    ASSERT_EQ(view->rowCount(animals), 2);
    EXPECT_EQ(view->index(0, 0, animals).data().toString(), "Bar");
    EXPECT_EQ(view->index(1, 0, animals).data().toString(), "Baz");
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->text(), "2 of 5 shown");
    EXPECT_EQ(window->StatusText(), count);
    EXPECT_EQ(window->ItemCount(), 5);

    // A click on a shown item is the catalogue's item; a check set here is the catalogue's.
    Click(view->index(1, 0, animals));
    EXPECT_EQ(window->CurrentItem().AttributeValue("WinkName").Text(), "Baz");
    EXPECT_EQ(window->SelectedNode(), Item(0, 2));
    view->setData(view->index(1, 0, animals), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->StateIndex(Item(0, 2)), 2);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->StateIndex(Item(0, 0)), 2);

    // Escape in the field clears it: the whole tree again, the label hidden.
    QTest::keyClick(FindField(*window), Qt::Key_Escape);
    EXPECT_TRUE(FindField(*window)->text().isEmpty());
    EXPECT_EQ(tree->model(), test::Parts(*window).treWinksListModel);
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(test::Parts(*window).treWinksListModel->StateIndex(Item(1, 0)), 2);

    QTest::keyClicks(FindField(*window), "owl");
    ASSERT_EQ(tree->model()->rowCount(), 1);
    test::Parts(*window).actInstallChe->trigger();
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(*handedOver,
              (std::vector<std::string>{Url("foo.cab"), Url("baz.cab"), Url("owl.cab")}));
    EXPECT_TRUE(messages->empty());
}
