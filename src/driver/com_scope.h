// COM for the main thread as a scope: once initialised, it is uninitialised
// exactly once, by Uninitialize or at the end of the scope. Declared before
// everything that holds a COM reference, it is destroyed after all of it, so
// "every reference released before COM goes" holds on every way out.
#pragma once

#include "capture/audio_system.h"

namespace velmoravad {

class ComScope {
 public:
  // Takes over one successful InitializeCom of `audioSystem` on this thread.
  explicit ComScope(AudioSystem& audioSystem) : audioSystem_(audioSystem) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() { Uninitialize(); }

  void Uninitialize() {
    if (initialized_) audioSystem_.UninitializeCom();
    initialized_ = false;
  }

 private:
  AudioSystem& audioSystem_;
  bool initialized_ = true;
};

}  // namespace velmoravad
