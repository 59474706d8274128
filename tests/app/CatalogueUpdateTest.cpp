// The rule for a downloaded catalogue, on files: the status range and the load.
#include "app/CatalogueUpdate.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

using namespace zephyrine;
using test::WriteFile;

TEST(CatalogueUpdate, OnlyASuccessStatusAndALoadableCatalogueWithItemsAreAccepted) {
    test::TTempDir dir;
    WriteFile(dir / "good", test::Catalogue({{"Love", 2}, {"Funny", 1}}));
    WriteFile(dir / "nameless", "<WinksList><Love><Wink SwfUrl=\"a.swf\"/></Love></WinksList>");
    const struct {
        int code;
        const char* file;
        int items;  // -1: refused
    } cases[] = {{200, "good", 3},      {299, "good", 3},     {199, "good", -1},
                 {300, "good", -1},     {0, "good", -1},      {200, "missing", -1},
                 {200, "nameless", -1}, {204, "nameless", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + c.file);
        platform::TXMLDocument doc;
        doc.SetFileName(dir / c.file);
        if (c.items < 0) {
            EXPECT_THROW(app::AcceptDownloadedCatalogue(c.code, doc), app::ECatalogueRefused);
        } else {
            EXPECT_EQ(app::AcceptDownloadedCatalogue(c.code, doc), c.items);
            EXPECT_TRUE(doc.Active());
        }
    }
}
