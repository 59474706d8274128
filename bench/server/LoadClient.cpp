// Load generator for HTTP servers that close after each answer: one connection per request,
// each answer read until the server closes. Loopback only.
//   LoadClient load PORT PATH CONCURRENCY SECONDS
//   LoadClient download PORT PATH
//   LoadClient loopcopy FILE
//   LoadClient idle PORT COUNT SECONDS
//   LoadClient storm PORT
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReadWaitMs = 5000;
constexpr std::size_t kPieceSize = 4096;

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until the peer closes; -1 when the wait ran out or the read failed.
long long ReadToClose(int fd, std::string* keep = nullptr) {
    char buffer[65536];
    long long total = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kReadWaitMs) <= 0) return -1;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) return total;
        if (n < 0) return -1;
        total += n;
        if (keep && keep->size() < 256) keep->append(buffer, static_cast<std::size_t>(n));
    }
}

std::string Get(const char* path) {
    return std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

int Load(int port, const char* path, int concurrency, double seconds) {
    const std::string request = Get(path);
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(concurrency));
    std::atomic<long long> errors{0}, notOk{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < concurrency; ++i) {
        threads.emplace_back([&, i] {
            auto& mine = latencies[static_cast<std::size_t>(i)];
            while (!stop) {
                const auto t0 = Clock::now();
                const int fd = Connect(port);
                std::string head;
                const bool ok = fd >= 0 && SendAll(fd, request) && ReadToClose(fd, &head) > 0;
                if (fd >= 0) ::close(fd);
                if (!ok) {
                    ++errors;
                    continue;
                }
                if (head.compare(0, 15, "HTTP/1.1 200 OK") != 0) ++notOk;
                mine.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto pct = [&](double q) {
        return all.empty()
                   ? 0.0
                   : all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))];
    };
    std::printf("requests=%zu rps=%.0f p50_us=%.0f p99_us=%.0f errors=%lld not_ok=%lld\n",
                all.size(), all.size() / elapsed, pct(0.50), pct(0.99), errors.load(),
                notOk.load());
    return errors == 0 && notOk == 0 ? 0 : 1;
}

int Download(int port, const char* path) {
    const auto t0 = Clock::now();
    const int fd = Connect(port);
    if (fd < 0 || !SendAll(fd, Get(path))) return 1;
    const long long bytes = ReadToClose(fd);
    ::close(fd);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.1f\n", bytes, s, bytes / s / 1e6);
    return bytes > 0 ? 0 : 1;
}

// The baseline for a download: the file read and sent over loopback TCP in 4096-byte pieces.
int LoopCopy(const char* file) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 1;
    }
    const auto t0 = Clock::now();
    std::thread sender([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        const int in = ::open(file, O_RDONLY);
        char piece[kPieceSize];
        for (ssize_t n; (n = ::read(in, piece, sizeof piece)) > 0;) {
            if (::send(peer, piece, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
        }
        ::close(in);
        ::close(peer);
    });
    const int fd = Connect(ntohs(address.sin_port));
    const long long bytes = ReadToClose(fd);
    sender.join();
    ::close(fd);
    ::close(listener);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.1f\n", bytes, s, bytes / s / 1e6);
    return 0;
}

// Opens count connections, sends half a request line on each, holds them, then closes them.
int Idle(int port, int count, double seconds) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = Connect(port);
        if (fd < 0) break;
        SendAll(fd, "GET /");
        fds.push_back(fd);
    }
    std::printf("idle_open=%zu\n", fds.size());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    int closedEarly = 0;
    for (int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) ++closedEarly;
        ::close(fd);
    }
    std::printf("idle_closed_by_server=%d\n", closedEarly);
    return 0;
}

// Malformed and hostile requests; every connection must end (answered or not).
int Storm(int port) {
    const std::string longLine = "GET /" + std::string(10000, 'a') + " HTTP/1.1\r\n\r\n";
    const std::vector<std::string> cases = {
        "GET /temppack11.cab HTTP/1.1\r\nUser-Agent: 'unterminated\r\n\r\n",
        longLine,
        std::string("GET /\0\0\0 HTTP/1.1\r\n\r\n", 22),
        "GET /x HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n",
        "GET /x HTTP/1.1\r\nContent-Length: 2000000000\r\n\r\nabc",
        "GET /x HTTP/1.1\r\nIf-Modified-Since: 99 Foo 99999 99:99:99 GMT\r\n\r\n",
        "GET /x HTTP/1.1\r\nDate: '\r\n\r\n",
        "GET /x HTTP/1.1\r\nHost: #13#10#0'''\r\n\r\n",
        "\r\n\r\n\r\n",
        "GARBAGE\x01\x02\x03\xff\xfe\r\n\r\n",
        "GET /../../../../etc/passwd HTTP/1.1\r\n\r\n",
        "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n",
        "HEAD\r\n",
        "POST /x HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
        std::string(5000, '\n'),
        std::string(5000, '\''),
        std::string(5000, '#'),
    };
    long long ended = 0, timedOut = 0;
    const auto t0 = Clock::now();
    std::srand(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> batch = cases;
        std::string noise(512, '\0');
        for (auto& c : noise)
            c = static_cast<char>(std::rand());
        batch.push_back(noise);
        for (const auto& request : batch) {
            const int fd = Connect(port);
            if (fd < 0) {
                ++timedOut;
                continue;
            }
            SendAll(fd, request);
            ::shutdown(fd, SHUT_WR);  // the request is complete: the server sees its end
            if (ReadToClose(fd) >= 0) {
                ++ended;
            } else {
                ++timedOut;
            }
            ::close(fd);
        }
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("storm_requests=%lld ended=%lld hung_or_refused=%lld seconds=%.2f\n",
                ended + timedOut, ended, timedOut, s);
    return timedOut == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "load" && argc == 6) {
        return Load(std::atoi(argv[2]), argv[3], std::atoi(argv[4]), std::atof(argv[5]));
    }
    if (mode == "download" && argc == 4) return Download(std::atoi(argv[2]), argv[3]);
    if (mode == "loopcopy" && argc == 3) return LoopCopy(argv[2]);
    if (mode == "idle" && argc == 5)
        return Idle(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]));
    if (mode == "storm" && argc == 3) return Storm(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: LoadClient load|download|loopcopy|idle|storm ...\n");
    return 2;
}
