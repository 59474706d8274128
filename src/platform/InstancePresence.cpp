#include "platform/InstancePresence.h"

#include "base/UniqueFd.h"
#include "platform/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace zephyrine::platform {

namespace {

constexpr const char* kPresenceName = "Zephyrine.presence";

std::string RuntimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/') {
        std::string dir(xdg);
        struct stat st {};
        if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    std::string dir = "/tmp/zephyrine-" + std::to_string(geteuid());
    return EnsurePrivateFolder(dir) ? dir : std::string();
}

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// The presence is a POSIX record lock, which belongs to the process: a child never inherits it,
// not even between its fork and its exec, so the presence ends exactly when the process does.
// Such a lock also ends when the process closes any descriptor of the file, so the process
// opens the file once for all its windows and never opens it again while it holds it.
struct THeld {
    std::string path;
    int fd = -1;
    int holders = 0;
    pid_t owner = 0;  // a forked child sees the parent's record but holds no lock
};

std::mutex& HeldLock() {
    static std::mutex lock;
    return lock;
}

THeld& ProcessPresence() {
    static THeld held;
    return held;
}

bool HeldHere(const std::string& path) {
    const THeld& held = ProcessPresence();
    return held.holders > 0 && held.owner == getpid() && held.path == path;
}

}  // namespace

std::string TInstancePresence::PresencePath() {
    std::string dir = RuntimeFolder();
    return dir.empty() ? dir : dir + "/" + kPresenceName;
}

TInstancePresence::TInstancePresence() {
    const std::string path = PresencePath();
    if (path.empty()) return;
    std::lock_guard guard(HeldLock());
    THeld& held = ProcessPresence();
    if (HeldHere(path)) {
        ++held.holders;
        held_ = true;
        return;
    }
    if (held.holders > 0 && held.owner == getpid()) return;  // held under another folder
    base::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return;
    struct flock lock = WholeFile(F_RDLCK);
    int rc;
    do {
        rc = fcntl(fd.Get(), F_SETLKW, &lock);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return;
    held = THeld{path, fd.Release(), 1, getpid()};  // kept open while a window holds it
    held_ = true;
}

TInstancePresence::~TInstancePresence() {
    if (!held_) return;
    std::lock_guard guard(HeldLock());
    THeld& held = ProcessPresence();
    if (held.owner != getpid() || --held.holders > 0) return;
    close(held.fd);  // the last window: closing the file ends the lock
    held = THeld{};
}

bool TInstancePresence::IsHeldByAnyone() {
    const std::string path = PresencePath();
    if (path.empty()) return false;
    std::lock_guard guard(HeldLock());
    if (HeldHere(path)) return true;
    const base::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    struct flock lock = WholeFile(F_WRLCK);
    return fcntl(fd.Get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

}  // namespace zephyrine::platform
