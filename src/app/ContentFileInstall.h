// Unit ContentFileInstall: a content file (.mca, .mco), given on the command line or dropped on
// the window, is unpacked with the cabinet tool into the work folder and its movie previewed,
// then copied into the embedded server's folder and handed to the messenger by its loopback URL
// (through the install queue, as a single install).
#pragma once

#include "app/InstallQueue.h"
#include "app/WinksGlobal.h"
#include "platform/Platform.h"
#include "server/CustomWebServer.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace zephyrine::app {

class TContentFileInstall : public QObject {
    Q_OBJECT
  public:
    // urlCache may be null.
    TContentFileInstall(TGlobal& global, server::TCustomWebServer& server, TInstallQueue& queue,
                        platform::IUrlCache* urlCache, QObject* parent = nullptr);
    ~TContentFileInstall() override;

    // Unpacks the file and previews its movie; a failure is reported as a status text and
    // remembered, so that the install's texts that follow keep saying it.
    void UnpackAndPreview(const std::string& file);
    // Hands the file to the messenger through the embedded server, which is switched on for it.
    // Throws when the file cannot be read or the server or the installer cannot be used.
    void InstallFileThroughServer(const std::string& name, const std::string& file);

    // UnpackAndPreview and then InstallFileThroughServer(name, file), with the unpack and the
    // copy of the pack on a thread of their own, so that the event loop (and the player's start)
    // runs meanwhile. The texts, files and hand-over are those of the two calls; done runs in
    // the event loop at the end, with what the install threw (null when it started).
    void OpenInBackground(const std::string& name, const std::string& file,
                          std::function<void(std::exception_ptr)> done);
    // True from OpenInBackground until its done has run.
    bool Opening() const { return opening_; }
    // The movie of a background open still under way is not shown: something else was.
    void DropPendingPreview() { previewDropped_ = true; }
    std::string PrepareLocalPack(const std::string& file);  // the pack's path, "" on failure
    std::string PrepareLocalPack(const TLockedSource& source);
    // The loopback URL of the pack the messenger fetches from the server.
    std::string LocalPackUrl() const;

    // The private folder the work folder is made in: TempFolder when it is a real folder of this
    // user's own, closed to others; otherwise a fresh private folder of this unit's own, made on
    // first use and removed with the unit. Throws when neither can be had.
    std::string TempFolder();

  signals:
    void StatusText(const QString& text);
    // A movie (a full local path) for the preview pane.
    void PreviewMovie(const QString& movie);

  private:
    struct TUnpacked {
        std::string Movie;    // the movie found, "" when none
        std::string Refusal;  // why the file was refused, "" when it was not
    };
    // Unpacks file (opened as source) into the work folder inside temp; touches no state of
    // this object, so it runs on any thread.
    TUnpacked Unpack(const std::string& file, const TLockedSource& source,
                     const std::string& temp) const;
    void Show(const TUnpacked& unpacked);
    // Before the pack is copied: the messenger must not be given a cached earlier pack.
    void ForgetCachedPack();
    void HandOver(const std::string& name);
    void FinishBackground();
    void ActivateServer();

    TGlobal& Global;
    server::TCustomWebServer& FServer;
    TInstallQueue& installs_;
    platform::IUrlCache* urlCache_;
    std::string ownTempFolder_;  // the fresh folder, once made
    std::string refusal_;        // why the last unpack showed no preview, if it failed
    std::thread worker_;         // the background open's unpack; joined before the next unpack
    bool opening_ = false;
    bool previewDropped_ = false;
};

}  // namespace zephyrine::app
