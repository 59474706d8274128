// The in-process registry of hosted web applications: programmatic identifier, class id and
// server file name mapped onto a factory. The dispatcher consults it before looking for files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/ReqImpl.h"

namespace zephyrine::server {

// What a hosted application offers: one call that writes the whole answer through the request
// adapter and returns an HRESULT (negative on failure).
class IHostedApplication {
  public:
    virtual ~IHostedApplication() = default;
    virtual HRESULT HandleRequest(IWebRequest& request) = 0;
};

// A factory returns null for an object that does not offer the hosted-application interface.
using THostedAppFactory = std::function<std::unique_ptr<IHostedApplication>()>;

struct THostedAppRegistration {
    std::string ProgID;   // e.g. "Demo.App"; may be empty
    std::string ClassID;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    std::string
        ServerFileName;  // the local server's path, e.g. "/opt/demo/demoapp.exe"; may be empty
    THostedAppFactory Factory;
};

// Parses "{" 8-4-4-4-12 hexadecimal digits "}" and returns it in upper case; nullopt otherwise.
std::optional<std::string> ParseClassID(std::string_view text);

// Process-wide; safe to call from any thread.
void RegisterHostedApplication(THostedAppRegistration registration);
void UnregisterHostedApplication(std::string_view classID);

std::optional<std::string> ClassIDFromProgID(std::string_view progID);
// The class whose server file name (its last path component) equals name, ignoring case.
std::optional<std::string> FindServerByFileName(std::string_view name);
// The first path segment of a request path names a hosted application: its class id, or nullopt.
std::optional<std::string> FindHostedApplication(std::string_view path);
// Creates the object of a class; throws std::runtime_error when the class is not registered or
// the object does not offer the hosted-application interface.
std::unique_ptr<IHostedApplication> CreateHostedApplication(const std::string& classID);

}  // namespace zephyrine::server
