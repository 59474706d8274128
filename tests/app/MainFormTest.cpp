// The window's layout and FormCreate as far as its steps exist.
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QScreen>

#include <filesystem>

using namespace zephyrine;
using test::TTempDir;
using test::TWindowFixture;

namespace {

class MainForm : public ::testing::Test {
  protected:
    MainForm() : fixture(dir.Folder()) {
        test::WriteFile(dir / "WinksList.dat", test::Catalogue({{"Love", 3}, {"Funny", 2}}));
    }
    TTempDir dir;
    TWindowFixture fixture;
};

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? "-" : a->text());
    return texts;
}

}  // namespace

TEST_F(MainForm, WindowCaptionSizeAndPlacement) {
    auto window = fixture.Create();
    EXPECT_EQ(window->windowTitle(), "Zephyrine");
    EXPECT_EQ(window->size(), QSize(618, 375));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(window->geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(window->geometry().center().y() - screen.center().y()), 1);
    EXPECT_EQ(window->font().pointSize(), 8);
}

TEST_F(MainForm, PanelsStatusBarAndTree) {
    auto window = fixture.Create();
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(Probe(*window).staOptState->height(), 19);
    EXPECT_EQ(Probe(*window).staOptState->geometry().bottom(), window->height() - 1);
    EXPECT_EQ(Probe(*window).Panel1->width(), 185);
    EXPECT_EQ(Probe(*window).Panel1->x(), 0);
    EXPECT_EQ(Probe(*window).treWinksList->parentWidget(), Probe(*window).Panel1);
    EXPECT_EQ(Probe(*window).treWinksList->width(), 185);
    EXPECT_EQ(Probe(*window).Panel2->x(), 185);
    EXPECT_EQ(Probe(*window).Panel2->width(), 618 - 185);
    EXPECT_EQ(Probe(*window).Panel3->height(), 44);
    EXPECT_EQ(Probe(*window).Panel3->parentWidget(), Probe(*window).Panel2);
    EXPECT_EQ(Probe(*window).Panel3->geometry().bottom(), Probe(*window).Panel2->height() - 1);
    EXPECT_EQ(Probe(*window).flsPreview->parentWidget(), Probe(*window).Panel2);
    EXPECT_EQ(Probe(*window).flsPreview->size(), QSize(433, Probe(*window).Panel2->height() - 44));
    EXPECT_EQ(Probe(*window).flsPreviewControl, nullptr);  // the placeholder without CreateFlash
    EXPECT_EQ(Probe(*window).treWinksList->indentation(), 19);
    EXPECT_EQ(Probe(*window).treWinksList->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(Probe(*window).treWinksList->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(Probe(*window).ImageList1.Count(), 2);
    EXPECT_EQ(Probe(*window).ImageList1.Image(0).availableSizes().value(0), QSize(16, 16));
}

TEST_F(MainForm, ButtonsAtTheirPlacesWithCaptionsHintsAndActions) {
    auto window = fixture.Create();
    struct Row {
        QPushButton* button;
        QRect geometry;
        const char* caption;
        const char* hint;
    };
    const Row rows[] = {
        {Probe(*window).btnInstall,
         {5, 10, 80, 25},
         "&Install to MSN",
         "Install into MSN Messenger "},
        {Probe(*window).btnUpgrade, {91, 10, 80, 25}, "&Upgrade", "Update Winks Database"},
        {Probe(*window).btnAbout, {178, 10, 79, 25}, "&About", "About Zephyrine"},
        {Probe(*window).btnSupport, {264, 10, 80, 25}, "&Support", "Support"},
        {Probe(*window).btnClose, {349, 10, 80, 25}, "&Close", "Close"},
        {Probe(*window).btnInstallChe,
         {130, -6, 80, 25},
         "Install &Checked",
         "Install Checked into MSN Messenger "},
    };
    window->show();
    QCoreApplication::processEvents();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(row.button->parentWidget(), Probe(*window).Panel3);
        EXPECT_EQ(row.button->geometry(), row.geometry);
        EXPECT_EQ(row.button->text(), row.caption);
        EXPECT_EQ(row.button->toolTip(), row.hint);
    }
    EXPECT_TRUE(Probe(*window).btnInstall->isVisible());
    EXPECT_FALSE(Probe(*window).btnInstallChe->isVisible());

    // Each button shows its action: enabled state and (from the action) caption follow it.
    Probe(*window).actUpgrade->setEnabled(false);
    Probe(*window).actInstall->setEnabled(false);
    EXPECT_FALSE(Probe(*window).btnUpgrade->isEnabled());
    EXPECT_FALSE(Probe(*window).btnInstall->isEnabled());
    EXPECT_EQ(Probe(*window).btnInstall->text(), "&Install to MSN");  // its own caption stays
    Probe(*window).actUpgrade->setEnabled(true);
    EXPECT_TRUE(Probe(*window).btnUpgrade->isEnabled());
    int triggered = 0;
    QObject::connect(Probe(*window).actAbout, &QAction::triggered, [&] { ++triggered; });
    Probe(*window).btnAbout->click();
    EXPECT_EQ(triggered, 1);

    // btnInstallChe is anchored top-right.
    window->resize(718, 375);
    QCoreApplication::processEvents();
    EXPECT_EQ(Probe(*window).btnInstallChe->geometry(), QRect(230, -6, 80, 25));
}

TEST_F(MainForm, ActionsAndPopupMenu) {
    auto window = fixture.Create();
    EXPECT_EQ(Probe(*window).actInstall->text(), "&Install For MSN");
    EXPECT_EQ(Probe(*window).actInstallChe->text(), "Install &Checked");
    EXPECT_EQ(Probe(*window).actUpgrade->text(), "&Upgrade");
    EXPECT_EQ(Probe(*window).actHelp->text(), "&Help");
    EXPECT_EQ(Probe(*window).actAbout->text(), "&About");
    EXPECT_TRUE(Probe(*window).actInstall->isEnabled());
    EXPECT_TRUE(Probe(*window).actInstallChe->isEnabled());
    EXPECT_TRUE(Probe(*window).actUpgrade->isEnabled());
    EXPECT_FALSE(Probe(*window).actHelp->isEnabled());
    EXPECT_TRUE(Probe(*window).actAbout->isEnabled());
    EXPECT_EQ(MenuTexts(Probe(*window).PopupMenu1),
              QStringList({"&Install For MSN", "Install &Checked", "-", "&Help", "-", "&About"}));
    EXPECT_EQ(Probe(*window).PopupMenu1->actions().at(0), Probe(*window).actInstall);
    EXPECT_EQ(Probe(*window).PopupMenu1->actions().at(3), Probe(*window).actHelp);
}

TEST_F(MainForm, FormCreateStepsThatExist) {
    auto window = fixture.Create();
    EXPECT_EQ(Probe(*window).FItemCount, 5);
    EXPECT_EQ(window->StatusText(), "5 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(Probe(*window).FUrlQueue.empty());
    EXPECT_TRUE(Probe(*window).FNameQueue.empty());
    EXPECT_FALSE(Probe(*window).FQueueMode);
    EXPECT_EQ(Probe(*window).FInstallTotal, 0);
    EXPECT_NE(Probe(*window).ApplicationEvents1, nullptr);
    EXPECT_EQ(Probe(*window).DownloadBaseUrl, "http://content.test/download/");
    EXPECT_TRUE(std::filesystem::exists(dir / "xdg-data/applications/zephyrine.desktop"));
    EXPECT_TRUE(fixture.messages->empty());
    EXPECT_TRUE(platform::TInstancePresence::IsHeldByAnyone());  // the window holds it
    // The embedded server exists from creation on, set up but not listening.
    ASSERT_NE(Probe(*window).FServer, nullptr);
    EXPECT_EQ(Probe(*window).FServer->ListenPort(), 21887);
    EXPECT_FALSE(Probe(*window).FServer->Listening());
    EXPECT_EQ(Probe(*window).FServer->DefaultTarget(), "");
    EXPECT_EQ(Probe(*window).FServer->SearchFolders(),
              Probe(*window).Global.AppFolder + "msnpack/");
    window.reset();
    EXPECT_FALSE(platform::TInstancePresence::IsHeldByAnyone());
}

TEST_F(MainForm, AFailedAssociationIsReportedAndTheWindowOpensAllTheSame) {
    test::WriteFile(dir / "a-file", "x");
    test::TScopedEnv data("XDG_DATA_HOME", dir / "a-file/below");
    auto window = fixture.Create("pack.mca");
    ASSERT_EQ(fixture.messages->size(), 1u);
    EXPECT_EQ(fixture.messages->at(0).Caption, "Zephyrine");
    EXPECT_EQ(fixture.messages->at(0).Icon, platform::TMsgIcon::Error);
    EXPECT_NE(fixture.messages->at(0).Text.find("a-file"), std::string::npos);
    EXPECT_EQ(Probe(*window).FItemCount, 5);  // the steps before it ran
    window->show();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainForm, PreviewComesFromCreateFlashWhenGiven) {
    class TFakeFlash : public platform::TFlashControl {
      public:
        using TFlashControl::TFlashControl;
        void SetMovie(const std::string& m) override { movie = m; }
        std::string Movie() const override { return movie; }
        void Play() override {}
        std::string movie;
    };
    platform::TPlatform p;
    p.MessageBox = std::make_unique<test::TRecordingMessageBox>(fixture.messages);
    QWidget* parentSeen = nullptr;
    p.CreateFlash = [&](QWidget* parent) {
        parentSeen = parent;
        return new TFakeFlash(parent);
    };
    app::TfrmMainForm window(fixture.global, std::move(p), {"http://c", "http://k"});
    ASSERT_NE(Probe(window).flsPreviewControl, nullptr);
    EXPECT_EQ(Probe(window).flsPreview, Probe(window).flsPreviewControl);
    EXPECT_EQ(parentSeen, Probe(window).Panel2);
    EXPECT_EQ(Probe(window).flsPreview->parentWidget(), Probe(window).Panel2);
}
