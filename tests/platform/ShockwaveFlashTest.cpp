// The preview control playing real movies (made by zephyrine-swfwriter) offscreen, from a local
// path and from a real HTTP server, and reporting what cannot be played.
#include "support/ColourSquare.h"
#include "support/LocalHttpServer.h"
#include "platform/ShockwaveFlash.h"

#include <QApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <optional>

using zephyrine::mediatest::FindSquare;
using zephyrine::mediatest::Run;
using zephyrine::mediatest::TBox;
using zephyrine::mediatest::TLocalHttpServer;
using zephyrine::mediatest::TTempFolder;
using zephyrine::mediatest::WriteText;
using zephyrine::platform::TShockwaveFlash;

namespace {

constexpr int kFirstFrameTimeoutMs = 60000;

std::string SwfWriter() {
    const char* exe = std::getenv("ZEPHYRINE_SWFWRITER");
    return exe ? exe : "zephyrine-swfwriter";
}

void MakeSwf(const std::string& path, const std::string& colour) {
    ASSERT_EQ(Run({SwfWriter(), path, "--colour", colour, "--size", "60"}), 0);
}

// The square's box in a grab of the view; a small view shows fewer pixels of it.
std::optional<TBox> FindColour(const QImage& image, const QColor& colour) {
    return FindSquare(image, colour, 100);
}

// Runs the event loop until condition() holds; the limit only ends a wait that has failed.
template <typename F>
bool Await(F condition, int limitMs = kFirstFrameTimeoutMs) {
    return QTest::qWaitFor(condition, limitMs);
}

class ShockwaveFlashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        flash = std::make_unique<TShockwaveFlash>();
        flash->resize(433, 312);
        flash->show();
    }
    void TearDown() override { flash.reset(); }

    // Plays and waits for the first frame or a failure; true on the first frame.
    bool PlayAndWait(const std::string& movie, QString* failure = nullptr) {
        QSignalSpy frames(flash.get(), &TShockwaveFlash::FirstFrameDrawn);
        QSignalSpy failures(flash.get(), &TShockwaveFlash::MovieFailed);
        flash->SetMovie(movie);
        flash->Play();
        Await([&] { return !frames.isEmpty() || !failures.isEmpty(); });
        if (failure && !failures.isEmpty()) *failure = failures.first().first().toString();
        return !frames.isEmpty();
    }

    // The square is drawn in the pane, and a later grab shows it elsewhere, of the same size.
    void ExpectMovingSquare(QColor colour) {
        std::optional<TBox> first, second;
        ASSERT_TRUE(Await([&] {
            return (first = FindColour(flash->View()->grab().toImage(), colour)).has_value();
        })) << "the square is not drawn";
        ASSERT_TRUE(Await([&] {
            second = FindColour(flash->View()->grab().toImage(), colour);
            return second && second->left != first->left;
        })) << "the square did not move";
        EXPECT_NEAR(first->bottom - first->top, second->bottom - second->top, 3);
    }

    // Runs a script in the pane's page and waits for its result.
    QString Evaluate(const QString& script) {
        QString result;
        bool done = false;
        flash->View()->page()->runJavaScript(script, [&](const QVariant& v) {
            result = v.toString();
            done = true;
        });
        Await([&] { return done; });
        return result;
    }

    // The player shows its own error screen.
    bool PlayerShowsError() {
        return Await([&] {
            return Evaluate("String(!!document.querySelector('#stage > *').shadowRoot"
                            ".querySelector('#panic'))") == "true";
        });
    }

    TTempFolder dir;
    std::unique_ptr<TShockwaveFlash> flash;
};

TEST_F(ShockwaveFlashTest, PlaysLocalMovieAndReusesThePageForTheNext) {
    MakeSwf(dir / "red.swf", "E02020");
    MakeSwf(dir / "blue.swf", "2020E0");
    EXPECT_EQ(flash->View(), nullptr) << "the web view is made on the first preview only";

    QString failure;
    ASSERT_TRUE(PlayAndWait(dir / "red.swf", &failure)) << failure.toStdString();
    ExpectMovingSquare(QColor(0xE0, 0x20, 0x20));
    QWebEngineView* view = flash->View();

    ASSERT_TRUE(PlayAndWait(dir / "blue.swf", &failure)) << failure.toStdString();
    EXPECT_EQ(flash->View(), view);
    ExpectMovingSquare(QColor(0x20, 0x20, 0xE0));
    EXPECT_FALSE(FindColour(flash->View()->grab().toImage(), QColor(0xE0, 0x20, 0x20)));
    EXPECT_EQ(flash->Movie(), dir / "blue.swf");
}

TEST_F(ShockwaveFlashTest, PlaysHttpMovie) {
    MakeSwf(dir / "green.swf", "20C020");
    TLocalHttpServer server(dir.Path());
    QString failure;
    ASSERT_TRUE(PlayAndWait(server.Root() + "/green.swf", &failure)) << failure.toStdString();
    ExpectMovingSquare(QColor(0x20, 0xC0, 0x20));
}

