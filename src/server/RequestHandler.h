// What ReadRequest hands a parsed request to: the connection thread's log and dispatch.
#pragma once

namespace zephyrine::server {

class TWebServerRequest;

class IRequestHandler {
  public:
    IRequestHandler() = default;
    IRequestHandler(const IRequestHandler&) = delete;
    IRequestHandler& operator=(const IRequestHandler&) = delete;
    virtual ~IRequestHandler() = default;

    // The request's header has been read whole (its body may follow).
    virtual void HeaderRead() {}
    // Hands the request to the server's log once the header is parsed and the body buffered.
    virtual void LogRequest(TWebServerRequest& request) = 0;
    // Answers a GET, POST (headOnly false) or HEAD (headOnly true) request; false when the
    // not-found page was written instead.
    virtual bool ServeFile(TWebServerRequest& request, bool headOnly) = 0;
    // Writes the bad-request page (a request the tokenizer could not read).
    virtual void SendBadRequest(TWebServerRequest& request) = 0;
};

}  // namespace zephyrine::server
