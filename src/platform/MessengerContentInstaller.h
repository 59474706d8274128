// The stand-in for the messenger's content installer: fetches a content pack (a cabinet) over
// http(s) through the URL cache and unpacks it into the per-user content store
// $XDG_DATA_HOME/messenger-content/<pack name>/ (default ~/.local/share/...).
#pragma once

#include "platform/Platform.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zephyrine::platform {

// Results of OnContentInstalled. 0 means installed; the failures are HRESULTs of the kinds the
// messenger itself reports.
inline constexpr std::int32_t kHrInstalled = 0;
// The server could not be reached (INET_E_CANNOT_CONNECT).
inline constexpr std::int32_t kHrCannotConnect = static_cast<std::int32_t>(0x800C0004u);
// The server answered with an error status such as 404 (INET_E_RESOURCE_NOT_FOUND).
inline constexpr std::int32_t kHrNotFound = static_cast<std::int32_t>(0x800C0005u);
// The transfer failed otherwise: cut off, timed out, too large, or the cache could not be
// written (INET_E_DOWNLOAD_FAILURE).
inline constexpr std::int32_t kHrDownloadFailed = static_cast<std::int32_t>(0x800C0008u);
// The pack is not a cabinet (HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)).
inline constexpr std::int32_t kHrNotACabinet = static_cast<std::int32_t>(0x8007000Bu);
// cabextract failed or could not be started, or the store could not take the files (E_FAIL).
inline constexpr std::int32_t kHrUnpackFailed = static_cast<std::int32_t>(0x80004005u);

// Packs larger than this are refused while they download.
inline constexpr std::int64_t kMaxPackBytes = 256LL * 1024 * 1024;

class TMessengerContentInstaller : public IMessengerContentInstaller {
  public:
    // Must be made on the UI thread: OnContentInstalled is delivered there.
    TMessengerContentInstaller();
    ~TMessengerContentInstaller() override;  // ends a running transfer and joins the worker
    TMessengerContentInstaller(const TMessengerContentInstaller&) = delete;
    TMessengerContentInstaller& operator=(const TMessengerContentInstaller&) = delete;

    // Returns at once. Throws std::runtime_error when the URL is not http or https, when the
    // content store or the cache folder cannot be created, or when cabextract is missing.
    void InstallFromUrl(const std::string& url) override;

    // The reason of the last failure delivered (empty after a success).
    std::string LastFailure() const { return lastFailure_; }

    // The content store, ending in "/"; the folder a pack from the URL is unpacked into.
    static std::string StoreFolder();
    static std::string PackName(const std::string& url);

  private:
    struct TOutcome {
        std::int32_t result = kHrInstalled;
        std::string reason;
    };
    void Work();
    TOutcome Install(const std::string& url);
    void Deliver(TOutcome outcome);

    std::unique_ptr<QObject> receiver_;  // lives on the UI thread; deliveries are queued to it
    std::string lastFailure_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    std::atomic<bool> stopping_ = false;  // also read by the transfer's progress callback
    std::thread worker_;                  // last: started after everything it uses
};

}  // namespace zephyrine::platform
