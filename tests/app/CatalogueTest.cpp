// LoadWinksList through the window, and LoadCatalogue on its own.
#include "app/WinksCatalogue.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zephyrine;
using test::TTempDir;
using test::TWindowFixture;

namespace {

class Catalogue : public ::testing::Test {
  protected:
    Catalogue() : fixture(dir.Folder()) {}
    void Write(const std::string& xml) { test::WriteFile(dir / "WinksList.dat", xml); }
    std::string Status() { return window->StatusText().toStdString(); }
    app::TWinksTreeModel& Model() { return *test::Parts(*window).treWinksListModel; }
    std::vector<std::string> Messages() {
        std::vector<std::string> texts;
        for (const auto& m : *fixture.messages)
            texts.push_back(m.Text);
        return texts;
    }

    TTempDir dir;
    TWindowFixture fixture;
    std::unique_ptr<app::TfrmMainForm> window;
};

const std::vector<std::string> kFailed = {"Load the Winks list failed."};

}  // namespace

TEST_F(Catalogue, ThirtySevenItemsShowTheirCount) {
    Write(test::Catalogue({{"Love", 20}, {"Funny", 17}}));
    window = fixture.Create();
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->ItemCount(), 37);
    EXPECT_EQ(Status(), "37 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(test::Parts(*window).staOptStatePanel->isVisible());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Catalogue, EmptyDocumentElement) {
    Write("<WinksList/>");
    window = fixture.Create();
    EXPECT_EQ(Model().CategoryCount(), 0);
    EXPECT_EQ(window->ItemCount(), 0);
    EXPECT_EQ(Status(), "0 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Catalogue, ThreeAndTwoItemsOnlyTheFirstCategoryExpanded) {
    Write(
        "<WinksList>\n"
        "  <Love>\n"
        "    <Wink WinkName=\"Heart\" DownloadUrl=\"heart.cab\" SwfUrl=\"heart.swf\"/>\n"
        "    <Wink WinkName=\"Kiss\" DownloadUrl=\"kiss.cab\" SwfUrl=\"kiss.swf\"/>\n"
        "    <Wink WinkName=\"Rose\" DownloadUrl=\"rose.cab\" SwfUrl=\"rose.swf\"/>\n"
        "  </Love>\n"
        "  <Funny>\n"
        "    <Wink WinkName=\"Banana\" DownloadUrl=\"banana.cab\" SwfUrl=\"banana.swf\"/>\n"
        "    <Wink WinkName=\"Pie\" DownloadUrl=\"pie.cab\" SwfUrl=\"pie.swf\"/>\n"
        "  </Funny>\n"
        "</WinksList>\n");
    window = fixture.Create();
    auto& m = Model();
    ASSERT_EQ(m.CategoryCount(), 2);
    EXPECT_EQ(window->ItemCount(), 5);
    EXPECT_EQ(m.Caption(m.CategoryIndex(0)), "Love");
    EXPECT_EQ(m.Caption(m.CategoryIndex(1)), "Funny");
    EXPECT_EQ(m.rowCount(m.CategoryIndex(0)), 3);
    EXPECT_EQ(m.rowCount(m.CategoryIndex(1)), 2);
    EXPECT_EQ(m.Caption(m.ItemIndex(0, 2)), "Rose");
    EXPECT_EQ(m.Caption(m.ItemIndex(1, 0)), "Banana");
    EXPECT_TRUE(test::Parts(*window).treWinksList->isExpanded(m.CategoryIndex(0)));
    EXPECT_FALSE(test::Parts(*window).treWinksList->isExpanded(m.CategoryIndex(1)));
    // Images: 0 for a category, 1 (and selected 1) for an item; an item is a node with a parent.
    EXPECT_EQ(m.ImageIndex(m.CategoryIndex(0)), 0);
    EXPECT_EQ(m.ImageIndex(m.ItemIndex(0, 0)), 1);
    EXPECT_EQ(m.SelectedImageIndex(m.ItemIndex(0, 0)), 1);
    EXPECT_FALSE(app::TWinksTreeModel::IsItem(m.CategoryIndex(0)));
    EXPECT_TRUE(app::TWinksTreeModel::IsItem(m.ItemIndex(1, 1)));
    EXPECT_EQ(m.rowCount(m.ItemIndex(0, 0)), 0);
    // An item node refers to its element, read through the DOM (no copies).
    const platform::TXMLNode pie = m.ItemElement(m.ItemIndex(1, 1));
    ASSERT_FALSE(pie.IsNull());
    EXPECT_EQ(pie.AttributeValue("DownloadUrl").Text(), "pie.cab");
    EXPECT_EQ(pie.AttributeValue("SwfUrl").Text(), "pie.swf");
    EXPECT_EQ(pie.Raw(), m.ItemElement(m.ItemIndex(1, 1)).Raw());
    EXPECT_EQ(std::string(pie.Raw().parent().name()), "Funny");
    EXPECT_EQ(pie.Raw().parent().parent(), pie.Raw().root().first_child());
    EXPECT_TRUE(m.ItemElement(m.CategoryIndex(0)).IsNull());
    EXPECT_TRUE(window->CurrentItem().IsNull());
}

TEST_F(Catalogue, ACategoryWithoutItems) {
    Write("<WinksList><Empty/><Love><Wink WinkName=\"Kiss\"/></Love></WinksList>");
    window = fixture.Create();
    auto& m = Model();
    ASSERT_EQ(m.CategoryCount(), 2);
    EXPECT_EQ(m.rowCount(m.CategoryIndex(0)), 0);
    EXPECT_FALSE(m.hasChildren(m.CategoryIndex(0)));
    EXPECT_EQ(window->ItemCount(), 1);
    EXPECT_FALSE(
        test::Parts(*window).treWinksList->isExpanded(m.CategoryIndex(1)));  // not the first
    EXPECT_EQ(Status(), "1 Winks of MSN Messenger in the list.");
}

TEST_F(Catalogue, APrefixedCategoryShowsItsLocalName) {
    Write(
        "<pfx:WinksList xmlns:pfx=\"urn:x\"><pfx:Animals><Wink WinkName=\"Cat\"/>"
        "</pfx:Animals></pfx:WinksList>");
    window = fixture.Create();
    EXPECT_EQ(Model().Caption(Model().CategoryIndex(0)), "Animals");
    EXPECT_EQ(window->ItemCount(), 1);
}

TEST_F(Catalogue, AnItemWithoutWinkNameEndsTheLoadAndKeepsWhatWasAdded) {
    // A first good load sets the status text and a current item.
    Write(test::Catalogue({{"Love", 2}}));
    window = fixture.Create();
    ASSERT_EQ(Status(), "2 Winks of MSN Messenger in the list.");
    window->PreviewItem(Model().ItemElement(Model().ItemIndex(0, 1)));
    ASSERT_FALSE(window->CurrentItem().IsNull());
    window->SetStatusText("2 Winks of MSN Messenger in the list.");

    Write(
        "<WinksList>"
        "<Love><Wink WinkName=\"A\"/><Wink WinkName=\"B\"/></Love>"
        "<Funny><Wink WinkName=\"C\"/><Wink DownloadUrl=\"noname.cab\"/><Wink WinkName=\"D\"/>"
        "</Funny><Later><Wink WinkName=\"E\"/></Later></WinksList>");
    window->LoadWinksList();
    EXPECT_EQ(Messages(), kFailed);
    EXPECT_EQ(fixture.messages->back().Caption, "Zephyrine");
    EXPECT_EQ(fixture.messages->back().Icon, platform::TMsgIcon::None);  // a plain box
    auto& m = Model();
    ASSERT_EQ(m.CategoryCount(), 2);               // Later never added
    EXPECT_EQ(m.rowCount(m.CategoryIndex(1)), 1);  // C only
    EXPECT_EQ(window->ItemCount(), 3);
    EXPECT_TRUE(
        test::Parts(*window).treWinksList->isExpanded(m.CategoryIndex(0)));  // it was complete
    EXPECT_EQ(Status(), "2 Winks of MSN Messenger in the list.");            // the previous text
    // FCurrentItem is not cleared, and its counted reference keeps its old document alive.
    ASSERT_FALSE(window->CurrentItem().IsNull());
    EXPECT_EQ(window->CurrentItem().AttributeValue("WinkName").Text(), "Wink 1");
}

TEST_F(Catalogue, AFailureInTheFirstCategoryLeavesItCollapsed) {
    Write("<WinksList><Love><Wink WinkName=\"A\"/><Wink/></Love></WinksList>");
    window = fixture.Create();
    EXPECT_EQ(Messages(), kFailed);
    EXPECT_EQ(window->ItemCount(), 1);
    EXPECT_FALSE(test::Parts(*window).treWinksList->isExpanded(Model().CategoryIndex(0)));
}

TEST_F(Catalogue, AMissingFileAtStart) {
    window = fixture.Create();
    EXPECT_EQ(Messages(), kFailed);
    EXPECT_EQ(Model().CategoryCount(), 0);
    EXPECT_EQ(window->ItemCount(), 0);
    EXPECT_EQ(Status(), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "WinksList.dat"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));
}

