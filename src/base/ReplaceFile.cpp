#include "base/ReplaceFile.h"

#include "base/ScopeExit.h"
#include "base/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace zephyrine::base {

namespace {

[[noreturn]] void Fail() {
    throw std::system_error(errno, std::generic_category());
}

}  // namespace

void ReplaceFileContents(const std::string& path, std::string_view bytes) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    std::string temp = folder + kReplaceTempPrefix + "XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) Fail();
    ScopeExit removeTemp([&] { ::unlink(temp.c_str()); });
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) Fail();
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.Get(), 0644) != 0 || ::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0)
        Fail();
    if (::rename(temp.c_str(), path.c_str()) != 0) Fail();
    removeTemp.Release();
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.Get());
}

}  // namespace zephyrine::base
