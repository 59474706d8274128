#include "server/SvrLog.h"

#include <gtest/gtest.h>

#include <thread>

#include "server/WebServerRequest.h"

using namespace zephyrine::base;
using namespace zephyrine::server;

namespace {

std::vector<std::unique_ptr<TTransactionLogEntry>> Drain(TCustomServerLog& log) {
    std::vector<std::unique_ptr<TTransactionLogEntry>> out;
    while (auto e = log.TakeNext())
        out.push_back(std::move(e));
    return out;
}

}  // namespace

TEST(ResponseTransaction, ReadsStatusTypeAndLengthFromSentText) {
    struct Case {
        const char* text;
        const char* status;
        const char* type;
        int length;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nDate: x\r\nContent-Type: application/x\r\nContent-Length: "
         "42\r\nContent:\r\n\r\n",
         "200 OK", "application/x", 42},
        {"HTTP/1.1 304 Not Modified\r\nDate: x\r\nContent:\r\n\r\n", "304 Not Modified", "", 0},
        // the first Content-Type counts; a length that is not a whole number is ignored
        {"HTTP/1.1 200 OK\r\nContent-Type:   text/a\r\nContent-Type: text/b\r\nContent-Length: "
         "1.5\r\n\r\n",
         "200 OK", "text/a", 0},
        // nothing after the empty line is a header
        {"HTTP/1.1 404 Not Found\r\n\r\nContent-Type: text/late\r\n", "404 Not Found", "", 0},
        {"HTTP/1.1 500 'x' is bad\r\nContent:\r\n\r\n", "500 'x' is bad", "", 0},
        {"<TITLE>no status line</TITLE>", "status line</TITLE>", "", 0},
        {"nospace", "", "", 0},
        {"", "", "", 0},
    };
    for (const auto& c : cases) {
        TResponseTransaction entry(c.text);
        EXPECT_EQ(entry.StatusText, c.status) << c.text;
        EXPECT_EQ(entry.ContentType, c.type) << c.text;
        EXPECT_EQ(entry.ContentLength, c.length) << c.text;
        EXPECT_EQ(entry.GetDetailText(), c.text);
        EXPECT_EQ(entry.GetColumnText(column::kEvent), "RESPONSE");
    }
}

TEST(TransactionLog, ColumnsOfEachKind) {
    TWebServerRequest request(21887, "localhost", "127.0.0.1");
    request.SetVarText(var::kRequestMethod, "GET");
    request.SetVarText(var::kPathInfo, "/temppack11.cab");
    request.SetBody(std::make_unique<TMemoryStream>("GET /temppack11.cab HTTP/1.1\r\n\r\n"), "");
    TRequestTransaction req(request);
    EXPECT_EQ(req.GetColumnText(column::kEvent), "GET");
    EXPECT_EQ(req.GetColumnText(column::kPath), "/temppack11.cab");
    EXPECT_EQ(req.GetColumnText(column::kContentLength), "0");  // no Content-Length header
    EXPECT_EQ(req.GetColumnText(column::kElapsed), "");
    EXPECT_EQ(req.GetColumnText(column::kStatus), "");
    EXPECT_EQ(req.GetDetailText(), "GET /temppack11.cab HTTP/1.1\r\n\r\n");
    EXPECT_EQ(req.GetColumnText(column::kThreadID), std::to_string(CurrentThreadID()));
    const std::string time = req.GetColumnText(column::kTime);
    ASSERT_EQ(time.size(), 12u);
    for (std::size_t i = 0; i < time.size(); ++i) {
        EXPECT_TRUE(i == 2 || i == 5 || i == 8
                        ? time[i] == ':'
                        : std::isdigit(static_cast<unsigned char>(time[i])) != 0)
            << time;
    }
    EXPECT_FALSE(req.GetColumnText(column::kDate).empty());
    EXPECT_EQ(req.GetColumnText(kLogColumnCount), "");
    EXPECT_EQ(req.GetColumnText(-1), "");

    TResponseTransaction resp("HTTP/1.1 200 OK\r\nContent-Type: a/b\r\nContent-Length: 7\r\n\r\n");
    resp.Elapsed = EncodeTime(1, 2, 3, 45);
    EXPECT_EQ(resp.GetColumnText(column::kElapsed), "01:02:03:045");
    EXPECT_EQ(resp.GetColumnText(column::kPath), "");
    EXPECT_EQ(resp.GetColumnText(column::kStatus), "200 OK");
    EXPECT_EQ(resp.GetColumnText(column::kContentLength), "7");
    EXPECT_EQ(resp.GetColumnText(column::kContentType), "a/b");

    TErrorTransaction err(eeReceive, 104, "Connection reset by peer");
    EXPECT_EQ(err.GetColumnText(column::kEvent), "ERROR");
    for (int c : {column::kElapsed, column::kPath, column::kStatus, column::kContentLength,
                  column::kContentType})
        EXPECT_EQ(err.GetColumnText(c), "") << c;
    EXPECT_FALSE(err.GetColumnText(column::kThreadID).empty());
}

