// Every stand-in HANDLE points at a KernelObject; CloseHandle destroys it.
#pragma once

#include <windows.h>

namespace standin {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// The object behind a handle, or null for a null or INVALID_HANDLE_VALUE handle.
inline KernelObject* ObjectFromHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<KernelObject*>(handle);
}

}  // namespace standin
