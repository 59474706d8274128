// The connection a request is read from and answered on, as the request object sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace zephyrine::server {

// A failure of the socket layer (create, bind, listen, send, receive, close ...).
class ESocketError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The kinds of a socket failure, as the error hooks and the log's error entries number them.
enum TErrorEvent : std::uint8_t { eeSend = 1, eeReceive = 2, eeListen = 3 };

class IServerConnection {
  public:
    IServerConnection() = default;
    IServerConnection(const IServerConnection&) = delete;
    IServerConnection& operator=(const IServerConnection&) = delete;
    virtual ~IServerConnection() = default;

    // Sends up to count bytes under the connection's lock and returns how many went out; 0 when
    // the wait ran out. A failure is reported to the error hook, closes the connection and
    // throws ESocketError.
    virtual std::size_t SendBuf(const void* buffer, std::size_t count) = 0;
    // Receives up to count bytes; 0 at end of data or when the wait ran out. A failure throws
    // ESocketError.
    virtual std::size_t ReceiveBuf(void* buffer, std::size_t count) = 0;
    virtual bool Connected() const = 0;
};

}  // namespace zephyrine::server
