// The window's preview pane, the right-button rule, the resize focus, the skin, Close, Support
// and the about box, offscreen, with the real player and a local content server.
#include "app/uAbout.h"
#include "platform/ShockwaveFlash.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"

#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

using namespace zephyrine;
using platform::TMsgIcon;
using platform::TShockwaveFlash;
using test::TTempDir;

namespace {

constexpr int kFirstFrameTimeoutMs = 60000;

class TRecordingShell : public platform::IShell {
  public:
    explicit TRecordingShell(std::shared_ptr<std::vector<std::string>> log)
        : log_(std::move(log)) {}
    void OpenUrl(const std::string& url) override { log_->push_back(url); }

  private:
    std::shared_ptr<std::vector<std::string>> log_;
};

// Records the mouse presses and context-menu requests a widget is given.
class TPressRecorder : public QObject {
  public:
    explicit TPressRecorder(QWidget* w) { w->installEventFilter(this); }
    int presses = 0;
    int menus = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress) ++presses;
        if (e->type() == QEvent::ContextMenu) ++menus;
        return false;
    }
};

class MainFormPreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(site.Path() / "download/previewback");
        ASSERT_EQ(mediatest::Run({std::getenv("ZEPHYRINE_SWFWRITER"),
                                  (site.Path() / "download/previewback/red.swf").string(),
                                  "--colour", "E02020"}),
                  0);
        server = std::make_unique<mediatest::TLocalHttpServer>(site.Path().string());
        test::WriteFile(app / "WinksList.dat",
                        "<WinksList><Shapes>"
                        "<Wink WinkName=\"Red\" DownloadUrl=\"red.cab\" SwfUrl=\"red.swf\"/>"
                        "<Wink WinkName=\"Base\" DownloadUrl=\"base.cab\" SwfUrl=\"\"/>"
                        "<Wink WinkName=\"NoMovie\" DownloadUrl=\"none.cab\"/>"
                        "</Shapes></WinksList>");
    }

    void CreateWindow() {
        global = std::make_unique<app::TGlobal>(app.Folder(), server->Root());
        platform::TPlatform p;
        p.MessageBox = std::make_unique<test::TRecordingMessageBox>(messages);
        p.Shell = std::make_unique<TRecordingShell>(opened);
        p.CreateFlash = [](QWidget* parent) { return new TShockwaveFlash(parent); };
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{server->Root(), server->Root()});
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        messages->clear();
    }

    TShockwaveFlash* Flash() {
        return static_cast<TShockwaveFlash*>(test::Parts(*window).flsPreviewControl);
    }

    void Click(int item) {
        const QRect r = test::Parts(*window).treWinksList->visualRect(
            test::Parts(*window).treWinksListModel->ItemIndex(0, item));
        QTest::mouseClick(test::Parts(*window).treWinksList->viewport(), Qt::LeftButton, {},
                          QPoint(r.right() - 4, r.center().y()));
        QApplication::processEvents();
    }

    TTempDir app, site;
    test::TScopedEnv data{"XDG_DATA_HOME", app / "xdg-data"};
    std::unique_ptr<mediatest::TLocalHttpServer> server;
    std::unique_ptr<app::TGlobal> global;
    std::shared_ptr<std::vector<test::TShownMessage>> messages =
        std::make_shared<std::vector<test::TShownMessage>>();
    std::shared_ptr<std::vector<std::string>> opened = std::make_shared<std::vector<std::string>>();
    std::unique_ptr<app::TfrmMainForm> window;
};

