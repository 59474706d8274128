#include "server/CustomWebServer.h"

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "HttpText.h"
#include "LoopbackClient.h"

using namespace zephyrine::server;
using zephyrine::server::testing::Eventually;
using zephyrine::server::testing::MaskDates;
using zephyrine::server::testing::TLoopbackClient;
namespace fs = std::filesystem;

namespace {

constexpr int kShortWaitMs = 400;
// A whole header whose body is still to come: the connection holds a thread in a read.
constexpr const char* kBodyPending =
    "POST /temppack11.cab HTTP/1.1\r\nContent-Length: 10\r\n\r\n";
constexpr const char* kBody = "0123456789";

// An IPv4 address of this machine other than a loopback one; empty when there is none.
std::string OtherLocalAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string address;
    for (auto* a = list; a; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                      sizeof text);
            if (std::string(text).rfind("127.", 0) != 0) address = text;
        }
    }
    freeifaddrs(list);
    return address;
}

class Server : public ::testing::Test {
  protected:
    void SetUp() override {
        pack_ = fs::temp_directory_path() /
                ("zephyrine-server-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(pack_);
        cab_.clear();
        for (int i = 0; i < 20000; ++i)
            cab_ += static_cast<char>(i * 7 % 251);
        std::ofstream(pack_ / "temppack11.cab", std::ios::binary) << cab_;
    }
    void TearDown() override {
        server_.reset();
        fs::remove_all(pack_);
    }

    TCustomWebServer& Start(int waitMs = kShortWaitMs,
                            const std::function<void(TServerWinSocket&)>& setup = {}) {
        server_ = std::make_unique<TCustomWebServer>(queue_.Poster(), waitMs);
        if (setup) setup(server_->ServerSocket());
        server_->SetSearchFolders(pack_.string());
        server_->OnLogEntry = [this](TCustomServerLog&, std::unique_ptr<TTransactionLogEntry>& e,
                                     bool& release) {
            entries_.push_back(std::move(e));
            release = false;
        };
        server_->SetListening(true);
        port_ = server_->BoundPort();
        return *server_;
    }
    // Runs the owner queue until count entries have arrived.
    bool Entries(std::size_t count) {
        return Eventually([&] {
            queue_.RunPending();
            return entries_.size() >= count;
        });
    }

    fs::path pack_;
    std::string cab_;
    TOwnerQueue queue_;
    std::unique_ptr<TCustomWebServer> server_;
    std::vector<std::unique_ptr<TTransactionLogEntry>> entries_;
    std::uint16_t port_ = 0;
};

}  // namespace

TEST_F(Server, ServesThePackAndLogsBothSides) {
    Start();
    TLoopbackClient client(port_);
    ASSERT_TRUE(client.Connected());
    const std::string answer =
        client.Request("GET /temppack11.cab HTTP/1.1\r\nHost: 127.0.0.1:21887\r\n\r\n");
    const std::string header = answer.substr(0, answer.find("\r\n\r\n") + 4);
    EXPECT_EQ(MaskDates(header, {"Date: ", "Last-Modified: "}),
              "HTTP/1.1 200 OK\r\nDate: *\r\nServer: Tessel Test Server/1.0\r\nLast-Modified: "
              "*\r\nContent-Type: application/vnd.ms-cab-compressed\r\nContent-Length: "
              "20000\r\nContent:\r\n\r\n");
    EXPECT_EQ(answer.substr(header.size()), cab_);

    ASSERT_TRUE(Entries(2));
    auto& request = *entries_[0];
    auto& response = *entries_[1];
    EXPECT_EQ(request.GetColumnText(column::kEvent), "GET");
    EXPECT_EQ(request.GetColumnText(column::kPath), "/temppack11.cab");
    EXPECT_EQ(request.GetColumnText(column::kContentLength), "0");
    EXPECT_EQ(response.GetColumnText(column::kEvent), "RESPONSE");
    EXPECT_EQ(response.GetColumnText(column::kStatus), "200 OK");
    EXPECT_EQ(response.GetColumnText(column::kContentLength), "20000");
    EXPECT_EQ(response.GetDetailText(), header);  // the file bytes are not logged
    EXPECT_EQ(request.GetColumnText(column::kThreadID), response.GetColumnText(column::kThreadID));
}

