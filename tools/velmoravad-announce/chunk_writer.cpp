#include "velmoravad-announce/chunk_writer.h"

namespace velmoravad {

bool PipeChunkWriter::Write(const std::uint8_t* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(pipe_, bytes, count, &written, nullptr)) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

}  // namespace velmoravad