TEST_F(MainFormPreviewTest, ClickedItemPlaysItsMovieFromTheContentServer) {
    CreateWindow();
    QSignalSpy frames(Flash(), &TShockwaveFlash::FirstFrameDrawn);
    Click(0);
    EXPECT_EQ(window->StatusText(), "Previewing..");
    EXPECT_EQ(Flash()->Movie(), server->Root() + "/download/previewback/red.swf");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frames.isEmpty(); }, kFirstFrameTimeoutMs))
        << Flash()->LastError().toStdString();
    // The pane shows what the player drew once the page has been composited: grabbed until then.
    const auto redPixels = [&] {
        const QImage shot = Flash()->View()->grab().toImage();
        int red = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                red += shot.pixelColor(x, y).red() > 180 && shot.pixelColor(x, y).green() < 80;
        return red;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return redPixels() > 1000; }, kFirstFrameTimeoutMs))
        << "the square is drawn in the pane";
    EXPECT_EQ(window->StatusText(), "Previewing..");
    EXPECT_TRUE(messages->empty());
}

TEST_F(MainFormPreviewTest, EmptySwfUrlPlaysTheBaseAndAMissingOneRaises) {
    CreateWindow();
    Click(1);
    EXPECT_EQ(Flash()->Movie(), global->PreviewBaseUrl);
    EXPECT_TRUE(messages->empty());

    window->SetStatusText("before");
    test::Parts(*window).actInstall->setEnabled(false);
    Click(2);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].Icon, TMsgIcon::Error);
    EXPECT_EQ((*messages)[0].Text, "A null value cannot be taken as text");
    EXPECT_EQ(window->StatusText(), "Previewing..");
    EXPECT_TRUE(window->CurrentItem() ==
                test::Parts(*window).treWinksListModel->ItemElement(
                    test::Parts(*window).treWinksListModel->ItemIndex(0, 2)));
    EXPECT_FALSE(test::Parts(*window).actInstall->isEnabled()) << "the handler ended at the error";
    EXPECT_EQ(Flash()->Movie(), global->PreviewBaseUrl) << "the player was not given a movie";
}

TEST_F(MainFormPreviewTest, RightButtonOverThePaneIsDroppedAndOverTheTreeOpensTheMenu) {
    CreateWindow();
    QSignalSpy frames(Flash(), &TShockwaveFlash::FirstFrameDrawn);
    Click(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frames.isEmpty(); }, kFirstFrameTimeoutMs))
        << Flash()->LastError().toStdString();

    const QPoint centre = test::Parts(*window).flsPreview->mapToGlobal(
        test::Parts(*window).flsPreview->rect().center());
    QCursor::setPos(centre);
    QWidget* inside = QApplication::widgetAt(centre);
    ASSERT_NE(inside, nullptr);
    ASSERT_TRUE(test::Parts(*window).flsPreview->isAncestorOf(inside)) << "the player's own widget";
    // Presses as the window system delivers them, through the window.
    QWindow* screen = window->windowHandle();
    const QPoint atPane = window->mapFromGlobal(centre);
    TPressRecorder recorder(inside);
    QTest::mouseClick(screen, Qt::RightButton, {}, atPane);
    QApplication::processEvents();
    EXPECT_EQ(recorder.presses, 0) << "the right press never reaches the player";
    EXPECT_EQ(recorder.menus, 0);
    QTest::mouseClick(screen, Qt::LeftButton, {}, atPane);
    QApplication::processEvents();
    EXPECT_EQ(recorder.presses, 1) << "other presses pass";

    QWidget* tree = test::Parts(*window).treWinksList->viewport();
    const QPoint inTree = tree->mapToGlobal(QPoint(20, tree->height() - 10));
    QCursor::setPos(inTree);
    TPressRecorder treeRecorder(tree);
    QTest::mouseClick(screen, Qt::RightButton, {}, window->mapFromGlobal(inTree));
    QApplication::processEvents();
    EXPECT_EQ(treeRecorder.presses, 1);
    EXPECT_EQ(treeRecorder.menus, 1);
    EXPECT_TRUE(test::Parts(*window).PopupMenu1->isVisible());
    test::Parts(*window).PopupMenu1->close();
}

