#include "pulse/task_memory_string.h"

#include <objbase.h>

#include <cwchar>

#include "text_conversion.h"

namespace standin {

LPWSTR NewTaskMemWideString(const std::string& utf8) {
  const std::wstring wide = WideFromUtf8(utf8);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
  return copy;
}

}  // namespace standin
