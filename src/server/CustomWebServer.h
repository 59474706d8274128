// TCustomWebServer: the embedded HTTP server component. It owns its listening socket (and
// through it the connection threads) and its transaction log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/SvrLog.h"
#include "server/WebServerThread.h"
#include "server/ServerWinSocket.h"

namespace zephyrine::server {

class TWebServerRequest;

inline constexpr std::uint16_t kDefaultServerPort = 21887;
inline constexpr const char* kTesselVariable = "TESSEL";

// Sets TESSEL to the folder above the program's folder when it is not set. Every program that
// serves with the server calls it once at its start, before any thread is made.
void InitTesselVariable();

class TCustomWebServer {
  public:
    // post hands log deliveries to the owning thread; waitMs is each socket transfer's wait.
    explicit TCustomWebServer(TPostToOwner post = {}, int waitMs = kSocketWaitMs);
    TCustomWebServer(const TCustomWebServer&) = delete;
    TCustomWebServer& operator=(const TCustomWebServer&) = delete;
    ~TCustomWebServer();

    std::uint16_t ListenPort() const { return listenPort_.load(); }
    void SetListenPort(std::uint16_t port);
    // The port the open socket is bound to (the system's choice for port 0), else 0.
    std::uint16_t BoundPort() const { return socket_->LocalPort(); }
    // The port requests arrive on: ListenPort, or the system's choice when that is 0.
    std::uint16_t ServingPort() const { return servingPort_.load(); }

    // The local address to listen on, dotted (0.0.0.0: every address); set while not active.
    std::string BindAddress() const;
    void SetBindAddress(const std::string& address);

    bool Listening() const { return listening_.load(); }
    // Opening failures are logged as kind 3 error entries and passed on.
    void SetListening(bool listening);

    std::string SearchFolders() const;
    void SetSearchFolders(const std::string& folders);
    // SearchFolders after macro expansion, computed on first use.
    std::string ExpandedSearchPath();

    std::string DefaultTarget() const;
    void SetDefaultTarget(const std::string& target);

    int SocketWaitMs() const { return waitMs_; }
    TServerLog& RequestLog() { return *log_; }
    TWebServerWinSocket& ServerSocket() { return *socket_; }

    void LogError(TErrorEvent kind, int code, const std::string& message);
    void LogRequest(TWebServerRequest& request);

    // Called on the log's owning thread for each entry.
    TLogEntryEvent OnLogEntry;

  private:
    int waitMs_;
    std::unique_ptr<TServerLog> log_;  // destroyed after the socket
    std::unique_ptr<TWebServerWinSocket> socket_;
    std::atomic<std::uint16_t> listenPort_{0};
    std::atomic<std::uint16_t> servingPort_{0};
    std::atomic<bool> listening_{false};
    // Guards the three texts below and the socket's BindAddress.
    mutable std::mutex settingsLock_;
    std::string searchFolders_;
    std::string expandedSearchPath_;
    std::string defaultTarget_;
};

}  // namespace zephyrine::server
