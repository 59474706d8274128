// The content-file install driven directly: a real cabinet unpacked by cabextract, the real
// embedded server on a port the system picks, and an installer that records the hand-over.
#include "app/ContentFileInstall.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace zephyrine;
using test::ReadFile;

namespace {

class TRecordingInstaller : public platform::IMessengerContentInstaller {
  public:
    explicit TRecordingInstaller(std::vector<std::string>& log) : log_(log) {}
    void InstallFromUrl(const std::string& url) override { log_.push_back(url); }

  private:
    std::vector<std::string>& log_;
};

class ContentFileInstall : public ::testing::Test {
  protected:
    ContentFileInstall()
        : runtime("XDG_RUNTIME_DIR", dir.Folder()),
          tmp("TMPDIR", dir / "tmp"),
          global((test::EnsureApp(), dir / "app"), "http://content.test"),
          queue([this] { return std::make_unique<TRecordingInstaller>(handedOver); }),
          unit(global, server, queue, nullptr),
          movies(&unit, &app::TContentFileInstall::PreviewMovie),
          status(&unit, &app::TContentFileInstall::StatusText) {
        std::filesystem::create_directories(dir / "tmp");
        server.SetListenPort(0);
        server.SetSearchFolders(global.AppFolder + app::kPackFolder);
    }

    // An .mco: an outer cabinet of a.xml and an inner pack holding pack's files; edit may change
    // the inner pack's bytes first.
    std::string Mco(const std::vector<std::pair<std::string, std::string>>& pack,
                    const std::function<void(std::string&)>& edit = {}) {
        EXPECT_TRUE(mediatest::MakeCabinet(dir / "pack.cab", pack));
        std::string inner = ReadFile(dir / "pack.cab");
        if (edit) edit(inner);
        EXPECT_TRUE(
            mediatest::MakeCabinet(dir / "x.mco", {{"a.xml", "<a/>"}, {"pack.cab", inner}}));
        return dir / "x.mco";
    }

    test::TTempDir dir;
    test::TScopedEnv runtime, tmp;
    app::TGlobal global;
    server::TCustomWebServer server;
    std::vector<std::string> handedOver;
    app::TInstallQueue queue;
    app::TContentFileInstall unit;
    QSignalSpy movies, status;
};

TEST_F(ContentFileInstall, UnpacksPreviewsAndHandsTheWholeCabinetOverByItsLoopbackUrl) {
    const std::string file = Mco({{"wink.swf", "FWS"}});
    unit.UnpackAndPreview(file);
    ASSERT_EQ(movies.size(), 1);
    EXPECT_EQ(movies[0][0].toString().toStdString(), global.TempFolder + "~MSNContent/wink.swf");
    unit.InstallFileThroughServer("", file);
    ASSERT_TRUE(server.Listening());
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.ServingPort()) + "/temppack11.cab";
    EXPECT_EQ(unit.LocalPackUrl(), url);
    EXPECT_EQ(handedOver, std::vector<std::string>{url});
    EXPECT_EQ(ReadFile(global.AppFolder + "msnpack/temppack11.cab"), ReadFile(file));
    EXPECT_TRUE(queue.Pending());
    EXPECT_EQ(status.last()[0].toString(), " Installing..");
}

TEST_F(ContentFileInstall, ARefusedPreviewIsSaidAndTheFileStillInstalls) {
    // gcab stores no "../": the name is written in afterwards.
    const std::string file = Mco({{"XX/escape.swf", "FWS"}}, [](std::string& inner) {
        inner.replace(inner.find("XX\\escape.swf"), 2, "..");
    });
    unit.UnpackAndPreview(file);
    EXPECT_TRUE(movies.isEmpty());
    const QString refusal = "The content file names a file outside its folder: ..\\escape.swf";
    EXPECT_EQ(status.last()[0].toString(), refusal);
    unit.InstallFileThroughServer("", file);
    EXPECT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(status.last()[0].toString(), " Installing.. Not previewed: " + refusal);
    EXPECT_THROW(unit.InstallFileThroughServer("", (dir / "missing.mco")), std::runtime_error);
}

// In the background: the texts and hand-over of the two calls; a preview dropped meanwhile is
// not shown, and what the install throws reaches done.
TEST_F(ContentFileInstall, InTheBackgroundADroppedPreviewIsNotShownAndFailuresReachDone) {
    const auto open = [&](const std::string& file, bool dropPreview) {
        std::exception_ptr failure;
        bool done = false;
        unit.OpenInBackground("", file, [&](std::exception_ptr f) {
            failure = f;
            done = true;
        });
        EXPECT_TRUE(unit.Opening());
        if (dropPreview) unit.DropPendingPreview();
        EXPECT_TRUE(test::Eventually([&] {
            QCoreApplication::processEvents();
            return done;
        }, 30000));
        EXPECT_FALSE(unit.Opening());
        return failure;
    };
    const std::string file = Mco({{"wink.swf", "FWS"}});
    EXPECT_FALSE(open(file, true));
    EXPECT_TRUE(movies.isEmpty());
    EXPECT_EQ(ReadFile(global.TempFolder + "~MSNContent/wink.swf"), "FWS") << "unpacked all the same";
    EXPECT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(ReadFile(global.AppFolder + "msnpack/temppack11.cab"), ReadFile(file));
    EXPECT_EQ(status.last()[0].toString(), " Installing..");
    const std::exception_ptr failure = open(dir / "missing.mco", false);
    EXPECT_THROW(std::rethrow_exception(failure), std::runtime_error);
    EXPECT_EQ(handedOver.size(), 1u);
}

}  // namespace
