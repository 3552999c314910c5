// A writer on the announcement pipe, as another process would be: on Windows it
// opens "\\.\pipe\VelmoraDSPAnnouncement" for writing, on Linux it connects a
// stream socket to the abstract name "VelmoraDSPAnnouncement".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmoravad::testing {

class PipeWriter {
 public:
  PipeWriter();
  PipeWriter(PipeWriter&&) noexcept;
  PipeWriter& operator=(PipeWriter&&) noexcept;
  ~PipeWriter();

  // One attempt to open the pipe; false when no instance is free.
  bool TryOpen();
  // Tries again until the pipe opens or `timeout` has passed.
  bool OpenWithin(std::chrono::milliseconds timeout);
  bool IsOpen() const;

  // Writes every byte; false when the pipe breaks.
  bool Write(const void* bytes, std::size_t count);
  bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // Closes the writer's end; the server sees the stream end.
  void Close();

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

// Little-endian bytes of `samples`, as a writer sends them.
std::vector<std::uint8_t> BytesOf(const std::vector<std::int16_t>& samples);

}  // namespace velmoravad::testing