TEST_F(Catalogue, MalformedXml) {
    Write("<WinksList><Love><Wink WinkName=\"A\"/></Love>");  // never closed
    window = fixture.Create();
    EXPECT_EQ(Messages(), kFailed);
    EXPECT_EQ(Model().CategoryCount(), 0);
    EXPECT_EQ(Status(), "");
}

TEST_F(Catalogue, AReloadReplacesTheTreeAndClearsTheCurrentItem) {
    Write(test::Catalogue({{"Love", 3}, {"Funny", 2}}));
    window = fixture.Create();
    window->PreviewItem(Model().ItemElement(Model().ItemIndex(0, 0)));
    test::Parts(*window).treWinksList->expand(Model().CategoryIndex(1));
    Write(test::Catalogue({{"New", 1}, {"Other", 1}, {"Third", 4}}));
    window->LoadWinksList();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Model().CategoryCount(), 3);
    EXPECT_EQ(window->ItemCount(), 6);
    EXPECT_EQ(Status(), "6 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(window->CurrentItem().IsNull());
    EXPECT_TRUE(test::Parts(*window).treWinksList->isExpanded(Model().CategoryIndex(0)));
    EXPECT_FALSE(test::Parts(*window).treWinksList->isExpanded(Model().CategoryIndex(1)));
    EXPECT_EQ(Model().Caption(Model().ItemIndex(2, 3)), "Wink 5");
}

