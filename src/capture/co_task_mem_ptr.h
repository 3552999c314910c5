// Owner of a block the platform allocated with CoTaskMemAlloc: an id string, a
// format block or a closest-match format. Freed with CoTaskMemFree exactly once.
#pragma once

#include "capture/core_audio.h"

#include <memory>

namespace velmoravad {

struct CoTaskMemDeleter {
  void operator()(void* block) const { CoTaskMemFree(block); }
};

template <class T>
using CoTaskMemPtr = std::unique_ptr<T, CoTaskMemDeleter>;

}  // namespace velmoravad
