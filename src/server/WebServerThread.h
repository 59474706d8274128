// The web server's connection thread: one request per connection, read, answered, closed.
#pragma once

#include <exception>
#include <string>

#include "server/Dispatch.h"
#include "server/RequestHandler.h"
#include "server/ServerWinSocket.h"

namespace zephyrine::server {

class TCustomWebServer;
class TWebServerRequest;

class TWebServerThread final : public TServerClientThread, public IRequestHandler {
  public:
    TWebServerThread(TServerWinSocket& listener, TCustomWebServer& server);

    // IRequestHandler, for ReadRequest.
    void HeaderRead() override;
    void LogRequest(TWebServerRequest& request) override;
    bool ServeFile(TWebServerRequest& request, bool headOnly) override;
    void SendBadRequest(TWebServerRequest& request) override;

    void SendNotFound(TWebServerRequest& request);
    void SendServerError(TWebServerRequest* request, const std::string& message);
    std::string GetContentType(const std::string& fileName) const;

  protected:
    void ServeConnection() override;
    void ReportSocketError(TErrorEvent kind, int& code) override;
    void ReportException(std::exception_ptr error) override;
    void ThreadEnded() override;

  private:
    TDispatchContext Context() const;

    TCustomWebServer& server_;
};

// The listening socket of a TCustomWebServer: its connection threads are TWebServerThreads.
class TWebServerWinSocket final : public TServerWinSocket {
  public:
    explicit TWebServerWinSocket(TCustomWebServer& server) : server_(server) {}
    ~TWebServerWinSocket() override { Disconnect(); }

  protected:
    std::unique_ptr<TServerClientThread> CreateServerThread() override {
        return std::make_unique<TWebServerThread>(*this, server_);
    }

  private:
    TCustomWebServer& server_;
};

}  // namespace zephyrine::server
