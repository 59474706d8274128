// TfrmMainForm updating the catalogue (Upgrade): the count file from the catalogue server, and,
// when it announces more items than the tree holds, the new catalogue, which replaces
// WinksList.dat only when it is whole (CatalogueUpdate.h). The requests pump the event loop, so
// the window stays live meanwhile: Escape aborts the request, a close waits for the update to
// unwind, and a progress bar shows the catalogue's bytes as they arrive.
#include "app/CatalogueUpdate.h"
#include "app/uMainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace zephyrine::app {

using platform::TMsgIcon;

namespace {

// The progress bar's steps for a reply that announced its length.
constexpr int kProgressSteps = 1000;

// The progress bar shown, busy until the first bytes arrive, for one download.
class TProgressScope {
  public:
    explicit TProgressScope(QProgressBar& bar) : bar_(bar) {
        bar_.setRange(0, 0);
        bar_.show();
    }
    ~TProgressScope() {
        bar_.hide();
        bar_.reset();
    }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

  private:
    QProgressBar& bar_;
};

}  // namespace

void TfrmMainForm::createHttpClients() {
    const auto make = [](const char* body) {
        auto client = std::make_unique<httpclient::TNMHTTP>();
        client->Port = 0;
        client->ProxyPort = 0;
        client->ReportLevel = 0;
        client->Header = "Head.txt";
        client->InputFileMode = true;  // the body goes into the file named by Body
        client->OutputFileMode = false;
        client->Body = body;  // a full path is set before each request
        // Every wait runs the window's events. Nothing in them may destroy the window: a close
        // waits for the update (closeEvent).
        client->Pump = [] { QCoreApplication::processEvents(); };
        return client;
    };
    nmpWinksCount = make(kCountFileName);
    nmpWinksCount->OnConnect = [this] { nmpWinksCountConnect(); };
    nmpWinksCount->OnConnectionFailed = [this] { nmpWinksCountConnectionFailed(); };
    nmpWinksList = make(kNewCatalogueFileName);
    nmpWinksList->OnPacketRecvd = [this] { ShowDownloadProgress(); };
}

void TfrmMainForm::nmpWinksCountConnect() {
    SetStatusText("Connected successfully!Downloading..");
}

void TfrmMainForm::nmpWinksCountConnectionFailed() {
    SetStatusText("Connected unsuccessfully!");
}

void TfrmMainForm::actUpgradeExecute() {
    if (upgrading_) return;  // a shortcut that reached the window from inside the pump
    upgrading_ = true;
    upgradeAborted_ = false;
    SetActionsEnabled(false);  // 1
    const std::string temp = Global.DataFolder + kNewCatalogueFileName;
    try {
        const TBusyCursor busy;       // 2.1
        nmpWinksCount->Disconnect();  // 2.2
        SetStatusText("Please wait while Zephyrine's update infomation is being retrieved..");
        const std::string countFile = Global.DataFolder + kCountFileName;
        nmpWinksCount->Body = countFile;  // 2.4
        RunUpgradeRequest(*nmpWinksCount, Roots.CatalogueRoot + kCountFileUrlPath);
        const int newCount = TGlobal::ReadCountFile(countFile);  // 2.5
        if (newCount <= FItemCount) {
            SetStatusText("0 New Winks Found in server.");  // 2.6
        } else {
            const std::string message = "Total " + std::to_string(newCount - FItemCount) +
                                        " new Winks have been downloaded successfully from server.";
            nmpWinksList->Disconnect();
            nmpWinksList->Body = temp;
            SetStatusText("Downloading Winks List,Please wait..");
            {
                const TProgressScope progress(*prgUpgrade);
                RunUpgradeRequest(*nmpWinksList, Roots.CatalogueRoot + kNewCatalogueUrlPath);
            }
            // Only a whole catalogue takes the old one's place, and only then does the box
            // claim success.
            StartWriteback(temp);  // meanwhile the check reads it
            platform::TXMLDocument checked;
            checked.SetFileName(temp);
            AcceptDownloadedCatalogue(nmpWinksList->ReplyCode(), checked);
            ReplaceByRename(temp, Global.DataFolder + kCatalogueFileName);
            ShowMessage(message, TMsgIcon::Information);
            Global.CurrentWinks = newCount;
            Global.SaveSettings();
            QCoreApplication::processEvents();  // the window repaints after the box
            LoadWinksList(&checked);            // the file's content, parsed by the check
        }
    } catch (const std::exception&) {
        std::error_code ec;
        std::filesystem::remove(temp, ec);  // what a refused or broken download stored
        SetStatusText("updated unsuccessfully");
    }
    SetActionsEnabled(true);  // 3
    upgrading_ = false;
    if (closeAfterUpgrade_) {
        closeAfterUpgrade_ = false;
        close();
    }
}

void TfrmMainForm::RunUpgradeRequest(httpclient::TNMHTTP& client, const std::string& url) {
    const auto abortedCheck = [this] {
        if (upgradeAborted_) throw std::runtime_error("The update was aborted");
    };
    abortedCheck();  // a new request would forget an abort that came before it
    runningRequest_ = &client;
    struct TEnded {
        httpclient::TNMHTTP*& running;
        ~TEnded() { running = nullptr; }
    } ended{runningRequest_};
    client.Get(url);
    abortedCheck();  // an abort that came as the request was ending
}

void TfrmMainForm::AbortUpgrade() {
    if (!upgrading_) return;
    upgradeAborted_ = true;
    if (runningRequest_ != nullptr) runningRequest_->Abort();
}

void TfrmMainForm::ShowDownloadProgress() {
    const long long length = nmpWinksList->ReplyContentLength();
    if (length <= 0) return;  // busy, as it started
    const long long received = std::min(nmpWinksList->BytesReceived(), length);
    const int step = static_cast<int>(static_cast<double>(received) / length * kProgressSteps);
    if (prgUpgrade->maximum() != kProgressSteps) prgUpgrade->setRange(0, kProgressSteps);
    if (step != prgUpgrade->value()) prgUpgrade->setValue(step);
}

bool TfrmMainForm::RouteUpgradeEscape(QObject* receiver, QEvent* event) {
    if (runningRequest_ == nullptr || event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget))) return false;
    AbortUpgrade();
    return true;
}

void TfrmMainForm::closeEvent(QCloseEvent* event) {
    if (upgrading_) {
        closeAfterUpgrade_ = true;
        AbortUpgrade();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

}  // namespace zephyrine::app
