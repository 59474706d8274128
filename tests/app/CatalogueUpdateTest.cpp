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

// ---- The Upgrade command's unit, driven without a window -------------------------------------

#include "app/CatalogueUpgrade.h"
#include "support/ScriptedServer.h"

#include <QSignalSpy>

namespace {

using httpclient::test::Reply;
using httpclient::test::TScriptedServer;

std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct TUpgradeSignals {
    explicit TUpgradeSignals(app::TCatalogueUpgrade& u)
        : status(&u, &app::TCatalogueUpgrade::StatusText),
          message(&u, &app::TCatalogueUpgrade::Message),
          running(&u, &app::TCatalogueUpgrade::RunningChanged),
          shown(&u, &app::TCatalogueUpgrade::ProgressShown) {
        QObject::connect(&u, &app::TCatalogueUpgrade::CatalogueReplaced,
                         [this](const platform::TXMLDocument& doc) {
                             replaced.push_back(doc.DocumentElement().ChildNodes().Count());
                         });
    }
    QString LastStatus() const { return status.isEmpty() ? "" : status.last()[0].toString(); }
    QSignalSpy status, message, running, shown;
    std::vector<int> replaced;  // categories of each catalogue handed over
};

}  // namespace

TEST(CatalogueUpgrade, NoNewsAReplacementAndAnAbortBeforeTheRequest) {
    test::EnsureApp();
    test::TTempDir dir;
    WriteFile(dir / "WinksList.dat", test::Catalogue({{"Love", 2}}));
    app::TGlobal global(dir.Folder(), "http://content.test");
    const std::string count = Ok("[Config]\r\nCurrentWinks=3\r\n");
    const std::string list = Ok(test::Catalogue({{"Love", 2}, {"New", 1}}));
    {
        TScriptedServer server({Reply(count)});
        app::TCatalogueUpgrade upgrade(global, server.Url(""));
        TUpgradeSignals s(upgrade);
        upgrade.Run(3);
        EXPECT_EQ(s.LastStatus(), "0 New Winks Found in server.");
        ASSERT_EQ(s.running.size(), 2);
        EXPECT_FALSE(upgrade.Running());
        EXPECT_TRUE(s.message.isEmpty());
        EXPECT_TRUE(s.shown.isEmpty());
    }
    {
        TScriptedServer server({Reply(count), Reply(list)});
        app::TCatalogueUpgrade upgrade(global, server.Url(""));
        TUpgradeSignals s(upgrade);
        upgrade.Run(2);
        ASSERT_EQ(s.message.size(), 1);
        EXPECT_EQ(s.message[0][0].toString(),
                  "Total 1 new Winks have been downloaded successfully from server.");
        EXPECT_EQ(s.replaced, std::vector<int>{2});
        EXPECT_EQ(global.CurrentWinks, 3);
        EXPECT_EQ(test::ReadFile(dir / "WinksList.dat"),
                  test::Catalogue({{"Love", 2}, {"New", 1}}));
        ASSERT_EQ(s.shown.size(), 2);  // shown for the download, then hidden
        EXPECT_FALSE(s.shown[1][0].toBool());
    }
    {
        // An abort while nothing runs is no abort of the next update.
        TScriptedServer server({Reply(Ok("[Config]\r\nCurrentWinks=3\r\n"))});
        app::TCatalogueUpgrade upgrade(global, server.Url(""));
        TUpgradeSignals s(upgrade);
        upgrade.Abort();
        upgrade.Run(3);
        EXPECT_EQ(s.LastStatus(), "0 New Winks Found in server.");
    }
}