TEST_F(ShockwaveFlashTest, ReportsWhatCannotBePlayed) {
    WriteText(dir / "notes.swf", "this is not a movie");
    MakeSwf(dir / "good.swf", "E02020");
    TLocalHttpServer server(dir.Path());
    QString failure;

    EXPECT_FALSE(PlayAndWait(server.Root() + "/missing.swf", &failure));
    EXPECT_NE(failure.indexOf("HTTP 404"), -1) << failure.toStdString();
    EXPECT_TRUE(PlayerShowsError());

    failure.clear();
    EXPECT_FALSE(PlayAndWait(dir / "gone.swf", &failure));
    EXPECT_NE(failure.indexOf("does not exist"), -1) << failure.toStdString();

    failure.clear();
    EXPECT_FALSE(PlayAndWait(server.Root() + "/notes.swf", &failure));
    EXPECT_NE(failure.indexOf("is not a SWF movie"), -1) << failure.toStdString();

    // A local file is checked before the player is given it: the one report is the check's,
    // and the pane is emptied.
    WriteText(dir / "empty.swf", "");
    for (const char* name : {"notes.swf", "empty.swf"}) {
        QSignalSpy failures(flash.get(), &TShockwaveFlash::MovieFailed);
        flash->SetMovie(dir / name);
        flash->Play();
        ASSERT_EQ(failures.size(), 1) << name;
        failure = failures.first().first().toString();
        EXPECT_NE(failure.indexOf("is not a SWF movie"), -1) << failure.toStdString();
        EXPECT_EQ(flash->LastError(), failure);
        EXPECT_EQ(Evaluate("String(document.querySelector('#stage > *'))"), "null");
    }

    // A failure does not spoil the pane for the next movie.
    ASSERT_TRUE(PlayAndWait(dir / "good.swf", &failure)) << failure.toStdString();
    ExpectMovingSquare(QColor(0xE0, 0x20, 0x20));
}

TEST_F(ShockwaveFlashTest, RefusesMoviesThatAreNeitherUrlNorFullPath) {
    for (const char* movie : {"", "relative/movie.swf", "ftp://127.0.0.1/a.swf", "javascript:1"}) {
        flash->SetMovie(movie);
        EXPECT_THROW(flash->Play(), std::runtime_error) << movie;
    }
}

// The stored settings reach the player as its options; the fixed ones keep it from opening
// menus, windows or scripts of its own.
TEST_F(ShockwaveFlashTest, SettingsBecomeThePlayersOptions) {
    zephyrine::platform::TFlashSettings settings;
    settings.Quality2 = "Low";
    settings.Scale = "NoScale";
    settings.BGColor = "#00FF00";
    flash = std::make_unique<TShockwaveFlash>(nullptr, settings);
    flash->resize(433, 312);
    flash->show();
    MakeSwf(dir / "red.swf", "E02020");
    ASSERT_TRUE(PlayAndWait(dir / "red.swf"));
    const QJsonObject config =
        QJsonDocument::fromJson(
            Evaluate("JSON.stringify(document.querySelector('#stage > *').loadedConfig)").toUtf8())
            .object();
    EXPECT_EQ(config["quality"].toString(), "low");
    EXPECT_EQ(config["scale"].toString(), "noscale");
    EXPECT_EQ(config["backgroundColor"].toString(), "#00FF00");
    EXPECT_EQ(config["wmode"].toString(), "window");
    EXPECT_EQ(config["allowNetworking"].toString(), "all");
    EXPECT_EQ(config["allowFullscreen"].toBool(true), false);
    EXPECT_EQ(config["autoplay"].toString(), "on");
    EXPECT_EQ(config["contextMenu"].toString(), "off");
    EXPECT_EQ(config["openUrlMode"].toString(), "deny");
    EXPECT_EQ(config["splashScreen"].toBool(true), false);
    EXPECT_EQ(config["allowScriptAccess"].toBool(true), false);
    EXPECT_EQ(config["polyfills"].toBool(true), false);

    const auto defaults = TShockwaveFlash().Settings();
    EXPECT_EQ(defaults.Quality2, "High");
    EXPECT_EQ(defaults.Scale, "ShowAll");
    EXPECT_TRUE(defaults.Loop);
    EXPECT_EQ(defaults.AllowFullScreen, "false");
}

// The page may read local files only from the folder of the movie shown and the folders added.
TEST_F(ShockwaveFlashTest, PageReadsOnlyPermittedLocalFiles) {
    WriteText(dir / "shown/beside.txt", "beside");
    MakeSwf(dir / "shown/movie.swf", "E02020");
    WriteText(dir / "other/secret.txt", "secret");
    WriteText(dir / "extra/allowed.txt", "allowed");
    std::filesystem::create_symlink(dir / "other/secret.txt", dir / "shown/link.txt");
    flash->AddPermittedFolder(dir / "extra");
    ASSERT_TRUE(PlayAndWait(dir / "shown/movie.swf"));

    const auto fetch = [&](const std::string& path) {
        return Evaluate(
                   QString("(() => { const x = new XMLHttpRequest(); x.open('GET', "
                           "'zephyrine-flash://player/fetch?url=' + encodeURIComponent('%1'), "
                           "false); x.send(); return x.getResponseHeader('Content-Type') + '|' + "
                           "x.responseText; })()")
                       .arg(QUrl::fromLocalFile(QString::fromStdString(path)).toString()))
            .toStdString();
    };
    EXPECT_NE(fetch(dir / "shown/beside.txt").find("|beside"), std::string::npos);
    EXPECT_NE(fetch(dir / "extra/allowed.txt").find("|allowed"), std::string::npos);
    for (const std::string& path :
         {dir / "other/secret.txt", dir / "shown/link.txt", std::string("/etc/passwd")}) {
        const std::string answer = fetch(path);
        EXPECT_NE(answer.find("\"status\":403"), std::string::npos) << path << ": " << answer;
        EXPECT_EQ(answer.find("|secret"), std::string::npos);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Qt and the browser engine write their runtime and cache files here, not in the user's.
    TTempFolder home;
    setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    TShockwaveFlash::PrepareProcess();
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
