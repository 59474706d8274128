// The Find filter on a catalogue loaded into a tree view as the window's, offscreen.
#include "app/CatalogueFilter.h"
#include "app/WinksCatalogue.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>

using namespace zephyrine;

namespace {

constexpr const char* kCatalogue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<WinksList>\n"
    "  <Love><Wink WinkName=\"Kiss\"/><Wink WinkName=\"Beating Heart\"/>"
    "<Wink WinkName=\"Rose\"/></Love>\n"
    "  <Funny><Wink WinkName=\"Kissing Fish\"/><Wink WinkName=\"Pie\"/></Funny>\n"
    "  <Empty/>\n"
    "  <World><Wink WinkName=\"Straße\"/><Wink WinkName=\"ÉCLAIR\"/>"
    "<Wink WinkName=\"Кошка\"/><Wink WinkName=\"Hello\"/></World>\n"
    "</WinksList>\n";

class CatalogueFilter : public ::testing::Test {
  protected:
    CatalogueFilter() {
        test::WriteFile(dir / "WinksList.dat", kCatalogue);
        view.setModel(&model);
        view.show();
        Load();
        filter = std::make_unique<app::TCatalogueFilter>(&view);
    }
    void Load() {
        ASSERT_TRUE(app::LoadCatalogue(doc, dir / "WinksList.dat", model).Ok);
        view.expand(model.CategoryIndex(0));
    }
    // The captions a model holds, category by category: "Love:Kiss,Rose".
    static std::vector<std::string> Rows(const QAbstractItemModel& m) {
        std::vector<std::string> rows;
        for (int c = 0; c < m.rowCount(); ++c) {
            const QModelIndex category = m.index(c, 0);
            std::string row = category.data().toString().toStdString() + ":";
            for (int i = 0; i < m.rowCount(category); ++i)
                row += (i ? "," : "") + m.index(i, 0, category).data().toString().toStdString();
            rows.push_back(row);
        }
        return rows;
    }
    // The captions the view shows.
    std::vector<std::string> Shown() { return Rows(*view.model()); }
    QModelIndex Item(int c, int i) { return model.ItemIndex(c, i); }
    QModelIndex Selected() {
        const QModelIndexList s = view.selectionModel()->selectedIndexes();
        return s.isEmpty() ? QModelIndex() : filter->SourceIndex(s.front());
    }