TEST_F(MainFormPreviewTest, EveryResizeGivesThePreviewTheFocus) {
    CreateWindow();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (const QSize size : {QSize(700, 420), QSize(640, 400)}) {
        test::Parts(*window).treWinksList->setFocus();
        QApplication::processEvents();
        ASSERT_TRUE(test::Parts(*window).treWinksList->hasFocus());
        window->resize(size);
        QApplication::processEvents();
        EXPECT_TRUE(test::Parts(*window).flsPreview->hasFocus());
    }
}

TEST_F(MainFormPreviewTest, SkinFileBecomesTheStyleSheetWhenItExists) {
    CreateWindow();
    EXPECT_EQ(window->styleSheet(), "") << "no skin file, no style";
    window.reset();
    std::filesystem::create_directories(app.Path() / "Skins");
    const std::string sheet = "QPushButton { color: rgb(1, 2, 3); }";
    test::WriteFile(app / "Skins/MacOS.sui", sheet);
    CreateWindow();
    EXPECT_EQ(window->styleSheet().toStdString(), sheet);
    EXPECT_EQ(test::Parts(*window).btnClose->palette().color(QPalette::ButtonText),
              QColor(1, 2, 3));
}

TEST_F(MainFormPreviewTest, CloseSupportAndTheAboutBox) {
    CreateWindow();
    test::Parts(*window).btnSupport->click();
    EXPECT_EQ(*opened, std::vector<std::string>{app::kSupportPage});

    test::Parts(*window).btnAbout->click();
    auto* about = qobject_cast<app::TFrmAbout*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr) << "the about box is modal";
    EXPECT_EQ(about->windowTitle(), "About Zephyrine ");
    EXPECT_EQ(about->size(), QSize(370, 179));
    EXPECT_LE((about->geometry().center() - window->geometry().center()).manhattanLength(), 4);
    QPointer<app::TFrmAbout> released(about);
    about->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(released.isNull()) << "released when it closes";

    test::Parts(*window).btnClose->click();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
}

TEST(AboutTest, LabelsAtTheirPlacesAndLinksThatOpenAndLightUp) {
    test::EnsureApp();
    auto opened = std::make_shared<std::vector<std::string>>();
    TRecordingShell shell(opened);
    app::TFrmAbout about(nullptr, &shell, "/nonexistent/skin.sui");
    about.show();
    struct Row {
        QLabel* label;
        QPoint at;
        QString text;
    };
    for (const Row& row :
         {Row{about.Label1, {96, 12}, "Zephyrine 1.2.2"}, Row{about.Label3, {98, 42}, "Home Page:"},
          Row{about.Label4, {175, 42}, app::kHomePage}, Row{about.Label6, {98, 63}, "Support:"},
          Row{about.Label5, {175, 63}, app::kSupportMail}, Row{about.Label9, {98, 85}, "Sales:"},
          Row{about.Label8, {175, 85}, app::kSalesMail}}) {
        EXPECT_EQ(row.label->pos(), row.at) << row.text.toStdString();
        EXPECT_EQ(row.label->text(), row.text);
    }
    EXPECT_EQ(about.Image1->pos(), QPoint(24, 8));
    EXPECT_EQ(about.Image1->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(about.Label7->pos(), QPoint(99, 135));
    EXPECT_FALSE(about.Label7->text().isEmpty());

    for (app::TLinkLabel* link : {about.Label4, about.Label5, about.Label8}) {
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_TRUE(link->font().underline());
        QTest::mouseMove(link, QPoint(3, 3));
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
        EXPECT_EQ(link->font().family(), "MS Sans Serif");
        EXPECT_EQ(about.cursor().shape(), Qt::PointingHandCursor);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(link, &leave);
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_EQ(link->font().family(), "Tahoma");
        EXPECT_EQ(about.cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, 3));
    }
    EXPECT_EQ(*opened,
              (std::vector<std::string>{app::kHomePage, std::string("mailto:") + app::kSupportMail,
                                        std::string("mailto:") + app::kSalesMail}));
}

}  // namespace

int main(int argc, char** argv) {
    TTempDir home;
    setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    TShockwaveFlash::PrepareProcess();
    test::EnsureApp();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
