// The preview control as the program holds it: a light widget that loads the web-engine player
// (TShockwaveFlash, in the shared library libzephyrine_flash.so beside the executable) on the
// first WarmUp or Play, so that the browser engine is never loaded before the program asks.
#pragma once

#include "platform/ShockwaveFlash.h"

#include <string>
#include <thread>

namespace zephyrine::platform {

class TLazyFlash : public TFlashControl {
    Q_OBJECT

  public:
    static constexpr const char* kLibraryName = "libzephyrine_flash.so";

    // Before the QApplication exists: what the browser engine needs set that early.
    static void PrepareProcess();

    explicit TLazyFlash(QWidget* parent = nullptr, TFlashSettings settings = {},
                        std::string libraryFolder = {});  // default: the executable's folder
    ~TLazyFlash() override;

    void SetMovie(const std::string& movie) override;
    std::string Movie() const override;
    // Throws std::runtime_error when the player cannot be loaded, or as TShockwaveFlash::Play.
    void Play() override;
    // Loads the library on a thread of its own (the window stays live), then starts the player
    // on the event loop. A library that cannot be loaded is reported by the next Play.
    void WarmUp() override;
    // WarmUp once the control has been painted and the event loop is idle again.
    void WarmUpWhenShown();

    // The loaded player, nullptr before it is made.
    TFlashControl* Player() const { return player_; }

  signals:
    void MovieFailed(const QString& message);  // as TShockwaveFlash's
    void FirstFrameDrawn();
    void WarmedUp();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void Load();
    void FinishWarmUp();
    std::string LibraryPath() const { return libraryFolder_ + kLibraryName; }

    TFlashSettings settings_;
    std::string movie_;
    std::string libraryFolder_;
    TFlashControl* player_ = nullptr;  // child of this
    bool warmUpWhenShown_ = false;
    bool warmUpStarted_ = false;
    std::thread loader_;  // loads the library for WarmUp; joined before the player is made
};

}  // namespace zephyrine::platform
