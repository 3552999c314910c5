// Wide strings handed to callers in COM task memory, which they free with
// CoTaskMemFree (or PropVariantClear).
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// A CoTaskMemAlloc'd, null-terminated wide copy of UTF-8 text; null when out of memory.
LPWSTR NewTaskMemWideString(const std::string& utf8);

}  // namespace standin
