#include "app/InstallQueue.h"

#include <stdexcept>

namespace zephyrine::app {

TInstallQueue::TInstallQueue(
    std::function<std::unique_ptr<platform::IMessengerContentInstaller>()> createInstaller,
    QObject* parent)
    : QObject(parent), createInstaller_(std::move(createInstaller)) {}

platform::IMessengerContentInstaller& TInstallQueue::ConnectedMsnInstaller() {
    if (!MsnInstaller) {
        if (createInstaller_) MsnInstaller = createInstaller_();
        if (!MsnInstaller)
            throw std::runtime_error("The messenger content installer is not available.");
        MsnInstaller->OnContentInstalled = [this](std::int32_t lhrResult) {
            MsnInstallerContentInstalled(lhrResult);
        };
    }
    return *MsnInstaller;
}

void TInstallQueue::SetPending(bool pending) {
    if (pending == pending_) return;
    pending_ = pending;
    emit PendingChanged(pending);
}

void TInstallQueue::InstallOne(TInstallJob job) {
    FQueueMode = false;
    FQueue = {std::move(job)};
    HandOver(FQueue.front());
}

void TInstallQueue::InstallAll(std::vector<TInstallJob> jobs) {
    if (jobs.empty()) return;
    FQueueMode = true;
    FInstallTotal = static_cast<int>(jobs.size());
    FQueue.assign(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
    HandOver(FQueue.front());
}

void TInstallQueue::HandOver(const TInstallJob& job) {
    FInstallName = job.Name;
    remark_ = job.Remark;
    SetPending(true);
    try {
        ConnectedMsnInstaller().InstallFromUrl(job.Url);
    } catch (const std::exception& e) {
        FQueue.clear();  // no completion will follow, and a run stops here
        SetPending(false);
        emit HandOverFailed(QString::fromStdString(e.what()));
    }
}

void TInstallQueue::MsnInstallerContentInstalled(std::int32_t lhrResult) {
    if (!pending_) return;  // nothing of ours is with the messenger
    if (lhrResult != 0) {
        FQueue.clear();  // silently; a running queue stops here
        SetPending(false);
        return;
    }
    if (!FQueueMode || FQueue.size() < 2) {
        FQueue.clear();
        emit StatusText(FQueueMode
                            ? "Total " + QString::number(FInstallTotal) +
                                  " Winks of MSN Messenger have been installed successfully."
                            : QString::fromStdString(FInstallName) + " installed successfully." +
                                  (remark_.empty() ? "" : " " + QString::fromStdString(remark_)));
        SetPending(false);
        return;
    }
    FQueue.pop_front();
    HandOver(FQueue.front());
}

}  // namespace zephyrine::app
