#include "server/CustomWebServer.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "server/Dispatch.h"

namespace zephyrine::server {

void InitTesselVariable() {
    if (std::getenv(kTesselVariable)) return;
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return;
    const auto folder = program.parent_path();
    const auto parent =
        folder.has_parent_path() && folder != folder.root_path() ? folder.parent_path() : folder;
    ::setenv(kTesselVariable, parent.string().c_str(), 0);
}

void TServerLog::DeliverEntry(std::unique_ptr<TTransactionLogEntry>& entry, bool& release) {
    if (server_.OnLogEntry) server_.OnLogEntry(*this, entry, release);
}

TCustomWebServer::TCustomWebServer(TPostToOwner post, int waitMs)
    : waitMs_(waitMs),
      log_(std::make_unique<TServerLog>(*this, std::move(post))),
      socket_(std::make_unique<TWebServerWinSocket>(*this)) {
    socket_->OnListenChange = [this](bool listening) { listening_ = listening; };
    socket_->SetCacheLimit(kDefaultCacheLimit);
}

TCustomWebServer::~TCustomWebServer() {
    socket_.reset();
}

void TCustomWebServer::SetListenPort(std::uint16_t port) {
    if (port == listenPort_) return;
    if (socket_->Handle() >= 0) throw ESocketError(kActiveSocketText);
    listenPort_ = port;
}

void TCustomWebServer::SetListening(bool listening) {
    if (listening == listening_) return;
    if (!listening) {
        socket_->Disconnect();
        return;
    }
    try {
        socket_->ConnectionWaitMs = waitMs_;
        socket_->Listen(listenPort_);
        servingPort_ = listenPort_ != 0 ? listenPort_.load() : socket_->LocalPort();
    } catch (const std::exception& e) {
        LogError(eeListen, 0, e.what());
        throw;
    }
}

std::string TCustomWebServer::BindAddress() const {
    std::lock_guard guard(settingsLock_);
    return socket_->BindAddress;
}

void TCustomWebServer::SetBindAddress(const std::string& address) {
    std::lock_guard guard(settingsLock_);
    if (address == socket_->BindAddress) return;
    if (socket_->Handle() >= 0) throw ESocketError(kActiveSocketText);
    socket_->BindAddress = address;
}

std::string TCustomWebServer::SearchFolders() const {
    std::lock_guard guard(settingsLock_);
    return searchFolders_;
}

void TCustomWebServer::SetSearchFolders(const std::string& folders) {
    std::lock_guard guard(settingsLock_);
    searchFolders_ = folders;
    expandedSearchPath_.clear();
}

std::string TCustomWebServer::ExpandedSearchPath() {
    std::lock_guard guard(settingsLock_);
    if (expandedSearchPath_.empty() && !searchFolders_.empty()) {
        expandedSearchPath_ = ExpandSearchPath(searchFolders_);
    }
    return expandedSearchPath_;
}

std::string TCustomWebServer::DefaultTarget() const {
    std::lock_guard guard(settingsLock_);
    return defaultTarget_;
}

void TCustomWebServer::SetDefaultTarget(const std::string& target) {
    std::lock_guard guard(settingsLock_);
    defaultTarget_ = target;
}

void TCustomWebServer::LogError(TErrorEvent kind, int code, const std::string& message) {
    log_->LogError(kind, code, message);
}

void TCustomWebServer::LogRequest(TWebServerRequest& request) {
    log_->LogRequest(request);
}

}  // namespace zephyrine::server
