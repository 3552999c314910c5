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

// Out-parameter adaptor: `call(CoTaskMemOut<T>(owner).Address())` leaves the
// block the call returned in `owner` at the end of the statement.
template <class T>
class CoTaskMemOut {
 public:
  explicit CoTaskMemOut(CoTaskMemPtr<T>& owner) : owner_(owner) {}
  CoTaskMemOut(const CoTaskMemOut&) = delete;
  CoTaskMemOut& operator=(const CoTaskMemOut&) = delete;
  ~CoTaskMemOut() { owner_.reset(raw_); }
  T** Address() { return &raw_; }

 private:
  CoTaskMemPtr<T>& owner_;
  T* raw_ = nullptr;
};

}  // namespace velmoravad
