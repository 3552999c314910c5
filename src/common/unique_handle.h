// Owner of one Windows kernel handle (an event or a pipe instance). Both null and
// INVALID_HANDLE_VALUE count as empty; a held handle is closed exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace velmoravad {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }

  static bool IsEmptyValue(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
  }
  bool IsValid() const { return !IsEmptyValue(handle_); }
  HANDLE Get() const { return handle_; }

  void Close() {
    if (IsValid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace velmoravad