TEST_F(Server, AnswersPerMethodAndVersion) {
    Start();
    struct Case {
        std::string raw;
        std::string start;  // "" : nothing at all is written
    } cases[] = {
        {"HEAD /temppack11.cab HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n"},
        {"POST /temppack11.cab HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 200 OK\r\n"},
        {"GET /x/temppack11.cab/?q=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK\r\n"},
        {"GET /missing HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"GET /temppack11.cab HTTP/1.1\r\nUser-Agent: 'open\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        // input left unread must not reset the connection before the answer is read
        // (a line too long to read: its version was never read, so the page comes alone)
        {"GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n\r\n", "<HTML><TITLE>Invalid HTTP"},
        {"POST /temppack11.cab HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n" +
             std::string(3000, 'b'),
         "HTTP/1.1 400 Bad Request"},
        {"PUT /temppack11.cab HTTP/1.1\r\n\r\n", ""},
        {"DELETE /temppack11.cab HTTP/1.1\r\n\r\n", ""},
        {"OPTIONS /temppack11.cab HTTP/1.1\r\n\r\n", ""},
        {"GET /temppack11.cab\r\n",
         std::string("\x00\x07\x0e", 3)},  // no version: the file's bytes alone
    };
    for (const auto& c : cases) {
        TLoopbackClient client(port_);
        bool closed = false;
        client.Send(c.raw);
        const std::string answer = client.ReadAll(&closed);
        EXPECT_TRUE(closed) << c.raw;
        const std::string& start = c.start;
        if (start.empty()) {
            EXPECT_EQ(answer, "") << c.raw;
        } else {
            EXPECT_EQ(answer.substr(0, start.size()), start) << c.raw;
        }
    }
    TLoopbackClient head(port_);
    const std::string headAnswer = head.Request("HEAD /temppack11.cab HTTP/1.1\r\n\r\n");
    EXPECT_EQ(headAnswer.find("Content-Length"), std::string::npos);
    EXPECT_EQ(headAnswer.substr(headAnswer.size() - 12), "Content:\r\n\r\n");
    TLoopbackClient raw(port_);
    EXPECT_EQ(raw.Request("GET /temppack11.cab\r\n"), cab_);
}

TEST_F(Server, KeepAliveIsClosedAfterTheAnswer) {
    Start(60000);
    TLoopbackClient client(port_);
    client.Send("GET /temppack11.cab HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n");
    bool closed = false;
    const std::string answer = client.ReadAll(&closed, 3000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.find("Connection"), std::string::npos);
    EXPECT_EQ(answer.find("Keep-Alive"), std::string::npos);
    EXPECT_EQ(answer.size() - answer.find("\r\n\r\n") - 4, cab_.size());
}

// A header that has not arrived whole holds no thread; once it is whole it is answered.
TEST_F(Server, PartialHeaderWaitsWithoutAThread) {
    auto& server = Start();
    TLoopbackClient client(port_);
    client.Send("GET /temppack11.cab HTTP/1.1\r\nX-Pending: yes\r\n");
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().WaitingConnectionCount() == 1; }));
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 0u);
    client.Send("\r\n");
    EXPECT_EQ(client.ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
}

// Connections that send nothing wait in the accept thread, not in threads of their own, and
// go when the header deadline passes.
TEST_F(Server, SilentConnectionsHoldNoThreadAndCloseAtTheHeaderDeadline) {
    auto& server = Start(kShortWaitMs, [](TServerWinSocket& socket) { socket.HeaderWaitMs = 3000; });
    std::vector<std::unique_ptr<TLoopbackClient>> silent;
    for (int i = 0; i < 20; ++i)
        silent.push_back(std::make_unique<TLoopbackClient>(port_));
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().WaitingConnectionCount() == 20; }));
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 0u);
    TLoopbackClient client(port_);
    EXPECT_EQ(client.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 1u);
    for (auto& c : silent) {
        bool closed = false;
        EXPECT_EQ(c->ReadAll(&closed, 30000), "");
        EXPECT_TRUE(closed);
    }
    EXPECT_TRUE(Eventually([&] { return server.ServerSocket().WaitingConnectionCount() == 0; }));
    ASSERT_TRUE(Entries(2));
    queue_.RunPending();
    EXPECT_EQ(entries_.size(), 2u);  // the one request and its answer
}

