// The way into the audio system: COM for the calling thread, the device
// enumerator, the events that capture streams are registered with, and the
// multimedia class scheduler that an audio thread registers with. The program
// uses the platform's (COM and, on Linux, the PulseAudio stand-in).
//
// This is the one seam reached through a process-wide entry instead of being
// handed down, as CoCreateInstance is on Windows: CurrentAudioSystem(). A test
// installs a simulated audio system for its own length with ScopedAudioSystem,
// so no state leaks from one test into the next.
#pragma once

#include "capture/core_audio.h"

namespace velmoravad {

class AudioSystem {
 public:
  // CoInitializeEx(nullptr, COINIT_MULTITHREADED) for the calling thread.
  virtual HRESULT InitializeCom() = 0;
  // CoUninitialize, once per successful InitializeCom.
  virtual void UninitializeCom() = 0;
  // A new device enumerator: CoCreateInstance of MMDeviceEnumerator, CLSCTX_ALL.
  virtual HRESULT CreateDeviceEnumerator(IMMDeviceEnumerator** enumerator) = 0;
  // The event a capture stream is registered with: CreateEventW with no security
  // attributes, automatic reset, not signalled, no name. Null on failure, with
  // the last error set.
  virtual HANDLE CreateCaptureEvent() = 0;
  // AvSetMmThreadCharacteristicsW: registers the calling thread with the
  // multimedia class scheduler as a task of `taskName`. Null on failure.
  virtual HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex) = 0;
  // AvRevertMmThreadCharacteristics: ends a registration.
  virtual BOOL AvRevertMmThreadCharacteristics(HANDLE registration) = 0;

 protected:
  ~AudioSystem() = default;
};

// The audio system in force: the installed test system, else the platform's.
AudioSystem& CurrentAudioSystem();

class ScopedAudioSystem {
 public:
  explicit ScopedAudioSystem(AudioSystem& system);
  ScopedAudioSystem(const ScopedAudioSystem&) = delete;
  ScopedAudioSystem& operator=(const ScopedAudioSystem&) = delete;
  ~ScopedAudioSystem();

 private:
  AudioSystem* previous_;
};

}  // namespace velmoravad
