#include "server/WebServerThread.h"

#include "server/CustomWebServer.h"
#include "server/HTTPParse.h"
#include "server/ReadRequest.h"
#include "server/WebServerRequest.h"

namespace zephyrine::server {

TWebServerThread::TWebServerThread(TServerWinSocket& listener, TCustomWebServer& server)
    : TServerClientThread(listener), server_(server) {}

TDispatchContext TWebServerThread::Context() const {
    TDispatchContext context;
    context.Connection = &Connection();
    context.Log = &server_.RequestLog();
    context.SearchPath = server_.ExpandedSearchPath();
    context.DefaultTarget = server_.DefaultTarget();
    context.ListenPort = server_.ServingPort();
    return context;
}

void TWebServerThread::HeaderRead() {
    Connection().EndHeaderDeadline();
}

void TWebServerThread::LogRequest(TWebServerRequest& request) {
    server_.LogRequest(request);
}

bool TWebServerThread::ServeFile(TWebServerRequest& request, bool headOnly) {
    return server::ServeFile(Context(), request, headOnly);
}

void TWebServerThread::SendBadRequest(TWebServerRequest& request) {
    server::SendBadRequest(Context(), request);
}

void TWebServerThread::SendNotFound(TWebServerRequest& request) {
    server::SendNotFound(Context(), request);
}

void TWebServerThread::SendServerError(TWebServerRequest* request, const std::string& message) {
    // Without a request there is nothing to answer on.
    if (request) server::SendServerError(Context(), *request, message);
}

std::string TWebServerThread::GetContentType(const std::string& fileName) const {
    return server::GetContentType(fileName, TMimeTypes::System());
}

void TWebServerThread::ServeConnection() {
    TServerClientWinSocket& connection = Connection();
    while (!Terminated() && connection.IsConnected()) {
        std::string address, host;
        connection.PeerName(address, host);
        // Every answer ends with the close of the connection, which sends what is held.
        connection.HoldPartialSegments();
        TWebServerRequest request(server_.ServingPort(), host, address, &connection);
        try {
            try {
                TWinSocketStream stream(connection, server_.SocketWaitMs());
                THTTPParser parser(stream);
                ReadRequest(parser, request, *this);
            } catch (const EWebServerException&) {
                throw;
            } catch (const std::exception& e) {
                throw EWebServerException(e.what(), &request);
            }
        } catch (...) {
            ReportException(std::current_exception());
        }
        // Keep-Alive is not kept: every connection carries one request.
        connection.DrainUnreadInput(kDrainWaitMs, kDrainLimit);
        if (!SameText(request.GetVarText(var::kConnection), "Keep-Alive")) {
            connection.Close();
        }
        connection.Close();
    }
}

void TWebServerThread::ThreadEnded() {
    // Thread ids are handed out anew for every thread beyond the cache; the record of one that
    // ended would only pile up (and slow every entry that looks the table up).
    server_.RequestLog().ForgetThread(CurrentThreadID());
}

void TWebServerThread::ReportSocketError(TErrorEvent kind, int& code) {
    if (code != 0) {
        server_.LogError(kind, code, SystemErrorMessage(code));
    }
}

void TWebServerThread::ReportException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EWebServerException& e) {
        try {
            SendServerError(e.Request(), e.what());
        } catch (...) {
        }
    } catch (const std::exception& e) {
        SendServerError(nullptr, e.what());
    } catch (...) {
    }
}

}  // namespace zephyrine::server
