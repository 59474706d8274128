// Test streams: bytes handed out in given pieces (one piece per read at most), as a slow client
// or a proxy delivers them, with a count of the reads made.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"

namespace zephyrine::server::testing {

class TPieceStream final : public base::TStream {
  public:
    explicit TPieceStream(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
    // The bytes split at one offset.
    static TPieceStream SplitAt(std::string_view bytes, std::size_t offset) {
        return TPieceStream(
            {std::string(bytes.substr(0, offset)), std::string(bytes.substr(offset))});
    }
    // One byte per read.
    static TPieceStream Bytewise(std::string_view bytes) {
        std::vector<std::string> pieces;
        for (const char c : bytes)
            pieces.emplace_back(1, c);
        return TPieceStream(std::move(pieces));
    }

    std::size_t Read(void* buffer, std::size_t count) override {
        ++reads_;
        while (piece_ < pieces_.size() && offset_ == pieces_[piece_].size()) {
            ++piece_;
            offset_ = 0;
        }
        if (piece_ == pieces_.size()) return 0;
        const std::size_t n = std::min(count, pieces_[piece_].size() - offset_);
        std::memcpy(buffer, pieces_[piece_].data() + offset_, n);
        offset_ += n;
        consumed_ += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    // Like a socket stream: seeking does nothing.
    std::int64_t Seek(std::int64_t, base::TSeekOrigin) override { return 0; }

    int Reads() const { return reads_; }
    std::size_t Consumed() const { return consumed_; }

  private:
    std::vector<std::string> pieces_;
    std::size_t piece_ = 0;
    std::size_t offset_ = 0;
    std::size_t consumed_ = 0;
    int reads_ = 0;
};

}  // namespace zephyrine::server::testing
