// Hand-made WAV files for the tests: a RIFF/WAVE header and chunks in any order,
// with sizes that may lie.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmoravad::testing {

struct Chunk {
  std::string id;  // 4 characters
  std::vector<std::uint8_t> body;
  std::optional<std::uint32_t> size;  // what the header says; the body's size if not set
};

inline void AppendLittle(std::vector<std::uint8_t>& bytes, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A fmt chunk; `subtype` makes it WAVE_FORMAT_EXTENSIBLE with that subtype tag.
inline Chunk Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                 std::optional<std::uint16_t> subtype = std::nullopt) {
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  std::vector<std::uint8_t> body;
  AppendLittle(body, subtype ? 0xFFFE : tag, 2);
  AppendLittle(body, channels, 2);
  AppendLittle(body, rate, 4);
  AppendLittle(body, rate * blockAlign, 4);
  AppendLittle(body, blockAlign, 2);
  AppendLittle(body, bits, 2);
  if (subtype) {
    AppendLittle(body, 22, 2);
    AppendLittle(body, bits, 2);
    AppendLittle(body, channels == 1 ? 0x4 : 0x3, 4);
    AppendLittle(body, *subtype, 2);
    for (const std::uint8_t byte :
         {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
      body.push_back(byte);
    }
  }
  return Chunk{"fmt ", body, std::nullopt};
}

inline Chunk Pcm(std::uint16_t channels, std::uint16_t bits = 16, std::uint32_t rate = 48000) {
  return Fmt(1, channels, rate, bits);
}

inline Chunk Data(std::vector<std::uint8_t> body, std::optional<std::uint32_t> size = {}) {
  return Chunk{"data", std::move(body), size};
}

// "RIFF", the size, "WAVE", then the chunks, each odd one padded.
inline std::vector<std::uint8_t> Wav(const std::vector<Chunk>& chunks) {
  std::vector<std::uint8_t> body = {'W', 'A', 'V', 'E'};
  for (const Chunk& chunk : chunks) {
    body.insert(body.end(), chunk.id.begin(), chunk.id.end());
    AppendLittle(body, chunk.size.value_or(static_cast<std::uint32_t>(chunk.body.size())), 4);
    body.insert(body.end(), chunk.body.begin(), chunk.body.end());
    if (chunk.body.size() % 2 == 1) body.push_back(0);
  }
  std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F'};
  AppendLittle(file, static_cast<std::uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// `count` distinct bytes from `first` on: the audio of the tests.
inline std::vector<std::uint8_t> Counting(std::size_t count, std::uint8_t first = 1) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

}  // namespace velmoravad::testing
