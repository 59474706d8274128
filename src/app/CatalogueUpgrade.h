// Unit CatalogueUpgrade: the Upgrade command. It fetches the count file from the catalogue
// server and, when that announces more items than the tree holds, the new catalogue, which takes
// the place of WinksList.dat only when it is whole (CatalogueUpdate.h). Its two HTTP clients pump
// the event loop while they wait, so the window stays live meanwhile: this is the one place in
// the program where events run inside a command (the window's re-entrancy rule says what may).
#pragma once

#include "app/WinksGlobal.h"
#include "httpclient/NMHTTP.h"
#include "platform/XMLDocument.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>

namespace zephyrine::app {

class TCatalogueUpgrade : public QObject {
    Q_OBJECT
  public:
    // The progress bar's steps for a reply that announced its length.
    static constexpr int kProgressSteps = 1000;

    TCatalogueUpgrade(TGlobal& global, std::string catalogueRoot, QObject* parent = nullptr);

    // The whole command; returns once it has ended, successfully or not. itemCount: the items
    // the tree holds now.
    void Run(int itemCount);
    // Ends a running request; the update then ends as unsuccessful, nothing replaced.
    void Abort();

    bool Running() const { return running_; }
    // One of the two requests is inside Get (and pumping).
    bool RequestRunning() const { return runningRequest_ != nullptr; }

    // The count client's connection events.
    void nmpWinksCountConnect();
    void nmpWinksCountConnectionFailed();

    // The two clients, for their settings.
    httpclient::TNMHTTP& CountClient() { return *nmpWinksCount; }
    httpclient::TNMHTTP& ListClient() { return *nmpWinksList; }

  signals:
    void StatusText(const QString& text);
    // The message box of a replaced catalogue.
    void Message(const QString& text);
    // WinksList.dat was replaced by the catalogue parsed into doc: the tree is to show it.
    void CatalogueReplaced(const platform::TXMLDocument& doc);
    // The catalogue's download: shown (busy until a length is known), its steps, hidden.
    void ProgressShown(bool shown);
    void Progress(int value, int maximum);
    void RunningChanged(bool running);

  private:
    // One request; throws when it fails or the update was aborted meanwhile.
    void RunRequest(httpclient::TNMHTTP& client, const std::string& url);
    void ShowDownloadProgress();

    TGlobal& Global;
    const std::string catalogueRoot_;
    std::unique_ptr<httpclient::TNMHTTP> nmpWinksCount;  // the count file
    std::unique_ptr<httpclient::TNMHTTP> nmpWinksList;   // the new catalogue
    bool running_ = false;
    bool aborted_ = false;
    httpclient::TNMHTTP* runningRequest_ = nullptr;  // the client inside Get
    int progressStep_ = -1;
};

}  // namespace zephyrine::app