TEST(TransactionLog, ErrorDetailText) {
    TErrorTransaction receive(eeReceive, 10054, "reset");
    receive.Time = ComposeDateTime(EncodeDate(2008, 2, 5), EncodeTime(14, 3, 9));
    EXPECT_EQ(receive.GetDetailText(), "Tue, 05 Feb 2008 14:03:09 Receive Error: (10054)reset");
    TErrorTransaction send(eeSend, 32, "Broken pipe");
    send.Time = receive.Time;
    EXPECT_EQ(send.GetDetailText(), "Tue, 05 Feb 2008 14:03:09 Send Error: (32)Broken pipe");
    // a start-up failure names no event: two spaces before "Error:"
    TErrorTransaction listen(eeListen, 0, "bind failed");
    listen.Time = receive.Time;
    EXPECT_EQ(listen.GetDetailText(), "Tue, 05 Feb 2008 14:03:09  Error: (0)bind failed");
}

TEST(TransactionLog, ElapsedFromTheThreadsLastRequest) {
    TCustomServerLog log({});
    TWebServerRequest request(80, "", "");
    request.SetVarText(var::kRequestMethod, "GET");
    request.SetBody(std::make_unique<TMemoryStream>(), "");

    log.LogError(eeSend, 5, "before any request");
    log.LogRequest(request);
    // The response's time is set from the request's, so that the clock plays no part.
    const auto requested = log.RequestTimesCopy();
    ASSERT_EQ(requested.size(), 1u);
    auto response = std::make_unique<TResponseTransaction>("HTTP/1.1 200 OK\r\n\r\n");
    response->Time = requested[0].Time + EncodeTime(0, 0, 2, 500);
    log.AddEntry(std::move(response));
    std::thread other([&] { log.LogResponse("HTTP/1.1 200 OK\r\n\r\n"); });
    other.join();

    auto entries = Drain(log);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0]->Elapsed, 0.0);
    EXPECT_EQ(entries[2]->GetColumnText(column::kElapsed), "00:00:02:500");
    EXPECT_EQ(entries[3]->Elapsed, 0.0);  // a thread that logged no request
    const auto times = log.RequestTimesCopy();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(times[0].ThreadID, CurrentThreadID());

    log.LogRequest(request);  // the record is updated, not added
    EXPECT_EQ(log.RequestTimesCopy().size(), 1u);
}

TEST(TransactionLog, DeliversInOrderOnTheOwningThreadAndHonoursRelease) {
    TOwnerQueue queue;
    TCustomServerLog log(queue.Poster());
    std::vector<std::string> seen;
    std::unique_ptr<TTransactionLogEntry> kept;
    log.OnEntry = [&](TCustomServerLog& sender, std::unique_ptr<TTransactionLogEntry>& entry,
                      bool& release) {
        EXPECT_EQ(&sender, &log);
        EXPECT_TRUE(release);
        seen.push_back(entry->GetDetailText());
        if (seen.size() == 2) {
            kept = std::move(entry);
            release = false;
        }
    };
    std::thread producer([&] {
        for (int i = 0; i < 3; ++i)
            log.LogError(eeSend, i, "e" + std::to_string(i));
    });
    producer.join();
    EXPECT_TRUE(seen.empty());          // nothing is delivered before the owner runs its queue
    EXPECT_GE(queue.RunPending(), 1u);  // one posted drain may deliver several entries
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[0].find("(0)e0"), std::string::npos);
    EXPECT_NE(seen[2].find("(2)e2"), std::string::npos);
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->GetDetailText().find("(1)e1"), std::string::npos);
    EXPECT_EQ(log.QueuedCount(), 0u);
}

TEST(TransactionLog, DeliveryFailureStillFreesAndLeavesTheRestQueued) {
    TOwnerQueue queue;
    TCustomServerLog log(queue.Poster());
    int calls = 0;
    log.OnEntry = [&](TCustomServerLog&, std::unique_ptr<TTransactionLogEntry>&, bool&) {
        if (++calls == 1) throw std::runtime_error("listener failed");
    };
    log.LogError(eeSend, 1, "a");
    log.LogError(eeSend, 2, "b");
    EXPECT_THROW(log.DrainQueue(), std::runtime_error);
    EXPECT_EQ(log.QueuedCount(), 1u);
    log.DrainQueue();
    EXPECT_EQ(calls, 2);
}

TEST(TransactionLog, PostedDrainAfterTheLogIsGoneDoesNothing) {
    TOwnerQueue queue;
    {
        TCustomServerLog log(queue.Poster());
        log.LogError(eeSend, 1, "never delivered");
    }
    EXPECT_EQ(queue.RunPending(), 1u);
}
