#include "httpclient/Powersock.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>

#include "support/ScriptedServer.h"

using namespace zephyrine::httpclient;
using namespace zephyrine::httpclient::test;

TEST(Powersock, ConnectFailuresAndTheInvalidHostRetry) {
    TPowersock sock;
    int failed = 0;
    sock.OnConnectionFailed = [&] { ++failed; };
    sock.Host = "127.0.0.1";
    sock.Port = ClosedPort();
    EXPECT_EQ(Raised<ESockError>([&] { sock.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(sock.LastErrorCode(), 10061);
    sock.Disconnect();

    // A name that cannot be resolved; the lookup's own failure is not the one reported.
    sock.Host = "no-such-host.invalid";
    EXPECT_EQ(Raised<ESockError>([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(failed, 1);

    // The handler gets one more try, here with a host that resolves by name.
    TScriptedServer server({{Silent()}});
    int asked = 0, resolved = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        sock.Host = "localhost";
        handled = true;
    };
    sock.OnHostResolved = [&] { ++resolved; };
    sock.Port = server.Port();
    sock.Host = "no-such-host.invalid";
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(Raised<ESockError>([&] { sock.Connect(); }), "Already connected");
}

TEST(Powersock, ReadLnTakesOneLineAndLeavesTheRestWhilePumping) {
    TScriptedServer server({{Send("abc\r\nde"), Pause(200), Send("f\nBODY")},
                            {Send("no line end")},
                            {Send(std::string(kIoBufferSize, 'x'))}});
    TPowersock sock;
    int pumped = 0;
    sock.Pump = [&] { ++pumped; };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(sock.ReadLn(), "abc\r\n");
    EXPECT_TRUE(sock.DataAvailable());
    EXPECT_EQ(sock.ReadLn(), "def\n");  // split across two segments 200 ms apart
    EXPECT_GE(pumped, 5);
    std::string rest;
    sock.CaptureString(rest, -1);
    EXPECT_EQ(rest, "BODY");
    EXPECT_EQ(sock.BytesReceived(), 4);
    EXPECT_FALSE(sock.DataAvailable());

    // What arrived before the peer closed is not lost.
    sock.Disconnect();
    sock.Connect();
    EXPECT_EQ(sock.ReadLn(), "no line end");
    EXPECT_EQ(sock.ReadLn(), "");

    sock.Disconnect();
    sock.Connect();
    EXPECT_EQ(Raised<ESockError>([&] { sock.ReadLn(); }), kLineTooLongText);
}

TEST(Powersock, TransactionSendsALineAndReadsTheReplyNumber) {
    TScriptedServer server({{ReadRequest(), Send("220 ready\r\n")}});
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(sock.Transaction("HELO\r\n"), 220);  // answered after the empty line
    EXPECT_EQ(server.Received().at(0), "HELO\r\n\r\n");
}

TEST(Powersock, AbortFromThePumpAndTheSilentServerLimit) {
    TScriptedServer server({{Silent()}});
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    int pumped = 0;
    sock.Pump = [&] {
        if (++pumped == 20) sock.Abort();
    };
    sock.Connect();
    EXPECT_EQ(Raised<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_EQ(pumped, 20);
    EXPECT_FALSE(sock.TimedOut());

    // With TimeOut 0 a silent server ends the wait at the idle limit; TimeOut takes its place.
    sock.Pump = nullptr;
    sock.IdleLimit = 100;
    EXPECT_EQ(Raised<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(sock.TimedOut());
    sock.TimeOut = 50;
    sock.IdleLimit = 0;
    std::string body;
    EXPECT_EQ(Raised<EAbortError>([&] { sock.CaptureString(body, -1); }), "Socket capture aborted");
    EXPECT_TRUE(sock.TimedOut());
    EXPECT_FALSE(sock.Timer().Enabled());
}

TEST(Powersock, SendsAfterAResetRaiseAndNeverEndTheProcess) {
    TScriptedServer server({{Pause(50), Reset()}});
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    pollfd reset{sock.Handle(), POLLIN, 0};  // a reset reads as an error and a hang-up
    ASSERT_EQ(::poll(&reset, 1, 30000), 1);
    EXPECT_EQ(Raised<ESockError>([&] { sock.Write("a"); }), "10054:Connection reset by peer");
    // Without MSG_NOSIGNAL this send would end the process with SIGPIPE.
    EXPECT_EQ(Raised<ESockError>([&] { sock.Write("b"); }),
              "10058:Can't send after socket shutdown");
    errno = EAGAIN;
    sock.CheckSocketError(kErrWouldBlock);  // the ignored code raises nothing
    EXPECT_EQ(sock.LastErrorCode(), kErrWouldBlock);
}
