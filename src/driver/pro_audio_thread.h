// The calling thread registered with the multimedia class scheduler as a
// "Pro Audio" task, so that a busy machine does not starve it, for as long as
// the object lives: the run holds one around its aggregation loop, from after
// the running line until before EndRun. A registration that fails changes
// nothing: the thread runs on at normal priority, and nothing is reported.
//
// Threading and lifetime: made, used and destroyed on the registered thread;
// the registration is reverted exactly once.
#pragma once

#include "capture/audio_system.h"

namespace velmoravad {

class ProAudioThread {
 public:
  explicit ProAudioThread(AudioSystem& audioSystem);
  ProAudioThread(const ProAudioThread&) = delete;
  ProAudioThread& operator=(const ProAudioThread&) = delete;
  ~ProAudioThread();

 private:
  AudioSystem& audioSystem_;
  HANDLE registration_;  // null when the registration failed
};

}  // namespace velmoravad
