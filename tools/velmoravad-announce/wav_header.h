// The header of a WAV file: RIFF/WAVE with the fmt chunk before or after the
// data chunk (the second only where the source can seek), odd chunks padded,
// unknown chunks skipped. A clip must be 16-bit PCM (format tag 1, or
// WAVE_FORMAT_EXTENSIBLE with the PCM subtype) at 48000 Hz, mono or stereo.
// Platform-free: it reads through a ByteSource.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "velmoravad-announce/byte_source.h"

namespace velmoravad {

struct WavData {
  std::uint16_t channels = 0;  // 1 or 2
  std::uint64_t offset = 0;    // of the first byte of audio, in bytes from the start
  // Length of the data chunk, in bytes; nothing when it runs to the end of the
  // source (a size of 0 or 0xFFFFFFFF, as streaming writers leave it, or one
  // larger than the file).
  std::optional<std::uint64_t> bytes;
};

struct WavHeader {
  std::optional<WavData> data;  // set when the clip can be played
  std::string problem;          // otherwise what was found, as a phrase
};

// Reads the header from the start of `source` and, for a playable clip, leaves
// `source` at the first byte of the data chunk.
WavHeader ReadWavHeader(ByteSource& source);

}  // namespace velmoravad
