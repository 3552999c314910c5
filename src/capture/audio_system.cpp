#include "capture/audio_system.h"

namespace velmoravad {
namespace {

class PlatformAudioSystem final : public AudioSystem {
 public:
  HRESULT InitializeCom() override { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void UninitializeCom() override { CoUninitialize(); }
  HRESULT CreateDeviceEnumerator(IMMDeviceEnumerator** enumerator) override {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                            __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator));
  }
  HANDLE CreateCaptureEvent() override { return CreateEventW(nullptr, FALSE, FALSE, nullptr); }
  HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex) override {
    return ::AvSetMmThreadCharacteristicsW(taskName, taskIndex);
  }
  BOOL AvRevertMmThreadCharacteristics(HANDLE registration) override {
    return ::AvRevertMmThreadCharacteristics(registration);
  }
};

PlatformAudioSystem platformAudioSystem;
AudioSystem* installedAudioSystem = nullptr;

}  // namespace

AudioSystem& CurrentAudioSystem() {
  return installedAudioSystem != nullptr ? *installedAudioSystem : platformAudioSystem;
}

ScopedAudioSystem::ScopedAudioSystem(AudioSystem& system) : previous_(installedAudioSystem) {
  installedAudioSystem = &system;
}

ScopedAudioSystem::~ScopedAudioSystem() { installedAudioSystem = previous_; }

}  // namespace velmoravad
