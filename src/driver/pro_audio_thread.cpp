#include "driver/pro_audio_thread.h"

namespace velmoravad {

ProAudioThread::ProAudioThread(AudioSystem& audioSystem) : audioSystem_(audioSystem) {
  DWORD taskIndex = 0;  // 0: a task of its own
  registration_ = audioSystem_.AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
}

ProAudioThread::~ProAudioThread() {
  if (registration_ != nullptr) audioSystem_.AvRevertMmThreadCharacteristics(registration_);
}

}  // namespace velmoravad
