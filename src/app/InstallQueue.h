// Unit InstallQueue: hands packs to the messenger's content installer, one at a time. A single
// install is a queue of one job; Install Checked is a queue of every checked item in tree order,
// the next job handed over only from the success of the one before. The installer is connected
// on the first hand-over and kept.
#pragma once

#include "platform/Platform.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace zephyrine::app {

// One pack to hand over: its full URL, the name its success is announced under, and what is said
// after that announcement (a preview that was refused, say), if anything.
struct TInstallJob {
    std::string Url;
    std::string Name;
    std::string Remark;
};

class TInstallQueue : public QObject {
    Q_OBJECT
  public:
    // createInstaller makes the installer on the first hand-over (may be empty: every hand-over
    // then fails as "not available").
    explicit TInstallQueue(
        std::function<std::unique_ptr<platform::IMessengerContentInstaller>()> createInstaller,
        QObject* parent = nullptr);

    // A single install: announced on success as job.Name + " installed successfully.".
    void InstallOne(TInstallJob job);
    // An Install Checked run over jobs (not empty), head first; announced on the last success
    // as the total.
    void InstallAll(std::vector<TInstallJob> jobs);
    // The installer's completion event: 0 when the pack at the head was installed.
    void MsnInstallerContentInstalled(std::int32_t lhrResult);

    // A job is with the messenger, or waits for the one before it.
    bool Pending() const { return pending_; }
    bool QueueMode() const { return FQueueMode; }
    int InstallTotal() const { return FInstallTotal; }
    std::size_t Waiting() const { return FQueue.size(); }  // the head included

  signals:
    void StatusText(const QString& text);
    // A hand-over the installer refused, with its reason: no completion will follow.
    void HandOverFailed(const QString& reason);
    // Pending() changed.
    void PendingChanged(bool pending);

  private:
    void HandOver(const TInstallJob& job);
    void SetPending(bool pending);
    platform::IMessengerContentInstaller& ConnectedMsnInstaller();

    std::function<std::unique_ptr<platform::IMessengerContentInstaller>()> createInstaller_;
    std::unique_ptr<platform::IMessengerContentInstaller> MsnInstaller;
    std::deque<TInstallJob> FQueue;  // the head is with the messenger
    bool FQueueMode = false;         // an Install Checked run
    int FInstallTotal = 0;
    std::string FInstallName;  // announced when a single install completes
    std::string remark_;       // ... and said after it
    bool pending_ = false;
};

}  // namespace zephyrine::app