TEST_F(Catalogue, TheBusyCursorIsRestored) {
    Write(test::Catalogue({{"Love", 1}}));
    window = fixture.Create();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    std::filesystem::remove(dir / "WinksList.dat");
    window->LoadWinksList();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Catalogue, CommentsAndWhitespaceAreNotNodes) {
    Write(
        "<WinksList>\n  <!-- a comment -->\n  <Love>\n    <!-- another -->\n"
        "    <Wink WinkName=\"A\"/>\n  </Love>\n</WinksList>\n");
    window = fixture.Create();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Model().CategoryCount(), 1);
    EXPECT_EQ(window->ItemCount(), 1);
}

TEST(LoadCatalogue, DrivenWithoutAWindow) {
    TTempDir dir;
    test::EnsureApp();
    test::WriteFile(dir / "c.xml", test::Catalogue({{"A", 2}, {"B", 0}, {"C", 1}}));
    app::TImageList images;
    app::TWinksTreeModel model(images);
    platform::TXMLDocument doc;
    app::TCatalogueLoad load = app::LoadCatalogue(doc, dir / "c.xml", model);
    EXPECT_TRUE(load.Ok);
    EXPECT_EQ(load.ItemCount, 3);
    EXPECT_TRUE(load.ExpandFirst);
    EXPECT_EQ(doc.FileName(), dir / "c.xml");
    EXPECT_EQ(model.CategoryCount(), 3);
    EXPECT_EQ(model.data(model.ItemIndex(2, 0), Qt::DisplayRole).toString(), "Wink 2");
    EXPECT_FALSE(model.data(model.ItemIndex(0, 0), Qt::DecorationRole).value<QIcon>().isNull());

    load = app::LoadCatalogue(doc, dir / "missing.xml", model);
    EXPECT_FALSE(load.Ok);
    EXPECT_FALSE(load.Error.empty());
    EXPECT_EQ(model.CategoryCount(), 0);
    EXPECT_FALSE(doc.Active());
}

TEST(LoadCatalogue, StateIndexIsKeptPerItem) {
    TTempDir dir;
    test::EnsureApp();
    test::WriteFile(dir / "c.xml", test::Catalogue({{"A", 2}}));
    app::TImageList images;
    app::TWinksTreeModel model(images);
    platform::TXMLDocument doc;
    ASSERT_TRUE(app::LoadCatalogue(doc, dir / "c.xml", model).Ok);
    EXPECT_EQ(model.StateIndex(model.ItemIndex(0, 1)), 0);
    model.SetStateIndex(model.ItemIndex(0, 1), 2);
    EXPECT_EQ(model.StateIndex(model.ItemIndex(0, 1)), 2);
    EXPECT_EQ(model.StateIndex(model.ItemIndex(0, 0)), 0);
}

// A caption is written as Qt folds it, also when it turns out not to be ASCII part-way, and the
// string grows when it has no room left (an empty caption writes nothing).
TEST(WriteFoldedCaption, AsQtFoldsIt) {
    for (const char* caption :
         {"", "Wink number 7", "AZ az @[`{ 09", "Straße", "KISS É", "ΣΊΣΥΦΟΣ", "Кошка"}) {
        const QString expected = QString::fromUtf8(caption).toCaseFolded();
        const std::string_view utf8(caption);
        for (const qsizetype room : {qsizetype{0}, static_cast<qsizetype>(utf8.size())}) {
            QString folded = QStringLiteral("Kept|") + QString(room, QChar('#'));
            const qsizetype end = app::WriteFoldedCaption(folded, 5, utf8);
            EXPECT_EQ(folded.first(end), QStringLiteral("Kept|") + expected) << caption;
            EXPECT_GE(folded.size(), end) << caption;
        }
    }
}
