#include "httpclient/SockError.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace zephyrine::httpclient;

TEST(SockError, ErrnoValuesTakeTheTableCodesAndTexts) {
    struct {
        int error;
        const char* message;
    } const cases[] = {
        {ECONNREFUSED, "10061:Connection refused"},
        {ECONNRESET, "10054:Connection reset by peer"},
        {ETIMEDOUT, "10060:Connection timed out"},
        {ENOTCONN, "10057:Socket is not connected"},
        {EAGAIN, "10035:Operation would block"},
        {EINPROGRESS, "10036:Operation now in progress"},
        {ENETUNREACH, "10051:Network is unreachable"},
        {EHOSTUNREACH, "10065:No route to Host"},
        {EPIPE, "10058:Can't send after socket shutdown"},
        {EMFILE, "10024:Too many open files"},
        {EIO, "Unknown Error No. 20005"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LookupErrorMessage(SockErrorFromErrno(c.error)), c.message) << c.error;
    EXPECT_EQ(LookupErrorMessage(0), "0:Unrecognized error code");
    EXPECT_EQ(LookupErrorMessage(11001), "11001:Host not found");
}

TEST(SockError, NoErrnoButWouldBlockIsTakenForWouldBlock) {
    // Every caller retries 10035 and raises the rest: a code at or below 10000 would be ignored,
    // and a wrong 10035 retried for ever.
    for (int error = 1; error < 200; ++error) {
        const int code = SockErrorFromErrno(error);
        EXPECT_GT(code, 10000) << error;
        EXPECT_EQ(code == kErrWouldBlock, error == EAGAIN) << error;
    }
}
