// CreateFileW for files and for the writer's end of a named pipe, the standard
// handles, and the queries the program makes of them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "byte_stream.h"
#include "last_error.h"
#include "named_pipe.h"
#include "text_conversion.h"

namespace {

using standin::FailWith;

// A file or a standard stream, read through its descriptor.
class File final : public standin::ByteStream {
 public:
  File(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~File() override {
    if (owned_) close(fd_);
  }

  int Descriptor() const { return fd_; }

  BOOL Read(LPVOID buffer, DWORD count, DWORD& done) override {
    return standin::ReadDescriptor(fd_, buffer, count, done);
  }

 private:
  const int fd_;
  const bool owned_;  // false for a standard stream, which stays open
};

File* FileFromHandle(HANDLE handle) {
  return dynamic_cast<File*>(standin::ObjectFromHandle(handle));
}

// The file's status, or false with the last error set.
bool StatusOf(HANDLE handle, struct stat& status) {
  const File* file = FileFromHandle(handle);
  if (file == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (fstat(file->Descriptor(), &status) != 0) {
    standin::SetLastErrorFromErrno();
    return false;
  }
  return true;
}

HANDLE OpenFileForReading(LPCWSTR name) {
  const int fd = open(standin::Utf8FromWide(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : standin::Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(fd);  // Windows opens no directory without backup semantics.
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new (std::nothrow) File(fd, /*owned=*/true);
  if (file == nullptr) {
    close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<standin::KernelObject*>(file);
}

}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD desiredAccess, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE templateFile) {
  // Only what the program asks for: an existing file to read, or a pipe to write.
  if (name == nullptr || securityAttributes != nullptr || templateFile != nullptr ||
      creationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (const std::optional<std::string> pipe = standin::SocketNameFromPipeName(name)) {
    return standin::OpenPipeClient(*pipe, desiredAccess);
  }
  if (desiredAccess != GENERIC_READ) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return OpenFileForReading(name);
}

HANDLE GetStdHandle(DWORD which) {
  // Made once and never closed, as the process's own standard streams.
  static File* const input = new File(STDIN_FILENO, /*owned=*/false);
  static File* const output = new File(STDOUT_FILENO, /*owned=*/false);
  static File* const error = new File(STDERR_FILENO, /*owned=*/false);
  switch (which) {
    case STD_INPUT_HANDLE:
      return static_cast<standin::KernelObject*>(input);
    case STD_OUTPUT_HANDLE:
      return static_cast<standin::KernelObject*>(output);
    case STD_ERROR_HANDLE:
      return static_cast<standin::KernelObject*>(error);
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
}

DWORD GetFileType(HANDLE handle) {
  struct stat status {};
  if (!StatusOf(handle, status)) return FILE_TYPE_UNKNOWN;
  SetLastError(ERROR_SUCCESS);
  if (S_ISREG(status.st_mode)) return FILE_TYPE_DISK;
  if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
  struct stat status {};
  if (size == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!StatusOf(handle, status)) return FALSE;
  size->QuadPart = static_cast<LONGLONG>(status.st_size);
  return TRUE;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                      DWORD moveMethod) {
  const File* file = FileFromHandle(handle);
  if (file == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  static_assert(FILE_BEGIN == SEEK_SET && FILE_CURRENT == SEEK_CUR && FILE_END == SEEK_END);
  if (moveMethod > FILE_END) return FailWith(ERROR_INVALID_PARAMETER);
  const off_t position = lseek(file->Descriptor(), static_cast<off_t>(distance.QuadPart),
                               static_cast<int>(moveMethod));
  if (position < 0) {
    // A pipe cannot seek; Windows fails that call the same way.
    return FailWith(errno == ESPIPE ? ERROR_INVALID_FUNCTION : standin::Win32ErrorFromErrno(errno));
  }
  if (newPointer != nullptr) newPointer->QuadPart = position;
  return TRUE;
}

BOOL GetConsoleMode(HANDLE handle, LPDWORD mode) {
  const File* file = FileFromHandle(handle);
  if (file == nullptr || mode == nullptr || !isatty(file->Descriptor())) {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
  return TRUE;
}
