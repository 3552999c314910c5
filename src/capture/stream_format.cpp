#include "capture/stream_format.h"

namespace velmoravad {

WAVEFORMATEXTENSIBLE BuildRequestedFormat(std::uint16_t channels) {
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = channels;
  format.Format.nSamplesPerSec = kFramesPerSecond;
  format.Format.wBitsPerSample = kBitsPerSample;
  format.Format.nBlockAlign = static_cast<WORD>(channels * kBitsPerSample / 8);
  format.Format.nAvgBytesPerSec = kFramesPerSecond * format.Format.nBlockAlign;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = kBitsPerSample;
  // Mono is the centre speaker; every other count is announced as front left
  // and right, the mask the endpoints are known to accept.
  format.dwChannelMask =
      channels == 1 ? SPEAKER_FRONT_CENTER : (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT);
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

}  // namespace velmoravad
