// The Flash preview control: a web view hosting the Ruffle player, created on the first preview
// and reused for every later one.
#pragma once

#include "platform/Platform.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>

class QWebEngineProfile;
class QWebEngineView;

namespace zephyrine::platform {

class TFlashSchemeHandler;
class TFlashPage;

// The stored settings of the control. Those with a counterpart among the player's options are
// passed on: play on load, quality, scaling, window mode, alignment, background, base, menu,
// networking and full screen. Ruffle has no loop switch (a root timeline always loops), so Loop
// and the rest are kept for the callers only.
struct TFlashSettings {
    std::string Movie, Base, SAlign, BGColor, SWRemote, MovieData;
    std::string WMode = "Window";
    bool Playing = true;  // play on load
    bool Loop = true;
    std::string Quality2 = "High";
    bool Menu = true;
    std::string AllowScriptAccess = "always";
    std::string Scale = "ShowAll";
    bool DeviceFont = false, EmbedMovie = false, Profile = false;
    bool SeamlessTabbing = true;
    int ProfilePort = 0;
    std::string AllowNetworking = "all";
    std::string AllowFullScreen = "false";
    // The folder of the Ruffle player's files; empty: "ruffle/" beside the executable.
    std::string PlayerFolder;
};

class TShockwaveFlash : public TFlashControl {
    Q_OBJECT

  public:
    // The page's URL scheme.
    static constexpr const char* kScheme = "zephyrine-flash";

    // Registers the page's URL scheme and sets the browser engine's switches (no sandbox when
    // running as root, no GPU). Best before the QApplication exists; else it runs on the first
    // Play, before the engine starts.
    static void PrepareProcess();

    explicit TShockwaveFlash(QWidget* parent = nullptr, TFlashSettings settings = {});
    ~TShockwaveFlash() override;

    // An http or https URL, a file URL or a full local path. SetMovie stores it; Play throws
    // std::runtime_error when it is none of these (or empty). Failures to fetch or play the
    // movie come later, through MovieFailed.
    void SetMovie(const std::string& movie) override;
    std::string Movie() const override;
    void Play() override;
    // Loads the page and plays a blank movie in it; WarmedUp follows.
    void WarmUp() override;

    const TFlashSettings& Settings() const { return settings_; }
    // A local folder the player may read; the folder of a local movie is always allowed.
    void AddPermittedFolder(const std::string& folder);
    // The folder holding the Ruffle files (default: beside the executable, "ruffle/").
    void SetPlayerFolder(const std::string& folder);
    std::string PlayerFolder() const;

    // The web view, nullptr before the first Play.
    QWebEngineView* View() const { return view_; }
    QString LastError() const { return lastError_; }

  signals:
    // The movie handed to the last Play could not be fetched or played; the pane shows the
    // player's own error screen, or nothing when the movie was refused before the player saw it.
    void MovieFailed(const QString& message);
    // The first frame of the movie handed to the last Play has been drawn.
    void FirstFrameDrawn();
    // The warm-up has ended: the player is compiled and running (or failed, which a Play will
    // report).
    void WarmedUp();

  private:
    void EnsureView();
    void StartPending();
    void StartWarmUp();
    void PageFailed(const QString& message);
    void OnBridgeEvent(const QString& json);
    void ReportFailure(std::uint64_t serial, const QString& message);
    QString OptionsJson() const;

    TFlashSettings settings_;
    std::string movie_;
    QString movieUrl_;  // the movie as the player fetches it
    std::uint64_t serial_ = 0;
    std::uint64_t reportedSerial_ = 0;  // the last load whose failure was reported
    bool pageReady_ = false;
    bool pending_ = false;
    bool warming_ = false;
    QString lastError_;
    QString pageFailure_;  // why the page cannot play, once known
    QStringList permittedFolders_;
    QString playerFolder_;

    QWebEngineProfile* profile_ = nullptr;  // child of this; outlives the page
    std::unique_ptr<TFlashSchemeHandler> handler_;
    QWebEngineView* view_ = nullptr;  // child of this
    TFlashPage* page_ = nullptr;      // owned by view_
};

}  // namespace zephyrine::platform

// The factory the program finds in the shared library at run time (see TLazyFlash).
extern "C" zephyrine::platform::TFlashControl* ZephyrineCreateShockwaveFlash(
    QWidget* parent, const zephyrine::platform::TFlashSettings* settings);
