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
    EXPECT_EQ(test::Parts(*window).staOptState->height(), 19);
    EXPECT_EQ(test::Parts(*window).staOptState->geometry().bottom(), window->height() - 1);
    EXPECT_EQ(test::Parts(*window).Panel1->width(), 185);
    EXPECT_EQ(test::Parts(*window).Panel1->x(), 0);
    EXPECT_EQ(test::Parts(*window).treWinksList->parentWidget(), test::Parts(*window).Panel1);
    EXPECT_EQ(test::Parts(*window).treWinksList->width(), 185);
    EXPECT_EQ(test::Parts(*window).Panel2->x(), 185);
    EXPECT_EQ(test::Parts(*window).Panel2->width(), 618 - 185);
    EXPECT_EQ(test::Parts(*window).Panel3->height(), 44);
    EXPECT_EQ(test::Parts(*window).Panel3->parentWidget(), test::Parts(*window).Panel2);
    EXPECT_EQ(test::Parts(*window).Panel3->geometry().bottom(),
              test::Parts(*window).Panel2->height() - 1);
    EXPECT_EQ(test::Parts(*window).flsPreview->parentWidget(), test::Parts(*window).Panel2);
    EXPECT_EQ(test::Parts(*window).flsPreview->size(),
              QSize(433, test::Parts(*window).Panel2->height() - 44));
    EXPECT_EQ(test::Parts(*window).flsPreviewControl,
              nullptr);  // the placeholder without CreateFlash
    EXPECT_EQ(test::Parts(*window).treWinksList->indentation(), 19);
    EXPECT_EQ(test::Parts(*window).treWinksList->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(test::Parts(*window).treWinksList->contextMenuPolicy(), Qt::CustomContextMenu);
    // ImageList1: a 16 x 16 image for the categories and another for the items.
    const app::TWinksTreeModel& model = *test::Parts(*window).treWinksListModel;
    const auto icon = [&](const QModelIndex& node) {
        return model.data(node, Qt::DecorationRole).value<QIcon>();
    };
    EXPECT_EQ(icon(model.CategoryIndex(0)).availableSizes().value(0), QSize(16, 16));
    EXPECT_EQ(icon(model.ItemIndex(0, 0)).availableSizes().value(0), QSize(16, 16));
    EXPECT_NE(icon(model.CategoryIndex(0)).cacheKey(), icon(model.ItemIndex(0, 0)).cacheKey());
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
        {test::Parts(*window).btnInstall,
         {5, 10, 80, 25},
         "&Install to MSN",
         "Install into MSN Messenger "},
        {test::Parts(*window).btnUpgrade, {91, 10, 80, 25}, "&Upgrade", "Update Winks Database"},
        {test::Parts(*window).btnAbout, {178, 10, 79, 25}, "&About", "About Zephyrine"},
        {test::Parts(*window).btnSupport, {264, 10, 80, 25}, "&Support", "Support"},
        {test::Parts(*window).btnClose, {349, 10, 80, 25}, "&Close", "Close"},
        {test::Parts(*window).btnInstallChe,
         {130, -6, 80, 25},
         "Install &Checked",
         "Install Checked into MSN Messenger "},
    };
    window->show();
    QCoreApplication::processEvents();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(row.button->parentWidget(), test::Parts(*window).Panel3);
        EXPECT_EQ(row.button->geometry(), row.geometry);
        EXPECT_EQ(row.button->text(), row.caption);
        EXPECT_EQ(row.button->toolTip(), row.hint);
    }
    EXPECT_TRUE(test::Parts(*window).btnInstall->isVisible());
    EXPECT_FALSE(test::Parts(*window).btnInstallChe->isVisible());

    // Each button shows its action: enabled state and (from the action) caption follow it.
    test::Parts(*window).actUpgrade->setEnabled(false);
    test::Parts(*window).actInstall->setEnabled(false);
    EXPECT_FALSE(test::Parts(*window).btnUpgrade->isEnabled());
    EXPECT_FALSE(test::Parts(*window).btnInstall->isEnabled());
    EXPECT_EQ(test::Parts(*window).btnInstall->text(), "&Install to MSN");  // its own caption stays
    test::Parts(*window).actUpgrade->setEnabled(true);
    EXPECT_TRUE(test::Parts(*window).btnUpgrade->isEnabled());
    int triggered = 0;
    QObject::connect(test::Parts(*window).actAbout, &QAction::triggered, [&] { ++triggered; });
    test::Parts(*window).btnAbout->click();
    EXPECT_EQ(triggered, 1);

    // btnInstallChe is anchored top-right.
    window->resize(718, 375);
    QCoreApplication::processEvents();
    EXPECT_EQ(test::Parts(*window).btnInstallChe->geometry(), QRect(230, -6, 80, 25));
}