// A header that trickles in is cut off at the deadline, although each byte comes well within
// the wait of a read.
TEST_F(Server, TricklingHeaderIsClosedAtTheDeadline) {
    Start(600000, [](TServerWinSocket& socket) { socket.HeaderWaitMs = 1000; });
    TLoopbackClient client(port_);
    client.Send("GET /temppack11.cab HTTP/1.1\r\n");
    bool closed = false;
    std::string answer;
    const std::string trickle = "X-Trickle: " + std::string(600, 'x');
    for (std::size_t i = 0; i < trickle.size() && !closed && answer.empty(); ++i) {
        client.Send(trickle.substr(i, 1));
        answer = client.ReadAll(&closed, 100);  // a pace, and the close when it comes
        if (!closed) {
            pollfd p{client.Handle(), POLLIN, 0};
            closed = ::poll(&p, 1, 0) == 1;  // a reset
        }
    }
    EXPECT_TRUE(closed) << "still open after the whole trickle";
    EXPECT_EQ(answer.substr(0, 40), "");
}

// Past the thread limit a connection waits until a thread is free.
TEST_F(Server, ConnectionThreadsAreBounded) {
    auto& server = Start(600000, [](TServerWinSocket& socket) { socket.ThreadLimit = 2; });
    TLoopbackClient first(port_), second(port_);
    first.Send(kBodyPending);
    second.Send(kBodyPending);
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().ActiveThreadCount() == 2; }));
    TLoopbackClient third(port_);
    third.Send("GET /temppack11.cab HTTP/1.1\r\n\r\n");
    EXPECT_EQ(third.ReadAll(nullptr, 300), "") << "answered past the limit";
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 2u);
    first.Send(kBody);
    EXPECT_EQ(first.ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(third.ReadAll(nullptr, 30000).substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_LE(server.ServerSocket().ActiveThreadCount(), 2u);
    second.Send(kBody);
    EXPECT_EQ(second.ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
}

// Past the limit, the threads that finish serve the connections that wait rather than ending
// and leaving each to a new thread.
TEST_F(Server, WaitingConnectionsAreServedByTheThreadsThatFinish) {
    constexpr int kThreads = 3;
    auto& server = Start(600000, [](TServerWinSocket& socket) {
        socket.ThreadLimit = kThreads;
        socket.SetCacheLimit(0);  // a thread with nothing to do ends
    });
    std::vector<std::unique_ptr<TLoopbackClient>> busy, waiting;
    for (int i = 0; i < kThreads; ++i) {
        busy.push_back(std::make_unique<TLoopbackClient>(port_));
        busy.back()->Send(kBodyPending);
    }
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().ActiveThreadCount() == kThreads; }));
    for (int i = 0; i < kThreads; ++i) {
        waiting.push_back(std::make_unique<TLoopbackClient>(port_));
        waiting.back()->Send("GET /missing HTTP/1.1\r\n\r\n");
    }
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().ReadyConnectionCount() == kThreads; }));
    for (auto& c : busy) {
        c->Send(kBody);
        EXPECT_EQ(c->ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
    }
    for (auto& c : waiting)
        EXPECT_EQ(c->ReadAll().substr(0, 12), "HTTP/1.1 404");
    ASSERT_TRUE(Entries(4 * kThreads));
    std::set<std::string> threads;
    for (auto& e : entries_)
        threads.insert(e->GetColumnText(column::kThreadID));
    EXPECT_EQ(threads.size(), static_cast<std::size_t>(kThreads));
    EXPECT_TRUE(Eventually([&] { return server.ServerSocket().ActiveThreadCount() == 0; }));
}

// The server's wait holds on every accepted connection: a body that never comes ends the read.
TEST_F(Server, TheServersWaitEndsAReadOfAMissingBody) {
    Start(kShortWaitMs);
    TLoopbackClient client(port_);
    client.Send(kBodyPending);
    EXPECT_NE(client.ReadAll(nullptr, 60000), "");
    ASSERT_TRUE(Entries(2));
    EXPECT_EQ(entries_[0]->GetColumnText(column::kEvent), "POST");
}

