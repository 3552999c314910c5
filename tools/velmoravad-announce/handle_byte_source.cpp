#include "velmoravad-announce/handle_byte_source.h"

#include <algorithm>
#include <limits>

namespace velmoravad {

HandleByteSource::HandleByteSource(const std::wstring& path)
    : owned_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)),
      handle_(owned_.Get()) {
  if (!owned_.IsValid()) openError_ = GetLastError();
  LearnSize();
}

HandleByteSource::HandleByteSource() : handle_(GetStdHandle(STD_INPUT_HANDLE)) {
  if (!IsOpen()) openError_ = GetLastError();
  LearnSize();
}

void HandleByteSource::LearnSize() {
  LARGE_INTEGER size{};
  if (IsOpen() && GetFileType(handle_) == FILE_TYPE_DISK && GetFileSizeEx(handle_, &size)) {
    size_ = static_cast<std::uint64_t>(size.QuadPart);
  }
}

bool HandleByteSource::Read(std::uint8_t* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  while (got < count) {
    const DWORD asked =
        static_cast<DWORD>(std::min<std::size_t>(count - got, std::numeric_limits<DWORD>::max()));
    DWORD read = 0;
    if (!ReadFile(handle_, buffer + got, asked, &read, nullptr)) {
      // A pipe whose writer has closed its end ends this way on Windows.
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    if (read == 0) return true;
    got += read;
  }
  return true;
}

bool HandleByteSource::SeekTo(std::uint64_t offset) {
  if (!size_) return false;
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace velmoravad
