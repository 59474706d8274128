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

#include <string>

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
    std::string PrepareLocalPack(const std::string& file);  // the pack's path, "" on failure
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
    std::string FreshWorkFolder();
    void ActivateServer();

    TGlobal& Global;
    server::TCustomWebServer& FServer;
    TInstallQueue& installs_;
    platform::IUrlCache* urlCache_;
    std::string ownTempFolder_;  // the fresh folder, once made
    std::string refusal_;        // why the last unpack showed no preview, if it failed
};

}  // namespace zephyrine::app
