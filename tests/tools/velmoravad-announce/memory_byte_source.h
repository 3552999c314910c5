// A ByteSource over bytes in memory: a file (it has a size and seeks) or, with
// `seekable` false, a pipe (neither). For the WAV reader's tests and fuzz target.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "velmoravad-announce/byte_source.h"

namespace velmoravad::testing {

class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const std::uint8_t* bytes, std::size_t size, bool seekable)
      : bytes_(bytes), size_(size), seekable_(seekable) {}
  MemoryByteSource(const std::vector<std::uint8_t>& bytes, bool seekable)
      : MemoryByteSource(bytes.data(), bytes.size(), seekable) {}

  bool Read(std::uint8_t* buffer, std::size_t count, std::size_t& got) override {
    got = std::min(count, size_ - position_);
    if (got > 0) std::memcpy(buffer, bytes_ + position_, got);
    position_ += got;
    return true;
  }
  std::optional<std::uint64_t> Size() const override {
    return seekable_ ? std::optional<std::uint64_t>(size_) : std::nullopt;
  }
  bool SeekTo(std::uint64_t offset) override {
    if (!seekable_ || offset > size_) return false;
    position_ = static_cast<std::size_t>(offset);
    return true;
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  bool seekable_;
  std::size_t position_ = 0;
};

}  // namespace velmoravad::testing
