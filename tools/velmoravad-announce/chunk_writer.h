// Where the announce tool's chunks go: the announcement pipe that it opened,
// or, in tests, a recorder that can make a write fail.
//
// Threading: used by the main thread only.
#pragma once

#include <windows.h>

#include <cstdint>

namespace velmoravad {

class ChunkWriter {
 public:
  // Writes all of `bytes`; false, with the system's last error set, when the
  // pipe broke.
  virtual bool Write(const std::uint8_t* bytes, DWORD count) = 0;

 protected:
  ~ChunkWriter() = default;
};

// The writer's end of the pipe, written with WriteFile until every byte is
// taken. The handle stays the caller's.
class PipeChunkWriter final : public ChunkWriter {
 public:
  explicit PipeChunkWriter(HANDLE pipe) : pipe_(pipe) {}
  bool Write(const std::uint8_t* bytes, DWORD count) override;

 private:
  HANDLE pipe_;
};

}  // namespace velmoravad
