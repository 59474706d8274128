// ReadRequest: reads the request line and header lines into a request, buffers the body, logs
// the request and hands it on for its answer.
#pragma once

#include "server/HTTPParse.h"
#include "server/RequestHandler.h"
#include "server/WebServerRequest.h"

namespace zephyrine::server {

// The largest body that is buffered; a larger Content-Length is answered as a bad request.
constexpr int kMaxBodyLength = 16 * 1024 * 1024;

// A tokenizer error anywhere ends with handler.SendBadRequest; every other exception (date
// conversion errors in particular) passes on.
void ReadRequest(THTTPParser& parser, TWebServerRequest& request, IRequestHandler& handler);

}  // namespace zephyrine::server
