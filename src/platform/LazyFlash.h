// The preview control as the program holds it: a light widget that loads the web-engine player
// (TShockwaveFlash, in the shared library libzephyrine_flash.so beside the executable) on the
// first Play, so that a start without a preview never loads the browser engine.
#pragma once

#include "platform/ShockwaveFlash.h"

#include <string>

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

    // The loaded player, nullptr before the first Play.
    TFlashControl* Player() const { return player_; }

  signals:
    void MovieFailed(const QString& message);  // as TShockwaveFlash's
    void FirstFrameDrawn();

  private:
    void Load();

    TFlashSettings settings_;
    std::string movie_;
    std::string libraryFolder_;
    TFlashControl* player_ = nullptr;  // child of this
};

}  // namespace zephyrine::platform
