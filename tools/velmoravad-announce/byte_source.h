// Where the announce tool reads a clip from: a file, standard input, or memory in
// the tests. Platform-free, so that the WAV reader is too.
//
// Threading and lifetime: used by one thread; the reader that uses a source
// does not own it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velmoravad {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads `count` bytes into `buffer`, fewer only at the end of the source;
  // `got` is the number read. False when reading failed.
  virtual bool Read(std::uint8_t* buffer, std::size_t count, std::size_t& got) = 0;
  // The size in bytes, where it is known before the end is read (a file).
  virtual std::optional<std::uint64_t> Size() const = 0;
  // Moves to `offset` bytes from the start; false where that cannot be done (a
  // pipe), and then the position is unchanged.
  virtual bool SeekTo(std::uint64_t offset) = 0;
};

}  // namespace velmoravad
