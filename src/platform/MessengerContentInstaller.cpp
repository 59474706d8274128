#include "platform/MessengerContentInstaller.h"

#include "platform/Cabinet.h"
#include "platform/IECache.h"
#include "base/Process.h"
#include "base/TextCompare.h"
#include "base/XdgFolders.h"

#include <QMetaObject>

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace zephyrine::platform {

namespace fs = std::filesystem;

namespace {

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kStallSeconds = 60;  // a transfer that moves no byte for this long is given up
constexpr long kMaxRedirects = 5;

bool IsHttpUrl(const std::string& url) {
    std::size_t rest = 0;
    if (base::StartsWithText(url, "http://"))
        rest = 7;
    else if (base::StartsWithText(url, "https://"))
        rest = 8;
    else
        return false;
    if (url.size() <= rest || url[rest] == '/') return false;
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F) return false;
    return true;
}

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlHandle {
    CURL* handle = curl_easy_init();
    ~TCurlHandle() {
        if (handle) curl_easy_cleanup(handle);
    }
};

struct TFileHandle {
    FILE* file = nullptr;
    ~TFileHandle() {
        if (file) std::fclose(file);
    }
};

// Runs cabextract -q -d folder cabinet without a shell; empty on success, else why it failed.
std::string Unpack(const std::string& tool, const std::string& folder, const std::string& cab) {
    base::TProcessResult run = base::RunProcess(UnpackCommand(tool, folder, cab), true);
    if (!run.StartError.empty()) return "cannot start " + tool + ": " + run.StartError;
    if (run.ExitCode == 0) return {};
    std::string& message = run.ErrorOutput;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return "cabextract failed" + (message.empty() ? std::string() : ": " + message);
}

}  // namespace

TMessengerContentInstaller::TMessengerContentInstaller()
    : receiver_(std::make_unique<QObject>()), worker_([this] { Work(); }) {}

TMessengerContentInstaller::~TMessengerContentInstaller() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

std::string TMessengerContentInstaller::StoreFolder() {
    return base::XdgDataHome() + "/messenger-content/";
}

std::string TMessengerContentInstaller::PackName(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    std::string name = path.substr(path.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    if (!name.empty() && name[0] == '.') name[0] = '_';  // never "..", never hidden
    return name.empty() ? "pack" : name;
}

void TMessengerContentInstaller::InstallFromUrl(const std::string& url) {
    if (!IsHttpUrl(url))
        throw std::runtime_error(
            "The messenger content installer takes only http and https addresses: " + url);
    for (const std::string& folder : {StoreFolder(), TIECache::Folder()}) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder))
            throw std::runtime_error("The messenger content store cannot be created: " + folder +
                                     ": " + (ec ? ec.message() : "not a folder"));
    }
    if (base::FindProgram(kCabinetTool).empty())
        throw std::runtime_error(
            "The messenger content installer cannot unpack packs: cabextract is not installed.");
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(url);
    }
    wake_.notify_one();
}

void TMessengerContentInstaller::Work() {
    for (;;) {
        std::string url;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            url = queue_.front();
            queue_.pop_front();
        }
        TOutcome outcome = Install(url);
        if (stopping_) return;
        Deliver(std::move(outcome));
    }
}

