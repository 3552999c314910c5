// Owner of one COM interface reference. It releases the reference exactly once
// and then holds null; moving hands the reference on, and there is no copy, so
// nothing ever adds a reference. Its -> cannot reach AddRef or Release.
#pragma once

#include "capture/core_audio.h"

#include <utility>

namespace velmoravad {

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already holds.
  static ComPtr Adopt(Interface* pointer) {
    ComPtr owner;
    owner.pointer_ = pointer;
    return owner;
  }

  void Reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }

  // Out-parameter for a call that yields a new reference; releases any held one first.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  Interface* Get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  class RestrictedInterface : public Interface {
   private:
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
  };

 public:
  RestrictedInterface* operator->() const { return static_cast<RestrictedInterface*>(pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace velmoravad