TEST_F(MainForm, ActionsAndPopupMenu) {
    auto window = fixture.Create();
    EXPECT_EQ(test::Parts(*window).actInstall->text(), "&Install For MSN");
    EXPECT_EQ(test::Parts(*window).actInstallChe->text(), "Install &Checked");
    EXPECT_EQ(test::Parts(*window).actUpgrade->text(), "&Upgrade");
    EXPECT_EQ(test::Parts(*window).actHelp->text(), "&Help");
    EXPECT_EQ(test::Parts(*window).actAbout->text(), "&About");
    EXPECT_TRUE(test::Parts(*window).actInstall->isEnabled());
    EXPECT_TRUE(test::Parts(*window).actInstallChe->isEnabled());
    EXPECT_TRUE(test::Parts(*window).actUpgrade->isEnabled());
    EXPECT_FALSE(test::Parts(*window).actHelp->isEnabled());
    EXPECT_TRUE(test::Parts(*window).actAbout->isEnabled());
    EXPECT_EQ(MenuTexts(test::Parts(*window).PopupMenu1),
              QStringList({"&Install For MSN", "Install &Checked", "-", "&Help", "-", "&About"}));
    EXPECT_EQ(test::Parts(*window).PopupMenu1->actions().at(0), test::Parts(*window).actInstall);
    EXPECT_EQ(test::Parts(*window).PopupMenu1->actions().at(3), test::Parts(*window).actHelp);
}

TEST_F(MainForm, FormCreateStepsThatExist) {
    auto window = fixture.Create();
    EXPECT_EQ(window->ItemCount(), 5);
    EXPECT_EQ(window->StatusText(), "5 Winks of MSN Messenger in the list.");
    EXPECT_EQ(window->Installs().Waiting(), 0u);
    EXPECT_FALSE(window->Installs().Pending());
    EXPECT_FALSE(window->Installs().QueueMode());
    EXPECT_EQ(window->Installs().InstallTotal(), 0);
    EXPECT_NE(window->findChild<app::TApplicationEvents*>(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir / "xdg-data/applications/zephyrine.desktop"));
    EXPECT_TRUE(fixture.messages->empty());
    EXPECT_TRUE(platform::TInstancePresence::IsHeldByAnyone());  // the window holds it
    // The embedded server exists from creation on, set up but not listening.
    EXPECT_EQ(window->EmbeddedServer().ListenPort(), 21887);
    EXPECT_FALSE(window->EmbeddedServer().Listening());
    EXPECT_EQ(window->EmbeddedServer().DefaultTarget(), "");
    EXPECT_EQ(window->EmbeddedServer().SearchFolders(), fixture.global.AppFolder + "msnpack/");
    window.reset();
    EXPECT_FALSE(platform::TInstancePresence::IsHeldByAnyone());
}

// The file given to open is still handled after the report (MainFormFileTest installs one).
TEST_F(MainForm, AFailedAssociationIsReportedAndTheWindowOpensAllTheSame) {
    test::WriteFile(dir / "a-file", "x");
    test::TScopedEnv data("XDG_DATA_HOME", dir / "a-file/below");
    auto window = fixture.Create(dir / "pack.mca");
    ASSERT_EQ(fixture.messages->size(), 2u);
    EXPECT_EQ(fixture.messages->at(0).Caption, "Zephyrine");
    EXPECT_EQ(fixture.messages->at(0).Icon, platform::TMsgIcon::Error);
    EXPECT_NE(fixture.messages->at(0).Text.find("a-file"), std::string::npos);
    EXPECT_EQ(fixture.messages->at(1).Text, "The content file cannot be read: " + dir / "pack.mca");
    EXPECT_EQ(window->ItemCount(), 5);  // the steps before it ran
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
    ASSERT_NE(test::Parts(window).flsPreviewControl, nullptr);
    EXPECT_EQ(test::Parts(window).flsPreview, test::Parts(window).flsPreviewControl);
    EXPECT_EQ(parentSeen, test::Parts(window).Panel2);
    EXPECT_EQ(test::Parts(window).flsPreview->parentWidget(), test::Parts(window).Panel2);
}
