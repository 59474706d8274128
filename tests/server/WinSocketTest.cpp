#include "server/WinSocket.h"

#include "server/ServerWinSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

using namespace zephyrine::base;
using namespace zephyrine::server;

namespace {

// A memory stream that records the size of every read asked of it, beyond its own lifetime.
class TCountingStream final : public TStream {
  public:
    TCountingStream(std::string_view bytes, std::vector<std::size_t>& reads)
        : inner_(bytes), reads_(reads) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        reads_.push_back(count);
        return inner_.Read(buffer, count);
    }
    std::size_t Write(const void* b, std::size_t c) override { return inner_.Write(b, c); }
    std::int64_t Seek(std::int64_t o, TSeekOrigin w) override { return inner_.Seek(o, w); }

  private:
    TMemoryStream inner_;
    std::vector<std::size_t>& reads_;
};

struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    ~SocketPair() {
        if (fds[1] >= 0) close(fds[1]);
    }
    std::string ReadPeer() {
        std::string out;
        char buffer[8192];
        for (ssize_t n; (n = read(fds[1], buffer, sizeof buffer)) > 0;)
            out.append(buffer, n);
        return out;
    }
};

}  // namespace

TEST(WinSocket, ErrorTexts) {
    EXPECT_EQ(SocketErrorText(98, "bind"),
              "Windows socket error: Address already in use (98), on API 'bind'");
    EXPECT_EQ(SocketErrorText(104, "recv"),
              "Windows socket error: Connection reset by peer (104), on API 'recv'");
}

TEST(WinSocket, SendWholeStreamInPiecesAndOwnership) {
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    std::string body;
    for (int i = 0; i < 10000; ++i)
        body += static_cast<char>('a' + i % 26);
    std::vector<std::size_t> reads;
    std::unique_ptr<TStream> stream = std::make_unique<TCountingStream>(body, reads);
    EXPECT_TRUE(connection.SendWholeStream(stream));
    EXPECT_EQ(stream, nullptr);  // the connection took it
    connection.Close();
    EXPECT_EQ(pair.ReadPeer(), body);
    ASSERT_GE(reads.size(), 3u);
    for (auto r : reads)
        EXPECT_LE(r, kSendPieceSize);

    std::unique_ptr<TStream> late = std::make_unique<TMemoryStream>("late");
    EXPECT_FALSE(connection.SendWholeStream(late));  // closed: kept by the connection, freed later
    EXPECT_EQ(late, nullptr);
}

