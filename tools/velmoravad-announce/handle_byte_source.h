// A ByteSource on a Windows file handle: a file opened with CreateFileW, or the
// standard input. A file (FILE_TYPE_DISK) has a size and can seek; a pipe or a
// console has neither.
//
// Threading and lifetime: used by one thread. The source owns a handle it
// opened; the standard input's handle belongs to the process and stays open.
#pragma once

#include <windows.h>

#include <string>

#include "velmoravad-announce/byte_source.h"
#include "common/unique_handle.h"

namespace velmoravad {

class HandleByteSource final : public ByteSource {
 public:
  // The file at `path`; IsOpen() tells whether it opened, OpenError() why not.
  explicit HandleByteSource(const std::wstring& path);
  // The process's standard input.
  HandleByteSource();

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  DWORD OpenError() const { return openError_; }

  bool Read(std::uint8_t* buffer, std::size_t count, std::size_t& got) override;
  std::optional<std::uint64_t> Size() const override { return size_; }
  bool SeekTo(std::uint64_t offset) override;

 private:
  void LearnSize();

  UniqueHandle owned_;  // the file's handle; empty for the standard input
  HANDLE handle_;
  DWORD openError_ = ERROR_SUCCESS;
  std::optional<std::uint64_t> size_;  // bytes; only for a file
};

}  // namespace velmoravad
