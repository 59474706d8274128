// Byte streams: the layer between a byte source (memory, file, socket) and the protocol code,
// so that the tokenizer and the request reader can be fed from memory in tests.
#pragma once

#include "base/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrine::base {

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
  public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Reads up to count bytes; 0 means end of data (or, on a socket, a wait that ran out).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes up to count bytes and returns how many were written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Moves the position and returns the new one; streams that cannot seek return 0.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    // Total size in bytes; the default seeks to the end and back.
    virtual std::int64_t Size();

    std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    // Writes the whole buffer or throws std::runtime_error.
    void WriteBuffer(const void* buffer, std::size_t count);
    void WriteString(std::string_view text) { WriteBuffer(text.data(), text.size()); }
};

// A growable buffer in memory; writing past the end extends it.
class TMemoryStream final : public TStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string_view initial);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const std::vector<char>& Data() const { return data_; }
    std::string ToString() const { return std::string(data_.begin(), data_.end()); }
    void Clear();
    // Makes room for capacity bytes without changing the contents.
    void Reserve(std::size_t capacity) { data_.reserve(capacity); }

  private:
    std::vector<char> data_;
    std::size_t position_ = 0;
};

// A file on disk. Opening failures throw std::runtime_error naming the file.
class TFileStream final : public TStream {
  public:
    enum class TMode { Read, Create };
    TFileStream(const std::string& path, TMode mode);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    int Handle() const { return fd_.Get(); }

  private:
    UniqueFd fd_;
    std::int64_t position_ = 0;  // the file offset, as reads, writes and seeks left it
};

}  // namespace zephyrine::base
