// PipeWriter on a real Windows named pipe.
#include <windows.h>

#include "announcement/pipe_writer.h"
#include "common/output_format.h"
#include "common/unique_handle.h"

#include <utility>

namespace velmoravad::testing {

struct PipeWriter::Connection {
  UniqueHandle pipe;
};

PipeWriter::PipeWriter() = default;
PipeWriter::PipeWriter(PipeWriter&&) noexcept = default;
PipeWriter& PipeWriter::operator=(PipeWriter&&) noexcept = default;
PipeWriter::~PipeWriter() = default;

bool PipeWriter::TryOpen() {
  UniqueHandle pipe(
      CreateFileW(kAnnouncementPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe.IsValid()) return false;
  connection_ = std::make_unique<Connection>(Connection{std::move(pipe)});
  return true;
}

bool PipeWriter::IsOpen() const { return connection_ != nullptr; }

bool PipeWriter::Write(const void* bytes, std::size_t count) {
  if (!connection_) return false;
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(connection_->pipe.Get(), next, static_cast<DWORD>(count), &written, nullptr)) {
      return false;
    }
    next += written;
    count -= written;
  }
  return true;
}

void PipeWriter::Close() { connection_.reset(); }

}  // namespace velmoravad::testing