// A file answer goes out by sendfile: the same bytes from the stream's position to its end; a
// peer that leaves mid-body is a send error, not the end of the process (SIGPIPE); a send whose
// wait runs out keeps the rest.
TEST(WinSocket, SendWholeStreamOfAFile) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("zephyrine-sendfile-" + std::to_string(getpid()));
    std::string bytes;
    for (int i = 0; i < (4 << 20); ++i)
        bytes += static_cast<char>(i * 31 % 253);
    std::ofstream(path, std::ios::binary) << bytes;
    const auto open = [&](std::int64_t from) {
        std::unique_ptr<TStream> file =
            std::make_unique<TFileStream>(path.string(), TFileStream::TMode::Read);
        file->SetPosition(from);
        return file;
    };
    {
        SocketPair pair;
        TServerClientWinSocket connection(pair.fds[0], nullptr);
        std::string got;
        std::thread reader([&] { got = pair.ReadPeer(); });
        auto file = open(1000);
        EXPECT_TRUE(connection.SendWholeStream(file));
        connection.Close();
        reader.join();
        EXPECT_TRUE(got == bytes.substr(1000)) << got.size() << " bytes";
    }
    {
        SocketPair pair;
        TServerClientWinSocket connection(pair.fds[0], nullptr);
        int code = 0;
        connection.OnErrorEvent = [&](TErrorEvent, int& c) { code = c; };
        close(pair.fds[1]);
        pair.fds[1] = -1;
        auto file = open(0);
        EXPECT_TRUE(connection.SendWholeStream(file));
        EXPECT_EQ(code, EPIPE);
        EXPECT_FALSE(connection.IsConnected());
    }
    {
        SocketPair pair;
        TServerClientWinSocket connection(pair.fds[0], nullptr);
        SetSocketWait(pair.fds[0], 50);  // the peer reads nothing: the wait runs out
        auto file = open(0);
        EXPECT_TRUE(connection.SendWholeStream(file));
        EXPECT_TRUE(connection.IsConnected());
        fcntl(pair.fds[1], F_SETFL, O_NONBLOCK);
        std::string got;
        char buffer[65536];
        for (ssize_t n; (n = read(pair.fds[1], buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        EXPECT_GT(got.size(), 0u);
        EXPECT_LT(got.size(), bytes.size());
        EXPECT_TRUE(got == bytes.substr(0, got.size()));
    }
    std::filesystem::remove(path);
}

TEST(WinSocket, StreamWaitRunsOutWithNoData) {
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    TWinSocketStream stream(connection, 150);
    char buffer[16];
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(connection.IsConnected());
    EXPECT_EQ(stream.Seek(10, TSeekOrigin::Beginning), 0);

    ASSERT_EQ(write(pair.fds[1], "abc", 3), 3);
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 3u);
}

TEST(WinSocket, StreamNeedsBlockingMode) {
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    fcntl(pair.fds[0], F_SETFL, fcntl(pair.fds[0], F_GETFL) | O_NONBLOCK);
    try {
        TWinSocketStream stream(connection, 100);
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket must be in blocking mode");
    }
}

TEST(WinSocket, SendFailureGoesToTheErrorHookClosesAndRaises) {
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    int kind = 0, code = 0;
    connection.OnErrorEvent = [&](TErrorEvent k, int& c) {
        kind = k;
        code = c;
    };
    close(pair.fds[1]);
    pair.fds[1] = -1;
    try {
        connection.SendBuf("x", 1);
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_EQ(std::string(e.what()), SocketErrorText(EPIPE, "send"));
    }
    EXPECT_EQ(kind, eeSend);
    EXPECT_EQ(code, EPIPE);
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(connection.SendBuf("x", 1), 0u);  // closed: nothing sent, no error
}

// The read's wait is ten minutes, beyond the test's time limit: only the shutdown can end it.
TEST(WinSocket, ShutdownIOEndsAReadInProgress) {
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    TWinSocketStream stream(connection, 600000);
    std::thread reader([&] {
        char buffer[16];
        EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    });
    connection.ShutdownIO();
    connection.Close();  // takes the lock the read held
    reader.join();
}

// Past the header deadline a read gives up at once, closes and raises; bytes that came before
// it are read, and once the header is whole the deadline no longer applies.
TEST(WinSocket, HeaderDeadline) {
    using TClock = TServerClientWinSocket::TClock;
    SocketPair pair;
    TServerClientWinSocket connection(pair.fds[0], nullptr);
    TWinSocketStream stream(connection, 600000);
    char buffer[16];
    ASSERT_EQ(write(pair.fds[1], "GET", 3), 3);
    connection.SetHeaderDeadline(TClock::now() + std::chrono::minutes(10));
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 3u);
    connection.EndHeaderDeadline();
    ASSERT_EQ(write(pair.fds[1], " /", 2), 2);
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 2u);

    ASSERT_EQ(write(pair.fds[1], "x", 1), 1);  // waiting, but too late
    connection.SetHeaderDeadline(TClock::now());
    try {
        stream.Read(buffer, sizeof buffer);
        ADD_FAILURE() << "read past the deadline";
    } catch (const ESocketError& e) {
        EXPECT_EQ(std::string(e.what()), SocketErrorText(ETIMEDOUT, "recv"));
    }
    EXPECT_FALSE(connection.IsConnected());
}

// A listener whose accept thread cannot start is closed again, and can listen later.
TEST(WinSocket, FailedStartOfTheAcceptThreadClosesTheSocket) {
    class TListener final : public TServerWinSocket {
      public:
        bool FailStart = true;
        ~TListener() override { Disconnect(); }

      protected:
        std::unique_ptr<TServerClientThread> CreateServerThread() override { return nullptr; }
        std::thread StartAcceptThread(std::function<void()> body) override {
            if (FailStart) throw std::system_error(EAGAIN, std::generic_category());
            return TServerWinSocket::StartAcceptThread(std::move(body));
        }
    } listener;
    bool listening = false;
    listener.OnListenChange = [&](bool on) { listening = on; };
    listener.BindAddress = kLoopbackAddress;
    try {
        listener.Listen(0);
        ADD_FAILURE() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_NE(std::string(e.what()).find("on API 'pthread_create'"), std::string::npos);
    }
    EXPECT_FALSE(listening);
    EXPECT_EQ(listener.Handle(), -1);
    listener.FailStart = false;
    listener.Listen(0);
    EXPECT_TRUE(listening);
    EXPECT_NE(listener.LocalPort(), 0);
    listener.Disconnect();
    EXPECT_FALSE(listening);
}

// The address known from the accept names the peer as the socket itself would; once the
// connection is closed the peer is asked of the socket again, which fails with its call name.
TEST(WinSocket, PeerNameFromTheAcceptAndAfterClose) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    sockaddr_in peer{};
    length = sizeof peer;
    const int accepted = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    ASSERT_GE(accepted, 0);
    {
        TServerClientWinSocket connection(accepted, nullptr, &peer);
        std::string dotted, host;
        connection.PeerName(dotted, host);
        EXPECT_EQ(dotted, "127.0.0.1");
        EXPECT_EQ(host, "localhost");  // a loopback peer, without a lookup
        connection.Close();
        try {
            connection.PeerName(dotted, host);
            ADD_FAILURE() << "a closed connection has no peer";
        } catch (const ESocketError& e) {
            EXPECT_NE(std::string(e.what()).find("on API 'getpeername'"), std::string::npos);
        }
    }
    close(client);
    close(listener);
}
