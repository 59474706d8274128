#include "app/CatalogueUpgrade.h"

#include "app/BusyCursor.h"
#include "app/CatalogueUpdate.h"
#include "base/ScopeExit.h"

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace zephyrine::app {

namespace {

std::unique_ptr<httpclient::TNMHTTP> MakeClient(const char* body) {
    auto client = std::make_unique<httpclient::TNMHTTP>();
    client->Port = 0;
    client->ProxyPort = 0;
    client->ReportLevel = 0;
    client->Header = "Head.txt";
    client->InputFileMode = true;  // the body goes into the file named by Body
    client->OutputFileMode = false;
    client->Body = body;  // a full path is set before each request
    // Every wait runs the window's events: the only place the program does. What those events
    // may start meanwhile is the window's re-entrancy rule.
    client->Pump = [] { QCoreApplication::processEvents(); };
    return client;
}

}  // namespace

TCatalogueUpgrade::TCatalogueUpgrade(TGlobal& global, std::string catalogueRoot, QObject* parent)
    : QObject(parent),
      Global(global),
      catalogueRoot_(std::move(catalogueRoot)),
      nmpWinksCount(MakeClient(kCountFileName)),
      nmpWinksList(MakeClient(kNewCatalogueFileName)) {
    nmpWinksCount->OnConnect = [this] { nmpWinksCountConnect(); };
    nmpWinksCount->OnConnectionFailed = [this] { nmpWinksCountConnectionFailed(); };
    nmpWinksList->OnPacketRecvd = [this] { ShowDownloadProgress(); };
}

void TCatalogueUpgrade::nmpWinksCountConnect() {
    emit StatusText("Connected successfully!Downloading..");
}

void TCatalogueUpgrade::nmpWinksCountConnectionFailed() {
    emit StatusText("Connected unsuccessfully!");
}

void TCatalogueUpgrade::Run(int itemCount) {
    if (running_) return;
    running_ = true;
    aborted_ = false;
    emit RunningChanged(true);
    const base::ScopeExit ended([this] {
        running_ = false;
        emit RunningChanged(false);
    });

    const std::string temp = Global.DataFolder + kNewCatalogueFileName;
    int newCount = 0;
    std::string message;
    platform::TXMLDocument checked;
    try {
        const auto busy = BusyCursor();
        nmpWinksCount->Disconnect();
        emit StatusText("Please wait while Zephyrine's update infomation is being retrieved..");
        const std::string countFile = Global.DataFolder + kCountFileName;
        nmpWinksCount->Body = countFile;
        RunRequest(*nmpWinksCount, catalogueRoot_ + kCountFileUrlPath);
        newCount = TGlobal::ReadCountFile(countFile);
        if (newCount <= itemCount) {
            emit StatusText("0 New Winks Found in server.");
            return;
        }
        message = "Total " + std::to_string(newCount - itemCount) +
                  " new Winks have been downloaded successfully from server.";
        nmpWinksList->Disconnect();
        nmpWinksList->Body = temp;
        emit StatusText("Downloading Winks List,Please wait..");
        {
            progressStep_ = -1;
            emit ProgressShown(true);
            const base::ScopeExit hide([this] { emit ProgressShown(false); });
            RunRequest(*nmpWinksList, catalogueRoot_ + kNewCatalogueUrlPath);
        }
        // Only a whole catalogue takes the old one's place, and only then does the box claim
        // success.
        StartWriteback(temp);  // meanwhile the check reads it
        checked.SetFileName(temp);
        AcceptDownloadedCatalogue(nmpWinksList->ReplyCode(), checked);
        ReplaceByRename(temp, Global.DataFolder + kCatalogueFileName);
    } catch (const std::exception&) {
        std::error_code ec;
        std::filesystem::remove(temp, ec);  // what a refused or broken download stored
        emit StatusText("updated unsuccessfully");
        return;
    }
    // The new catalogue is on disk: from here the tree follows it, whatever else fails.
    Global.CurrentWinks = newCount;
    std::string unsaved;
    try {
        Global.SaveSettings();
    } catch (const std::exception& e) {
        unsaved = e.what();
    }
    emit Message(QString::fromStdString(message));
    emit CatalogueReplaced(checked);  // the file's content, parsed by the check
    if (!unsaved.empty()) {
        emit StatusText("The Winks list was updated, but the settings could not be saved: " +
                        QString::fromStdString(unsaved));
    }
}

void TCatalogueUpgrade::RunRequest(httpclient::TNMHTTP& client, const std::string& url) {
    const auto abortedCheck = [this] {
        if (aborted_) throw std::runtime_error("The update was aborted");
    };
    abortedCheck();  // a new request would forget an abort that came before it
    runningRequest_ = &client;
    const base::ScopeExit ended([this] { runningRequest_ = nullptr; });
    client.Get(url);
    abortedCheck();  // an abort that came as the request was ending
}

void TCatalogueUpgrade::Abort() {
    if (!running_) return;
    aborted_ = true;
    if (runningRequest_ != nullptr) runningRequest_->Abort();
}

void TCatalogueUpgrade::ShowDownloadProgress() {
    const long long length = nmpWinksList->ReplyContentLength();
    if (length <= 0) return;  // busy, as it started
    const long long received = std::min(nmpWinksList->BytesReceived(), length);
    const int step = static_cast<int>(static_cast<double>(received) / length * kProgressSteps);
    if (step == progressStep_) return;
    progressStep_ = step;
    emit Progress(step, kProgressSteps);
}

}  // namespace zephyrine::app
