#include "InstancePresence.h"

#include "PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace

std::string TInstancePresence::PresencePath() {
    std::string dir = RuntimeFolder();
    return dir.empty() ? dir : dir + "/" + kPresenceName;
}

TInstancePresence::TInstancePresence() {
    const std::string path = PresencePath();
    if (path.empty()) return;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    struct flock lock = WholeFile(F_RDLCK);
    int rc;
    do {
        rc = fcntl(fd, F_OFD_SETLKW, &lock);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

TInstancePresence::~TInstancePresence() {
    if (fd_ >= 0) close(fd_);  // closing the description releases its lock
}

bool TInstancePresence::IsHeldByAnyone() {
    const std::string path = PresencePath();
    if (path.empty()) return false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct flock lock = WholeFile(F_WRLCK);
    bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

}  // namespace zephyrine::platform
