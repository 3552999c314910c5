#include "pulse/wave_format.h"

#include <ksmedia.h>

namespace standin {
namespace {

// The Windows speaker bit for a PulseAudio channel position, 0 where none fits.
DWORD SpeakerBit(pa_channel_position_t position) {
  switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
      return 0x1;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
      return 0x2;
    case PA_CHANNEL_POSITION_FRONT_CENTER:
      return 0x4;
    case PA_CHANNEL_POSITION_LFE:
      return 0x8;
    case PA_CHANNEL_POSITION_REAR_LEFT:
      return 0x10;
    case PA_CHANNEL_POSITION_REAR_RIGHT:
      return 0x20;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
      return 0x40;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
      return 0x80;
    case PA_CHANNEL_POSITION_REAR_CENTER:
      return 0x100;
    case PA_CHANNEL_POSITION_SIDE_LEFT:
      return 0x200;
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
      return 0x400;
    case PA_CHANNEL_POSITION_TOP_CENTER:
      return 0x800;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
      return 0x1000;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER:
      return 0x2000;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
      return 0x4000;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
      return 0x8000;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER:
      return 0x10000;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
      return 0x20000;
    default:
      return 0;
  }
}

// The mask of the positions; 0 ("no particular speakers") when some position has
// no speaker bit or repeats one, as Windows masks name each speaker once.
DWORD ChannelMask(const pa_channel_map& channelMap) {
  DWORD mask = 0;
  for (unsigned channel = 0; channel < channelMap.channels; ++channel) {
    const DWORD bit = SpeakerBit(channelMap.map[channel]);
    if (bit == 0 || (mask & bit) != 0) return 0;
    mask |= bit;
  }
  return mask;
}

}  // namespace

WAVEFORMATEX* NewEngineFormat(const pa_channel_map& channelMap) {
  auto* format = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
  if (format == nullptr) return nullptr;
  const auto channels = static_cast<WORD>(channelMap.channels);
  format->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format->Format.nChannels = channels;
  format->Format.nSamplesPerSec = kEngineFramesPerSecond;
  format->Format.wBitsPerSample = kEngineBitsPerSample;
  format->Format.nBlockAlign = static_cast<WORD>(channels * kEngineBitsPerSample / 8);
  format->Format.nAvgBytesPerSec = kEngineFramesPerSecond * format->Format.nBlockAlign;
  format->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format->Samples.wValidBitsPerSample = kEngineBitsPerSample;
  format->dwChannelMask = ChannelMask(channelMap);
  format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return &format->Format;
}

bool IsEngineFormat(const WAVEFORMATEX& format, unsigned channels) {
  if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return false;
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    if (extensible.SubFormat != KSDATAFORMAT_SUBTYPE_PCM) return false;
    if (extensible.Samples.wValidBitsPerSample != kEngineBitsPerSample) return false;
  } else if (format.wFormatTag != WAVE_FORMAT_PCM) {
    return false;
  }
  const unsigned blockAlign = channels * kEngineBitsPerSample / 8;
  return channels > 0 && format.nChannels == channels &&
         format.nSamplesPerSec == kEngineFramesPerSecond &&
         format.wBitsPerSample == kEngineBitsPerSample && format.nBlockAlign == blockAlign &&
         format.nAvgBytesPerSec == kEngineFramesPerSecond * blockAlign;
}

pa_sample_spec SampleSpecOf(const WAVEFORMATEX& format) {
  return {PA_SAMPLE_S16LE, format.nSamplesPerSec, static_cast<std::uint8_t>(format.nChannels)};
}

}  // namespace standin