TEST_F(Server, ElevenConnectionsLeaveTenCachedThreads) {
    auto& server = Start(5000);
    std::vector<std::unique_ptr<TLoopbackClient>> clients;
    for (int i = 0; i < 11; ++i) {
        clients.push_back(std::make_unique<TLoopbackClient>(port_));
        clients.back()->Send(kBodyPending);  // a thread each, in a read
    }
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().ActiveThreadCount() == 11; }));
    for (auto& c : clients)
        c->Send(kBody);
    for (auto& c : clients)
        EXPECT_EQ(c->ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_TRUE(Eventually([&] {
        return server.ServerSocket().ActiveThreadCount() == 10 &&
               server.ServerSocket().IdleThreadCount() == 10;
    }));
    // the thread that ended left no record behind in the log's request times
    EXPECT_TRUE(Eventually([&] { return server.RequestLog().RequestTimesCopy().size() == 10; }));
    // cached threads are reused: no new thread ids appear
    ASSERT_TRUE(Entries(22));
    std::set<std::string> before;
    for (auto& e : entries_)
        before.insert(e->GetColumnText(column::kThreadID));
    EXPECT_EQ(before.size(), 11u);
    for (int i = 0; i < 5; ++i) {
        TLoopbackClient again(port_);
        EXPECT_EQ(again.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
                  "HTTP/1.1 200 OK");
    }
    ASSERT_TRUE(Entries(32));
    std::set<std::string> after;
    for (auto& e : entries_)
        after.insert(e->GetColumnText(column::kThreadID));
    EXPECT_EQ(after, before);
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 10u);
}

TEST_F(Server, SettingsWhileActive) {
    auto& server = Start();
    EXPECT_TRUE(server.Listening());
    server.SetListening(true);  // no effect
    EXPECT_TRUE(server.Listening());
    try {
        server.SetListenPort(static_cast<std::uint16_t>(port_ + 1));
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Can't change value while socket is active");
    }
    server.SetListenPort(0);  // the same value: no effect, no error
    try {
        server.ServerSocket().Listen(0);
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Can't listen on an open socket");
    }
    EXPECT_THROW(server.ServerSocket().SetServerType(TServerType::NonBlocking), ESocketError);
    server.SetListening(false);
    EXPECT_FALSE(server.Listening());
    server.SetListenPort(port_);
    server.SetListening(true);
    EXPECT_EQ(server.BoundPort(), port_);
    TLoopbackClient client(port_);
    EXPECT_EQ(client.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
}

TEST_F(Server, PortTakenIsLoggedRaisedAndRetried) {
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t taken = ntohs(address.sin_port);

    TCustomWebServer server(queue_.Poster(), kShortWaitMs);
    std::vector<std::unique_ptr<TTransactionLogEntry>> entries;
    server.OnLogEntry = [&](TCustomServerLog&, std::unique_ptr<TTransactionLogEntry>& e, bool&) {
        entries.push_back(std::move(e));
    };
    server.SetListenPort(taken);
    try {
        server.SetListening(true);
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Windows socket error: Address already in use (98), on API 'bind'");
    }
    EXPECT_FALSE(server.Listening());
    queue_.RunPending();
    ASSERT_EQ(entries.size(), 1u);
    auto* error = dynamic_cast<TErrorTransaction*>(entries[0].get());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->ErrorEvent, 3);
    EXPECT_EQ(error->ErrorCode, 0);
    EXPECT_NE(
        error->GetDetailText().find("  Error: (0)Windows socket error: Address already in use"),
        std::string::npos);

    ::close(blocker);
    server.SetListening(true);  // the next attempt opens again
    EXPECT_TRUE(server.Listening());
}

