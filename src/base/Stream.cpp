#include "base/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zephyrine::base {

std::int64_t TStream::Size() {
    const std::int64_t here = Seek(0, TSeekOrigin::Current);
    const std::int64_t end = Seek(0, TSeekOrigin::End);
    Seek(here, TSeekOrigin::Beginning);
    return end;
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const std::size_t n = Write(p, count);
        if (n == 0) throw std::runtime_error("Stream write error");
        p += n;
        count -= n;
    }
}

TMemoryStream::TMemoryStream(std::string_view initial) : data_(initial.begin(), initial.end()) {}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (position_ >= data_.size()) return 0;
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    if (origin == TSeekOrigin::Current) base = static_cast<std::int64_t>(position_);
    if (origin == TSeekOrigin::End) base = static_cast<std::int64_t>(data_.size());
    // A memory stream may be positioned past its end; the next write fills the gap.
    position_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
    return static_cast<std::int64_t>(position_);
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

TFileStream::TFileStream(const std::string& path, TMode mode) {
    const int flags = mode == TMode::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
    fd_.Reset(::open(path.c_str(), flags | O_CLOEXEC, 0644));
    if (!fd_) {
        throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
    }
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd_.Get(), buffer, count);
        if (n >= 0) {
            position_ += n;
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) return 0;
    }
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::write(fd_.Get(), buffer, count);
        if (n >= 0) {
            position_ += n;
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) return 0;
    }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    // Asking for the position is answered from the count kept: a file body is asked once per
    // answer.
    if (origin == TSeekOrigin::Current && offset == 0) return position_;
    const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    const off_t r = ::lseek(fd_.Get(), static_cast<off_t>(offset), whence);
    if (r < 0) return 0;
    position_ = static_cast<std::int64_t>(r);
    return position_;
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace zephyrine::base
