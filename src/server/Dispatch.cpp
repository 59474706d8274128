#include "server/Dispatch.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "server/HTTPParse.h"
#include "server/HostedApps.h"
#include "server/ReqImpl.h"
#include "server/ServerTime.h"
#include "server/WebServerRequest.h"
#include "server/WebServerResponse.h"

namespace zephyrine::server {

namespace fs = std::filesystem;

namespace {

constexpr double kMsPerDay = 86'400'000.0;

std::string Format(const char* pattern, const std::string& value) {
    const int n = std::snprintf(nullptr, 0, pattern, value.c_str());
    std::string out(static_cast<std::size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, pattern, value.c_str());
    return out;
}

// True when path, an entry of folder, really lies inside it. Only a link or a dot name can lead
// elsewhere; a plain entry needs no resolving.
bool Inside(const fs::path& path, const fs::path& folder, std::string_view name,
            fs::file_type type) {
    if (type != fs::file_type::symlink && name != "." && name != "..") return true;
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) return false;
    const fs::path base = fs::canonical(folder, ec);
    if (ec) return false;
    auto b = base.begin();
    auto r = real.begin();
    for (; b != base.end(); ++b, ++r) {
        if (r == real.end() || *r != *b) return false;
    }
    return r != real.end();  // strictly below the folder, never the folder itself
}

void SendPage(const TDispatchContext& context, TWebServerRequest& request, int status,
              const std::string& page) {
    TWebServerResponse response(request, context.Connection, context.Log);
    response.ContentType = "text/html";
    response.SetStatus(status);
    response.SetBodyText(page);
    response.Transmit();
}

long long Milliseconds(double dateTime) {
    return std::llround(dateTime * kMsPerDay);
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string FindFileOnPath(std::string_view path, std::string_view folders) {
    std::string name(path);
    for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/')) {
        if (slash == name.size() - 1) {
            name.erase(slash);
        } else {
            name.erase(0, slash + 1);
        }
    }
    if (name.empty()) return {};
    std::size_t start = 0;
    while (start < folders.size()) {
        auto end = folders.find(';', start);
        if (end == std::string_view::npos) end = folders.size();
        std::string entry(folders.substr(start, end - start));
        start = end + 1;
        if (!entry.empty() && entry.back() != '/' && entry.back() != ':') entry += '/';
        std::error_code ec;
        const fs::path folder = fs::absolute(entry.empty() ? fs::path(".") : fs::path(entry), ec);
        if (ec) continue;
        const fs::path candidate = (folder / name).lexically_normal();
        const auto status = fs::symlink_status(candidate, ec);
        if (ec || !fs::exists(status)) continue;
        if (status.type() == fs::file_type::symlink && !fs::exists(candidate, ec)) continue;
        if (Inside(candidate, folder, name, status.type())) return candidate.string();
    }
    return {};
}

std::string ExpandDefaultTarget(std::string_view target, std::uint16_t port) {
    if (target.empty() || base::StartsWithText(target, "http") || target.substr(0, 2) == "//") {
        return std::string(target);
    }
    if (target.front() == '/') target.remove_prefix(1);
    return std::string("http://") + kLoopbackHost + ":" + std::to_string(port) + "/" +
           std::string(target);
}

std::string ExpandSearchPath(std::string_view folders) {
    std::string text(folders);
    std::size_t previous = std::string::npos;
    bool first = true;
    while (text.find('$') != std::string::npos && (first || text.size() != previous)) {
        first = false;
        previous = text.size();
        std::string marked;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '$' && i + 1 < text.size() && text[i + 1] == '(') {
                marked += '%';
                ++i;
            } else if (text[i] == ')') {
                marked += '%';
            } else {
                marked += text[i];
            }
        }
        // %NAME% of a defined variable is replaced; anything else stays as written.
        std::string expanded;
        for (std::size_t i = 0; i < marked.size();) {
            const auto close = marked[i] == '%' ? marked.find('%', i + 1) : std::string::npos;
            if (close != std::string::npos && close > i + 1) {
                const std::string name = marked.substr(i + 1, close - i - 1);
                if (const char* value = std::getenv(name.c_str())) {
                    expanded += value;
                    i = close + 1;
                    continue;
                }
            }
            expanded += marked[i++];
        }
        if (expanded.size() > kExpandedPathLimit) return text;
        text = std::move(expanded);
    }
    return text;
}

double FileTimeGMT(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw EConvertError(kNoFileTimeText);
    }
    // File dates keep two-second steps.
    const std::time_t seconds = st.st_mtim.tv_sec - (st.st_mtim.tv_sec % 2);
    return ToGMT(LocalDateTime(seconds));
}

bool ServeFile(const TDispatchContext& context, TWebServerRequest& request, bool headOnly) {
    const std::string path = request.GetVarText(var::kPathInfo);
    if (path.empty()) {
        const std::string target = ExpandDefaultTarget(context.DefaultTarget, context.ListenPort);
        if (target.empty()) {
            SendNotFound(context, request);
            return false;
        }
        TWebServerResponse response(request, context.Connection, context.Log);
        response.TransmitRedirect(target);
        return true;
    }
    if (const auto classID = FindHostedApplication(path)) {
        TWebServerResponse response(request, context.Connection, context.Log);
        const auto application = CreateHostedApplication(*classID);
        TWebRequestImpl adapter(request, true, &response);
        const HRESULT result = application->HandleRequest(adapter);
        if (result < 0) {
            char text[64];
            std::snprintf(text, sizeof text, "Hosted application failed (0x%08X)",
                          static_cast<unsigned>(result));
            throw std::runtime_error(text);
        }
        return true;
    }
    const std::string file = FindFileOnPath(path, context.SearchPath);
    if (file.empty()) {
        SendNotFound(context, request);
        return false;
    }
    TWebServerResponse response(request, context.Connection, context.Log);
    const double modified = FileTimeGMT(file);
    const double since = request.GetVarDate(var::kIfModifiedSince);
    if (since > -1.0 && Milliseconds(since) >= Milliseconds(modified)) {
        response.SetStatus(304);
    } else {
        response.LastModified = modified;
        response.ContentType =
            GetContentType(file, context.MimeTypes ? *context.MimeTypes : TMimeTypes::System());
        if (!headOnly) {
            response.SetBodyStream(
                std::make_unique<base::TFileStream>(file, base::TFileStream::TMode::Read));
        }
    }
    response.Transmit();
    return true;
}

void SendBadRequest(const TDispatchContext& context, TWebServerRequest& request) {
    SendPage(context, request, 400, kBadRequestPage);
}

void SendNotFound(const TDispatchContext& context, TWebServerRequest& request) {
    SendPage(context, request, 404, kNotFoundPage);
}

void SendServerError(const TDispatchContext& context, TWebServerRequest& request,
                     std::string_view message) {
    TWebServerResponse response(request, context.Connection, context.Log);
    response.ContentType = "text/html";
    response.SetStatus(500);
    // An empty message would make the status line read "200 OK".
    if (!message.empty()) response.SetReasonPhrase(message);
    response.SetBodyText(Format(kServerErrorPage, HtmlEscape(message)));
    response.Transmit();
}

}  // namespace zephyrine::server
