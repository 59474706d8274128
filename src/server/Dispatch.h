// Answering a parsed request: the file lookup on the search folders, the redirect target, the
// hosted applications, and the fixed pages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/MimeTypes.h"

namespace zephyrine::server {

class TWebServerRequest;
class TServerClientWinSocket;
class TCustomServerLog;

inline constexpr const char* kBadRequestPage =
    "<HTML><TITLE>Invalid HTTP request: Method not allowed for HTTP/1.0</TITLE><BODY><H1>Invalid "
    "HTTP request: Method not allowed for HTTP/1.0</H1><P>HTTP status code: "
    "400</BODY></HTML>\r\n";
inline constexpr const char* kNotFoundPage =
    "<TITLE>The requested URL was not found</TITLE><BODY><H1>The requested URL was not "
    "found</H1><P>HTTP status code: 404</BODY>";
inline constexpr const char* kServerErrorPage =
    "<TITLE>Internal Server Error</TITLE><BODY><H1>Internal Server Error</H1><P>HTTP status "
    "code: 500<P>HTTP error message: %s</BODY>";
inline constexpr const char* kLoopbackHost = "127.0.0.1";
// A folder has no file time; reading it fails like a date out of range.
inline constexpr const char* kNoFileTimeText = "Invalid argument to date encode";
inline constexpr std::size_t kExpandedPathLimit = 4096;

// What an answer needs of the server: where it goes, the log, and the settings it reads.
struct TDispatchContext {
    TServerClientWinSocket* Connection = nullptr;
    TCustomServerLog* Log = nullptr;
    std::string SearchPath;  // after macro expansion
    std::string DefaultTarget;
    std::uint16_t ListenPort = 0;
    const TMimeTypes* MimeTypes = nullptr;  // the system table when null
};

// GET, POST (headOnly false) and HEAD (headOnly true). False when the not-found page went out.
bool ServeFile(const TDispatchContext& context, TWebServerRequest& request, bool headOnly);
void SendBadRequest(const TDispatchContext& context, TWebServerRequest& request);
void SendNotFound(const TDispatchContext& context, TWebServerRequest& request);
// The 500 page; the message is the reason phrase (control bytes replaced) and, escaped for
// HTML, part of the page.
void SendServerError(const TDispatchContext& context, TWebServerRequest& request,
                     std::string_view message);

// The last non-empty segment of the path looked up in each ";"-separated folder; the first
// that exists wins. Nothing outside a folder is ever found: a name that resolves (through a
// symbolic link or "..") to a place outside its folder counts as absent there.
std::string FindFileOnPath(std::string_view path, std::string_view folders);
// An absolute URL for a default target that is a path on this server.
std::string ExpandDefaultTarget(std::string_view target, std::uint16_t port);
// "$(NAME)" and "%NAME%" replaced by the environment's values.
std::string ExpandSearchPath(std::string_view folders);
std::string HtmlEscape(std::string_view text);
// The file's last-write time in GMT (two-second precision); throws for a folder.
double FileTimeGMT(const std::string& fileName);

}  // namespace zephyrine::server
