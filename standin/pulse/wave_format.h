// The stream formats of the PulseAudio audio system. Its engine format, the mix
// format of every endpoint, is signed 16-bit little-endian PCM at 48000 frames
// per second with the endpoint's own channel count and channel positions. A
// stream is set up in the format its caller asks for, which must be the engine
// format, and records in exactly that format, so samples pass through
// unconverted.
#pragma once

#include <mmreg.h>
#include <pulse/pulseaudio.h>

namespace standin {

inline constexpr DWORD kEngineFramesPerSecond = 48000;
inline constexpr WORD kEngineBitsPerSample = 16;

// A new CoTaskMemAlloc'd WAVEFORMATEXTENSIBLE of the engine format for these
// channels, the mask taken from the channel positions; null when out of memory.
WAVEFORMATEX* NewEngineFormat(const pa_channel_map& channelMap);

// Whether `format` is the engine format for `channels`: 16-bit PCM (plain, or
// extensible with the PCM subtype and 16 valid bits) at 48000 Hz.
bool IsEngineFormat(const WAVEFORMATEX& format, unsigned channels);

// The pa_sample_spec (sample format, rate, channels) of a format that IsEngineFormat accepts.
pa_sample_spec SampleSpecOf(const WAVEFORMATEX& format);

}  // namespace standin
