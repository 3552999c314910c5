#include "velmoravad-announce/wav_header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/output_format.h"

namespace velmoravad {
namespace {

constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kPlainFmtBytes = 16;
// WAVE_FORMAT_EXTENSIBLE's fmt chunk, the longest one that is looked at.
constexpr std::uint32_t kExtensibleFmtBytes = 40;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// A subtype GUID is {0000tttt-0000-0010-8000-00AA00389B71}, t the format tag.
constexpr std::array<std::uint8_t, 14> kSubtypeGuidTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint32_t kStreamingSize = 0xFFFFFFFF;

std::uint16_t Little16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}
std::uint32_t Little32(const std::uint8_t* bytes) {
  return std::uint32_t{Little16(bytes)} | (std::uint32_t{Little16(bytes + 2)} << 16);
}

// A chunk's length with the pad byte that follows an odd one.
std::uint64_t PaddedSize(std::uint32_t size) { return std::uint64_t{size} + (size & 1); }

std::string ChunkName(const std::uint8_t* id) {
  std::string name = "'";
  for (int i = 0; i < 4; ++i) name += (id[i] >= 0x20 && id[i] < 0x7F) ? char(id[i]) : '?';
  return name + "'";
}

std::string EncodingName(std::uint16_t tag) {
  switch (tag) {
    case kFormatPcm:
      return "PCM";
    case 2:
      return "MS ADPCM (compressed)";
    case 3:
      return "IEEE float";
    case 6:
      return "A-law";
    case 7:
      return "mu-law";
    case 0x11:
      return "IMA ADPCM (compressed)";
    case 0x55:
      return "MP3 (compressed)";
    default:
      char text[40];
      std::snprintf(text, sizeof(text), "format tag 0x%04X", static_cast<unsigned>(tag));
      return text;
  }
}

struct Format {
  std::uint16_t tag = 0;  // for WAVE_FORMAT_EXTENSIBLE the subtype's tag
  std::uint16_t channels = 0;
  std::uint32_t framesPerSecond = 0;
  std::uint16_t bytesPerFrame = 0;  // block align
  std::uint16_t bitsPerSample = 0;
};

// What is wrong with `format` for a clip, as a phrase; empty when nothing is.
std::string FormatProblem(const Format& format) {
  const bool playable = format.tag == kFormatPcm && format.bitsPerSample == kBitsPerSample &&
                        format.framesPerSecond == kFramesPerSecond &&
                        (format.channels == 1 || format.channels == 2);
  if (!playable) {
    return "found " + EncodingName(format.tag) + ", " + std::to_string(format.bitsPerSample) +
           "-bit, " + std::to_string(format.framesPerSecond) + " Hz, " +
           std::to_string(format.channels) + (format.channels == 1 ? " channel" : " channels");
  }
  if (format.bytesPerFrame != format.channels * kBytesPerSample) {
    return "the fmt chunk gives " + std::to_string(format.bytesPerFrame) + " bytes per frame for " +
           std::to_string(format.channels) + " channels of 16 bits";
  }
  return {};
}

// Reads the chunks of one source in order, keeping count of the position.
class ChunkWalker {
 public:
  explicit ChunkWalker(ByteSource& source) : source_(source), size_(source.Size()) {}

  std::uint64_t Position() const { return position_; }
  const std::optional<std::uint64_t>& Size() const { return size_; }
  bool CanSeek() const { return size_.has_value(); }

  // Reads exactly `count` bytes; false at the end of the source or on a failure.
  bool Read(std::uint8_t* buffer, std::size_t count) {
    std::size_t got = 0;
    const bool read = source_.Read(buffer, count, got);
    position_ += got;
    return read && got == count;
  }

  // Moves `count` bytes on; false when the source ends first.
  bool Skip(std::uint64_t count) {
    if (CanSeek()) {
      if (position_ + count > *size_ || !source_.SeekTo(position_ + count)) return false;
      position_ += count;
      return true;
    }
    std::array<std::uint8_t, 4096> discarded;
    while (count > 0) {
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(count, 4096));
      if (!Read(discarded.data(), step)) return false;
      count -= step;
    }
    return true;
  }

  bool SeekTo(std::uint64_t offset) {
    if (!source_.SeekTo(offset)) return false;
    position_ = offset;
    return true;
  }

 private:
  ByteSource& source_;
  const std::optional<std::uint64_t> size_;
  std::uint64_t position_ = 0;
};

class HeaderParser {
 public:
  explicit HeaderParser(ByteSource& source) : walker_(source) {}

