// The window's layout and FormCreate as far as its steps exist.
#include "TestSupport.h"

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
    EXPECT_EQ(window->staOptState->height(), 19);
    EXPECT_EQ(window->staOptState->geometry().bottom(), window->height() - 1);
    EXPECT_EQ(window->Panel1->width(), 185);
    EXPECT_EQ(window->Panel1->x(), 0);
    EXPECT_EQ(window->treWinksList->parentWidget(), window->Panel1);
    EXPECT_EQ(window->treWinksList->width(), 185);
    EXPECT_EQ(window->Panel2->x(), 185);
    EXPECT_EQ(window->Panel2->width(), 618 - 185);
    EXPECT_EQ(window->Panel3->height(), 44);
    EXPECT_EQ(window->Panel3->parentWidget(), window->Panel2);
    EXPECT_EQ(window->Panel3->geometry().bottom(), window->Panel2->height() - 1);
    EXPECT_EQ(window->flsPreview->parentWidget(), window->Panel2);
    EXPECT_EQ(window->flsPreview->size(), QSize(433, window->Panel2->height() - 44));
    EXPECT_EQ(window->flsPreviewControl, nullptr);  // the placeholder without CreateFlash
    EXPECT_EQ(window->treWinksList->indentation(), 19);
    EXPECT_EQ(window->treWinksList->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(window->treWinksList->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(window->ImageList1.Count(), 2);
    EXPECT_EQ(window->ImageList1.Image(0).availableSizes().value(0), QSize(16, 16));
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
        {window->btnInstall, {5, 10, 80, 25}, "&Install to MSN", "Install into MSN Messenger "},
        {window->btnUpgrade, {91, 10, 80, 25}, "&Upgrade", "Update Winks Database"},
        {window->btnAbout, {178, 10, 79, 25}, "&About", "About Zephyrine"},
        {window->btnSupport, {264, 10, 80, 25}, "&Support", "Support"},
        {window->btnClose, {349, 10, 80, 25}, "&Close", "Close"},
        {window->btnInstallChe,
         {130, -6, 80, 25},
         "Install &Checked",
         "Install Checked into MSN Messenger "},
    };
    window->show();
    QCoreApplication::processEvents();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(row.button->parentWidget(), window->Panel3);
        EXPECT_EQ(row.button->geometry(), row.geometry);
        EXPECT_EQ(row.button->text(), row.caption);
        EXPECT_EQ(row.button->toolTip(), row.hint);
    }
    EXPECT_TRUE(window->btnInstall->isVisible());
    EXPECT_FALSE(window->btnInstallChe->isVisible());

    // Each button shows its action: enabled state and (from the action) caption follow it.
    window->actUpgrade->setEnabled(false);
    window->actInstall->setEnabled(false);
    EXPECT_FALSE(window->btnUpgrade->isEnabled());
    EXPECT_FALSE(window->btnInstall->isEnabled());
    EXPECT_EQ(window->btnInstall->text(), "&Install to MSN");  // its own caption stays
    window->actUpgrade->setEnabled(true);
    EXPECT_TRUE(window->btnUpgrade->isEnabled());
    int triggered = 0;
    QObject::connect(window->actAbout, &QAction::triggered, [&] { ++triggered; });
    window->btnAbout->click();
    EXPECT_EQ(triggered, 1);

    // btnInstallChe is anchored top-right.
    window->resize(718, 375);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->btnInstallChe->geometry(), QRect(230, -6, 80, 25));
}

TEST_F(MainForm, ActionsAndPopupMenu) {
    auto window = fixture.Create();
    EXPECT_EQ(window->actInstall->text(), "&Install For MSN");
    EXPECT_EQ(window->actInstallChe->text(), "Install &Checked");
    EXPECT_EQ(window->actUpgrade->text(), "&Upgrade");
    EXPECT_EQ(window->actHelp->text(), "&Help");
    EXPECT_EQ(window->actAbout->text(), "&About");
    EXPECT_TRUE(window->actInstall->isEnabled());
    EXPECT_TRUE(window->actInstallChe->isEnabled());
    EXPECT_TRUE(window->actUpgrade->isEnabled());
    EXPECT_FALSE(window->actHelp->isEnabled());
    EXPECT_TRUE(window->actAbout->isEnabled());
    EXPECT_EQ(MenuTexts(window->PopupMenu1),
              QStringList({"&Install For MSN", "Install &Checked", "-", "&Help", "-", "&About"}));
    EXPECT_EQ(window->PopupMenu1->actions().at(0), window->actInstall);
    EXPECT_EQ(window->PopupMenu1->actions().at(3), window->actHelp);
}

TEST_F(MainForm, FormCreateStepsThatExist) {
    auto window = fixture.Create();
    EXPECT_EQ(window->FItemCount, 5);
    EXPECT_EQ(window->StatusText(), "5 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(window->FUrlQueue.empty());
    EXPECT_TRUE(window->FNameQueue.empty());
    EXPECT_FALSE(window->FQueueMode);
    EXPECT_EQ(window->FInstallTotal, 0);
    EXPECT_NE(window->ApplicationEvents1, nullptr);
    EXPECT_EQ(window->DownloadBaseUrl, "http://content.test/download/");
    EXPECT_TRUE(std::filesystem::exists(dir / "xdg-data/applications/zephyrine.desktop"));
    EXPECT_TRUE(fixture.messages->empty());
    EXPECT_TRUE(platform::TInstancePresence::IsHeldByAnyone());  // the window holds it
    // The embedded server exists from creation on, set up but not listening.
    ASSERT_NE(window->FServer, nullptr);
    EXPECT_EQ(window->FServer->ListenPort(), 21887);
    EXPECT_FALSE(window->FServer->Listening());
    EXPECT_EQ(window->FServer->DefaultTarget(), "");
    EXPECT_EQ(window->FServer->SearchFolders(), window->Global.AppFolder + "msnpack/");
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
    EXPECT_EQ(window->FItemCount, 5);  // the steps before it ran
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
    ASSERT_NE(window.flsPreviewControl, nullptr);
    EXPECT_EQ(window.flsPreview, window.flsPreviewControl);
    EXPECT_EQ(parentSeen, window.Panel2);
    EXPECT_EQ(window.flsPreview->parentWidget(), window.Panel2);
}