TMessengerContentInstaller::TOutcome TMessengerContentInstaller::Install(const std::string& url) {
    CurlGlobalInit();
    const std::string entry = TIECache::EntryPath(url);
    const std::string part = entry + ".part";

    TCurlHandle curl;
    if (!curl.handle) return {kHrDownloadFailed, "cannot start a transfer"};
    TFileHandle out{std::fopen(part.c_str(), "wb")};
    if (!out.file)
        return {kHrDownloadFailed,
                "cannot write the cache file " + part + ": " + std::strerror(errno)};
    char error[CURL_ERROR_SIZE] = {};
    CURL* h = curl.handle;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxPackBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, out.file);
    curl_easy_setopt(
        h, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* file) {
            return std::fwrite(data, size, n, static_cast<FILE*>(file)) * size;
        });
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(
        h, CURLOPT_XFERINFOFUNCTION,
        +[](void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) -> int {
            auto* installer = static_cast<TMessengerContentInstaller*>(self);
            return installer->stopping_ || received > kMaxPackBytes ? 1 : 0;
        });
    // A cached copy is fetched again only when the server has a newer one.
    struct stat cached {};
    if (stat(entry.c_str(), &cached) == 0 && cached.st_mtime > 0) {
        curl_easy_setopt(h, CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE));
        curl_easy_setopt(h, CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(cached.st_mtime));
    }

    const CURLcode rc = curl_easy_perform(h);
    const bool written = std::fflush(out.file) == 0 && std::fclose(out.file) == 0;
    out.file = nullptr;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t remoteTime = -1;
    curl_easy_getinfo(h, CURLINFO_FILETIME_T, &remoteTime);
    const auto fail = [&](std::int32_t result, std::string why) {
        unlink(part.c_str());
        return TOutcome{result, url + ": " + why};
    };
    if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST ||
        rc == CURLE_COULDNT_RESOLVE_PROXY)
        return fail(kHrCannotConnect, error[0] ? error : curl_easy_strerror(rc));
    if (rc == CURLE_FILESIZE_EXCEEDED || (rc == CURLE_ABORTED_BY_CALLBACK && !stopping_))
        return fail(kHrDownloadFailed, "the pack is larger than the installer takes");
    if (rc != CURLE_OK) return fail(kHrDownloadFailed, error[0] ? error : curl_easy_strerror(rc));
    if (status >= 400) return fail(kHrNotFound, "HTTP status " + std::to_string(status));
    if (status == 304) {
        unlink(part.c_str());
    } else if (status >= 200 && status < 300) {
        if (!written) return fail(kHrDownloadFailed, "cannot write the cache file " + part);
        if (std::rename(part.c_str(), entry.c_str()) != 0)
            return fail(kHrDownloadFailed,
                        std::string("cannot store the cache entry: ") + std::strerror(errno));
        // The entry's time is the server's, so that the next fetch can ask for newer only.
        const struct timespec times[2] = {
            {0, UTIME_NOW}, {remoteTime > 0 ? static_cast<time_t>(remoteTime) : 0, 0}};
        utimensat(AT_FDCWD, entry.c_str(), times, 0);
    } else {
        return fail(kHrDownloadFailed, "unexpected HTTP status " + std::to_string(status));
    }

    if (!BeginsWithCabinetSignature(entry)) {
        unlink(entry.c_str());
        return {kHrNotACabinet, url + ": the pack is not a cabinet"};
    }

    const std::string tool = base::FindProgram(kCabinetTool);
    if (tool.empty()) return {kHrUnpackFailed, "cabextract is not installed"};
    const std::string store = StoreFolder();
    const std::string name = PackName(url);
    const std::string staging = store + "." + name + ".unpacking";
    std::error_code ec;
    fs::remove_all(staging, ec);
    if (!fs::create_directories(staging, ec))
        return {kHrUnpackFailed, "cannot create " + staging + ": " + ec.message()};
    if (std::string why = Unpack(tool, staging, entry); !why.empty()) {
        fs::remove_all(staging, ec);
        return {kHrUnpackFailed, url + ": " + why};
    }
    // The pack replaces an earlier copy only once it has been unpacked whole.
    fs::remove_all(store + name, ec);
    fs::rename(staging, store + name, ec);
    if (ec) {
        fs::remove_all(staging, ec);
        return {kHrUnpackFailed, "cannot place the pack in " + store + name + ": " + ec.message()};
    }
    return {kHrInstalled, {}};
}

void TMessengerContentInstaller::Deliver(TOutcome outcome) {
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this, outcome = std::move(outcome)] {
            lastFailure_ = outcome.reason;
            if (outcome.result != kHrInstalled)
                qWarning("Messenger content installer: 0x%08X %s",
                         static_cast<unsigned>(outcome.result), outcome.reason.c_str());
            if (OnContentInstalled) OnContentInstalled(outcome.result);
        },
        Qt::QueuedConnection);
}

}  // namespace zephyrine::platform