    QApplication& app = test::EnsureApp();  // before the images
    test::TTempDir dir;
    app::TImageList images;
    platform::TXMLDocument doc;
    app::TWinksTreeModel model{images};
    QTreeView view;
    std::unique_ptr<app::TCatalogueFilter> filter;
};

using TRows = std::vector<std::string>;

TEST_F(CatalogueFilter, ShowsMatchingItemsWithTheirCategoriesCaseBlind) {
    const struct {
        const char* text;
        TRows rows;
    } cases[] = {
        {"kis", {"Love:Kiss", "Funny:Kissing Fish"}},
        {"KISSI", {"Funny:Kissing Fish"}},
        {"e", {"Love:Beating Heart,Rose", "Funny:Pie", "World:Straße,Hello"}},  // not É
        {"éclair", {"World:ÉCLAIR"}},
        {"КОШ", {"World:Кошка"}},
        {"STRASSE", {}},  // simple case folding: ß is not ss
        {"straße", {"World:Straße"}},
        {"nothing like it", {}},
    };
    for (const auto& c : cases) {
        filter->SetText(QString::fromUtf8(c.text));
        EXPECT_EQ(Shown(), c.rows) << c.text;
        int items = 0;  // a row holds one item more than commas
        for (const std::string& r : c.rows)
            items += 1 + static_cast<int>(std::count(r.begin(), r.end(), ','));
        EXPECT_EQ(filter->ShownCount(), items) << c.text;
        for (int row = 0; row < view.model()->rowCount(); ++row)
            EXPECT_TRUE(view.isExpanded(view.model()->index(row, 0))) << c.text;
    }
}

TEST_F(CatalogueFilter, TypingOnAndBackGivesWhatAFreshFilterGives) {
    int shownSignalled = -1;
    QObject::connect(filter.get(), &app::TCatalogueFilter::CountsChanged,
                     [&](int shown, int total) {
                         shownSignalled = shown;
                         EXPECT_EQ(total, 9);
                     });
    // The same words typed afresh in a second view of the same catalogue.
    QTreeView other;
    other.setModel(&model);
    for (const char* text : {"k", "ki", "kis", "kiss", "kissi", "kiss", "ki", "i"}) {
        filter->SetText(text);
        app::TCatalogueFilter fresh(&other);
        fresh.SetText(text);
        EXPECT_EQ(Shown(), Rows(fresh)) << text;
        EXPECT_EQ(shownSignalled, filter->ShownCount()) << text;
        fresh.Clear();
    }
    filter->SetText("kis");
    EXPECT_EQ(filter->CountText(), "2 of 9 shown");
    filter->Clear();
    EXPECT_EQ(filter->CountText(), "");
    EXPECT_EQ(filter->ShownCount(), 9);
}

TEST_F(CatalogueFilter, ClearingRestoresExpansionSelectionAndChecks) {
    view.collapse(model.CategoryIndex(0));
    view.expand(model.CategoryIndex(3));
    view.selectionModel()->setCurrentIndex(Item(3, 1), QItemSelectionModel::ClearAndSelect);
    model.setData(Item(0, 1), Qt::Checked, Qt::CheckStateRole);  // Beating Heart
    const TRows before = Shown();

    filter->SetText("kis");
    EXPECT_EQ(view.model(), filter.get());
    EXPECT_FALSE(Selected().isValid());  // the selected item is not shown
    // A check set while filtering is the catalogue's; a hidden one stays set.
    view.model()->setData(view.model()->index(0, 0, view.model()->index(1, 0)), Qt::Checked,
                          Qt::CheckStateRole);
    EXPECT_EQ(model.StateIndex(Item(1, 0)), 2);
    EXPECT_EQ(model.StateIndex(Item(0, 1)), 2);
    filter->SetText("kiss");

    filter->Clear();
    EXPECT_EQ(view.model(), &model);
    EXPECT_EQ(Shown(), before);
    EXPECT_FALSE(view.isExpanded(model.CategoryIndex(0)));
    EXPECT_FALSE(view.isExpanded(model.CategoryIndex(1)));
    EXPECT_TRUE(view.isExpanded(model.CategoryIndex(3)));
    EXPECT_EQ(Selected(), Item(3, 1));
    EXPECT_EQ(model.StateIndex(Item(0, 1)), 2);
    EXPECT_EQ(model.StateIndex(Item(1, 0)), 2);
    EXPECT_EQ(model.data(Item(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(CatalogueFilter, AnItemPickedWhileFilteringStaysSelectedAndInSight) {
    view.selectionModel()->setCurrentIndex(Item(0, 0), QItemSelectionModel::ClearAndSelect);
    filter->SetText("fish");
    view.selectionModel()->setCurrentIndex(filter->FilterIndex(Item(1, 0)),
                                           QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(Selected(), Item(1, 0));
    filter->SetText("fis");  // the pick survives the next keystroke
    EXPECT_EQ(Selected(), Item(1, 0));
    filter->Clear();
    EXPECT_EQ(Selected(), Item(1, 0));
    EXPECT_TRUE(view.isExpanded(model.CategoryIndex(1)));
}

// Beginning and clearing a filter switch the view's model; nothing a switch makes may stay
// behind, listening to the models, however often the user types and clears.
TEST_F(CatalogueFilter, SwitchingModelsLeavesNoSelectionModelBehind) {
    for (const char* text : {"kis", "", "kis", "", "kis"}) {
        filter->SetText(text);
        EXPECT_EQ(view.findChildren<QItemSelectionModel*>().size(), 1) << text;  // the view's own
        EXPECT_EQ(view.header()->selectionModel(), view.selectionModel()) << text;
    }
}

TEST_F(CatalogueFilter, TheFirstKeystrokeAfterALoadSearchesTheNewCaptions) {
    filter->SetText("kis");  // the first load's captions read
    filter->Clear();
    test::WriteFile(dir / "WinksList.dat",
                    "<WinksList><New><Wink WinkName=\"Hi\"/><Wink WinkName=\"Kiss Again\"/>"
                    "<Wink WinkName=\"KISSES\"/></New></WinksList>");
    Load();
    EXPECT_EQ(filter->TotalCount(), 3);
    filter->SetText("kiss");
    EXPECT_EQ(Shown(), TRows({"New:Kiss Again,KISSES"}));
    EXPECT_EQ(filter->CountText(), "2 of 3 shown");
    filter->Clear();
    EXPECT_EQ(Shown(), TRows({"New:Hi,Kiss Again,KISSES"}));
}

TEST_F(CatalogueFilter, ANewLoadUnderAnActiveFilterIsFilteredAgain) {
    filter->SetText("kis");
    test::WriteFile(dir / "WinksList.dat",
                    "<WinksList><New><Wink WinkName=\"Kiss Again\"/><Wink WinkName=\"Hi\"/>"
                    "</New></WinksList>");
    Load();
    EXPECT_EQ(view.model(), filter.get());
    EXPECT_EQ(Shown(), TRows({"New:Kiss Again"}));
    EXPECT_EQ(filter->CountText(), "1 of 2 shown");
    filter->Clear();
    EXPECT_EQ(Shown(), TRows({"New:Kiss Again,Hi"}));
    EXPECT_TRUE(view.isExpanded(model.CategoryIndex(0)));
}

}  // namespace
