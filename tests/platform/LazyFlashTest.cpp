// The program's preview control: it loads the player library only when a movie is played, passes
// the player's signals on, and reports a missing library as an error of Play.
#include "platform/LazyFlash.h"
#include "support/LocalHttpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <link.h>

using namespace zephyrine::platform;
using zephyrine::mediatest::TTempFolder;

namespace {

bool EngineLoaded() {
    bool found = false;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (std::string(info->dlpi_name).find("libQt6WebEngineCore") != std::string::npos)
                *static_cast<bool*>(data) = true;
            return 0;
        },
        &found);
    return found;
}

bool WaitFor(const QSignalSpy& spy, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (spy.isEmpty() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return !spy.isEmpty();
}

TEST(LazyFlashTest, LoadsThePlayerOnTheFirstPlayOnly) {
    TTempFolder dir;
    ASSERT_EQ(zephyrine::mediatest::Run({std::getenv("ZEPHYRINE_SWFWRITER"), dir / "m.swf"}), 0);
    TLazyFlash flash;
    flash.resize(433, 312);
    flash.show();
    flash.SetMovie(dir / "m.swf");
    QApplication::processEvents();
    EXPECT_EQ(flash.Player(), nullptr);
    EXPECT_FALSE(EngineLoaded()) << "a start without a preview never loads the browser engine";

    QSignalSpy frames(&flash, &TLazyFlash::FirstFrameDrawn);
    flash.Play();
    ASSERT_NE(flash.Player(), nullptr);
    EXPECT_TRUE(EngineLoaded());
    EXPECT_EQ(flash.Player()->Movie(), dir / "m.swf");
    QElapsedTimer t;
    t.start();
    while (frames.isEmpty() && t.elapsed() < 60000)
        QApplication::processEvents();
    EXPECT_EQ(frames.size(), 1) << "the player's signal is passed on";

    QSignalSpy failures(&flash, &TLazyFlash::MovieFailed);
    flash.SetMovie(dir / "missing.swf");
    flash.Play();
    t.restart();
    while (failures.isEmpty() && t.elapsed() < 30000)
        QApplication::processEvents();
    EXPECT_EQ(failures.size(), 1);
}

// Once shown, the control starts the player by itself; the warm-up's blank movie reports
// nothing, and the first movie handed over afterwards plays in the player already made.
TEST(LazyFlashTest, WarmsUpOnceShownAndPlaysAfterwards) {
    TTempFolder dir;
    ASSERT_EQ(zephyrine::mediatest::Run({std::getenv("ZEPHYRINE_SWFWRITER"), dir / "m.swf"}), 0);
    TLazyFlash flash;
    QSignalSpy warm(&flash, &TLazyFlash::WarmedUp);
    QSignalSpy frames(&flash, &TLazyFlash::FirstFrameDrawn);
    QSignalSpy failures(&flash, &TLazyFlash::MovieFailed);
    flash.WarmUpWhenShown();
    EXPECT_EQ(flash.Player(), nullptr) << "nothing starts before the control is shown";
    flash.resize(433, 312);
    flash.show();
    ASSERT_TRUE(WaitFor(warm, 60000)) << "no warm-up";
    TFlashControl* player = flash.Player();
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(frames.isEmpty());
    EXPECT_TRUE(failures.isEmpty());

    flash.SetMovie(dir / "m.swf");
    flash.Play();
    ASSERT_TRUE(WaitFor(frames, 60000)) << "no first frame after the warm-up";
    EXPECT_EQ(flash.Player(), player);
    EXPECT_TRUE(failures.isEmpty());
}

TEST(LazyFlashTest, MissingPlayerLibraryIsAnErrorOfPlay) {
    TLazyFlash flash(nullptr, {}, "/nonexistent");
    QSignalSpy warm(&flash, &TLazyFlash::WarmedUp);
    flash.WarmUp();
    ASSERT_TRUE(WaitFor(warm, 10000)) << "a warm-up without a library ends all the same";
    flash.SetMovie("http://127.0.0.1:1/a.swf");
    try {
        flash.Play();
        ADD_FAILURE() << "played without a player";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot be loaded"), std::string::npos) << e.what();
    }
    EXPECT_EQ(flash.Player(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    TTempFolder home;
    setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    TLazyFlash::PrepareProcess();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