// Shutdown does not wait for the reads in progress to run out (their wait here is ten minutes,
// beyond the test's time limit).
TEST_F(Server, ShutdownWithSilentClientsIsPrompt) {
    auto& server = Start(600000);
    TLoopbackClient reading(port_), another(port_), silent(port_);
    reading.Send(kBodyPending);
    another.Send(kBodyPending);
    ASSERT_TRUE(Eventually([&] {
        return server.ServerSocket().ActiveThreadCount() == 2 &&
               server.ServerSocket().WaitingConnectionCount() == 1;
    }));
    server.SetListening(false);
    EXPECT_FALSE(server.Listening());
    EXPECT_EQ(server.ServerSocket().ActiveThreadCount(), 0u);
    EXPECT_EQ(server.ServerSocket().ConnectionCount(), 0u);
    EXPECT_EQ(server.ServerSocket().WaitingConnectionCount(), 0u);
    for (auto* c : {&reading, &silent}) {
        bool closed = false;
        c->ReadAll(&closed, 30000);
        EXPECT_TRUE(closed);
    }
    // and it can listen again afterwards, with its cache limit back
    server.SetListening(true);
    EXPECT_EQ(server.ServerSocket().CacheLimit(), 10);
    TLoopbackClient client(server.BoundPort());
    EXPECT_EQ(client.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
    TLoopbackClient idle(server.BoundPort()), busy(server.BoundPort());
    busy.Send(kBodyPending);
    ASSERT_TRUE(Eventually([&] { return server.ServerSocket().ConnectionCount() == 2; }));
    server_.reset();  // destroying an active server stops it as well
}

// Bound to the loopback address, the server is not reached through any other address of this
// machine.
TEST_F(Server, BoundToLoopbackOnly) {
    auto& server = Start(kShortWaitMs, [](TServerWinSocket& socket) {
        socket.BindAddress = kLoopbackAddress;
    });
    EXPECT_EQ(server.ServerSocket().LocalAddress(), "127.0.0.1");
    TLoopbackClient local(port_);
    EXPECT_EQ(local.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
    const std::string other = OtherLocalAddress();
    if (other.empty()) GTEST_SKIP() << "no non-loopback IPv4 address here";
    TLoopbackClient remote(port_, other.c_str());
    EXPECT_FALSE(remote.Connected()) << "reached through " << other;
}

TEST_F(Server, BindAddressIsSetWhileInactiveAndCheckedOnListen) {
    TCustomWebServer server;
    EXPECT_EQ(server.BindAddress(), "0.0.0.0");
    server.SetBindAddress("no address");
    try {
        server.SetListening(true);
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Windows socket error: Invalid argument (22), on API 'bind'");
    }
    EXPECT_FALSE(server.Listening());
    server.SetBindAddress("127.0.0.1");
    server.SetListening(true);
    EXPECT_THROW(server.SetBindAddress("0.0.0.0"), ESocketError);
    EXPECT_EQ(server.ServerSocket().LocalAddress(), "127.0.0.1");
}

TEST_F(Server, ServesEveryLocalAddress) {
    const std::string address = OtherLocalAddress();
    if (address.empty()) GTEST_SKIP() << "no non-loopback IPv4 address here";
    Start();
    TLoopbackClient client(port_, address.c_str());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
}

TEST_F(Server, ClientGoneDuringADownloadIsAnErrorEntry) {
    std::ofstream(pack_ / "big.cab", std::ios::binary) << std::string(16 << 20, 'x');
    Start();
    {
        TLoopbackClient client(port_);
        int small = 4096;
        setsockopt(client.Handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        client.Send("GET /big.cab HTTP/1.1\r\n\r\n");
        char some[100];
        ASSERT_GT(recv(client.Handle(), some, sizeof some, 0), 0);
        linger reset{1, 0};  // close with a reset while the server is still sending
        setsockopt(client.Handle(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    ASSERT_TRUE(Eventually([&] {
        queue_.RunPending();
        return std::any_of(entries_.begin(), entries_.end(),
                           [](auto& e) { return e->GetColumnText(column::kEvent) == "ERROR"; });
    }));
    for (auto& e : entries_) {
        if (auto* error = dynamic_cast<TErrorTransaction*>(e.get())) {
            EXPECT_EQ(error->ErrorEvent, eeSend);
            EXPECT_TRUE(error->ErrorCode == ECONNRESET || error->ErrorCode == EPIPE)
                << error->ErrorCode;
            EXPECT_NE(error->GetDetailText().find(" Send Error: ("), std::string::npos);
        }
    }
    // the server goes on serving
    TLoopbackClient next(port_);
    EXPECT_EQ(next.Request("GET /temppack11.cab HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
}

TEST(TesselVariable, SetAtStartWhenMissing) {
    const char* value = std::getenv("TESSEL");
    ASSERT_NE(value, nullptr);
    const fs::path program = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(fs::path(value), program.parent_path().parent_path());
}

// The start-up of a program that serves: TESSEL first, as zephyrine and zephyrine-httpd do.
int main(int argc, char** argv) {
    InitTesselVariable();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
