// The client's exceptions and its socket error codes: system errors are numbered as Windows
// Sockets numbers them, so that every code has its text and "would block" is one number.
#pragma once

#include <stdexcept>
#include <string>

namespace zephyrine::httpclient {

// Lookup, connect and socket errors.
class ESockError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A transfer that was cancelled (also by its time-out).
class EAbortError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The socket error codes the client acts on.
enum TSockErrorCode : int {
    kErrWouldBlock = 10035,
    kErrInProgress = 10036,
    kErrNotConnected = 10057,
    kErrHostNotFound = 11001,
};

// errno values without a counterpart become this base plus the errno: above 10000, so they raise,
// and clear of every code of the table.
inline constexpr int kUnmappedErrnoBase = 20000;

// The socket error code for an errno value.
int SockErrorFromErrno(int error);
// The socket error code for a getaddrinfo result (EAI_SYSTEM takes errno).
int SockErrorFromLookup(int result);
// "<code>:<text>" for a code of the table, "Unknown Error No. <code>" for any other.
std::string LookupErrorMessage(int code);

}  // namespace zephyrine::httpclient