  WavHeader Parse() {
    std::array<std::uint8_t, kRiffHeaderBytes> riff;
    if (!walker_.Read(riff.data(), riff.size())) {
      if (walker_.Position() == 0) return Problem("the file is empty");
      return Problem("the file ends after " + std::to_string(walker_.Position()) +
                     " bytes, inside the RIFF header");
    }
    if (std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
      return Problem("not a RIFF/WAVE file");
    }
    for (;;) {
      std::array<std::uint8_t, kChunkHeaderBytes> chunk;
      const std::uint64_t start = walker_.Position();
      if (!walker_.Read(chunk.data(), chunk.size())) return EndedAt(start);
      const std::uint32_t size = Little32(chunk.data() + 4);
      if (std::memcmp(chunk.data(), "fmt ", 4) == 0 && !format_) {
        if (std::string problem = ReadFormat(size); !problem.empty()) return Problem(problem);
        if (dataStart_ && !walker_.SeekTo(*dataStart_))
          return Problem("cannot go back to the data");
      } else if (std::memcmp(chunk.data(), "data", 4) == 0 && !dataStart_) {
        dataStart_ = walker_.Position();
        dataSize_ = size;
        if (!format_) {
          if (std::string problem = SkipDataBeforeFormat(); !problem.empty())
            return Problem(problem);
          continue;
        }
      } else if (!walker_.Skip(PaddedSize(size))) {
        return Problem("the " + ChunkName(chunk.data()) + " chunk of " + std::to_string(size) +
                       " bytes at byte " + std::to_string(start) +
                       " runs past the end of the file");
      }
      if (format_ && dataStart_) return Playable();
    }
  }

 private:
  static WavHeader Problem(std::string problem) {
    return WavHeader{std::nullopt, std::move(problem)};
  }

  WavHeader EndedAt(std::uint64_t start) const {
    if (walker_.Position() > start) {
      return Problem("the file ends inside a chunk header at byte " + std::to_string(start));
    }
    return Problem(format_ ? "no data chunk" : "no fmt chunk");
  }

  std::string ReadFormat(std::uint32_t size) {
    if (size < kPlainFmtBytes) return "the fmt chunk has only " + std::to_string(size) + " bytes";
    std::array<std::uint8_t, kExtensibleFmtBytes> bytes{};
    const std::uint32_t looked = std::min(size, kExtensibleFmtBytes);
    if (!walker_.Read(bytes.data(), looked)) return "the file ends inside the fmt chunk";
    Format format{Little16(bytes.data()), Little16(bytes.data() + 2), Little32(bytes.data() + 4),
                  Little16(bytes.data() + 12), Little16(bytes.data() + 14)};
    if (format.tag == kFormatExtensible) {
      if (looked < kExtensibleFmtBytes) {
        return "the WAVE_FORMAT_EXTENSIBLE fmt chunk has only " + std::to_string(size) + " bytes";
      }
      const bool knownSubtype =
          std::equal(kSubtypeGuidTail.begin(), kSubtypeGuidTail.end(), bytes.begin() + 26);
      format.tag = knownSubtype ? Little16(bytes.data() + 24) : 0;
    }
    if (std::string problem = FormatProblem(format); !problem.empty()) return problem;
    if (!walker_.Skip(PaddedSize(size) - looked)) return "the file ends inside the fmt chunk";
    format_ = format;
    return {};
  }

  // A data chunk before the fmt chunk is skipped, to be come back to once the
  // format is known; that needs a file and a data chunk of known length.
  std::string SkipDataBeforeFormat() {
    if (!walker_.CanSeek()) {
      return "the data chunk comes before the fmt chunk, and a pipe cannot go back to it";
    }
    if (!DataBytes() || !walker_.Skip(PaddedSize(*dataSize_))) {
      return "the data chunk runs to the end of the file before any fmt chunk";
    }
    return {};
  }

  // The data chunk's length, or nothing when it runs to the end of the source.
  std::optional<std::uint64_t> DataBytes() const {
    if (*dataSize_ == 0 || *dataSize_ == kStreamingSize) return std::nullopt;
    const std::optional<std::uint64_t>& size = walker_.Size();
    if (size && *dataStart_ + *dataSize_ > *size) return std::nullopt;
    return *dataSize_;
  }

  WavHeader Playable() const {
    return WavHeader{WavData{format_->channels, *dataStart_, DataBytes()}, {}};
  }

  ChunkWalker walker_;
  std::optional<Format> format_;
  std::optional<std::uint64_t> dataStart_;  // byte offset of the data
  std::optional<std::uint32_t> dataSize_;   // as the data chunk gives it
};

}  // namespace

WavHeader ReadWavHeader(ByteSource& source) { return HeaderParser(source).Parse(); }

}  // namespace velmoravad
