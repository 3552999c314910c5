// The stream formats of the PulseAudio audio system. Capture streams are always
// signed 16-bit little-endian PCM at 48000 frames per second with the endpoint's
// own channel count and channel positions, so samples pass through unconverted.
#pragma once

#include <mmreg.h>
#include <pulse/pulseaudio.h>

#include "common/output_format.h"

namespace standin {

inline constexpr DWORD kStreamFramesPerSecond = velmoravad::kFramesPerSecond;
inline constexpr WORD kStreamBitsPerSample = velmoravad::kBitsPerSample;

// A new CoTaskMemAlloc'd WAVEFORMATEXTENSIBLE of the stream format for this many
// channels, the mask taken from the channel positions; null when out of memory.
WAVEFORMATEX* NewStreamFormat(const pa_channel_map& channelMap);

// Whether the format is exactly the stream format for `channels`: 16-bit PCM
// (plain, or extensible with the PCM subtype and 16 valid bits) at 48000 Hz.
bool IsStreamFormat(const WAVEFORMATEX& format, unsigned channels);

}  // namespace standin
