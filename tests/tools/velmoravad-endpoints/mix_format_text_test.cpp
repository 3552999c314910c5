#include "velmoravad-endpoints/mix_format_text.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

WAVEFORMATEXTENSIBLE Extensible(DWORD subtypeTag, WORD containerBits, WORD validBits) {
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = 6;
  format.Format.nSamplesPerSec = 48000;
  format.Format.wBitsPerSample = containerBits;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = validBits;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  format.SubFormat.Data1 = subtypeTag;
  return format;
}

TEST(DescribeWaveFormat, NamesSampleKindBitsRateAndChannels) {
  WAVEFORMATEX plain{};
  plain.wFormatTag = WAVE_FORMAT_PCM;
  plain.nChannels = 1;
  plain.nSamplesPerSec = 44100;
  plain.wBitsPerSample = 16;
  EXPECT_EQ(DescribeWaveFormat(plain), "16-bit PCM, 44100 Hz, 1 channel");
  plain.wFormatTag = 0x0055;
  EXPECT_EQ(DescribeWaveFormat(plain), "16-bit format 0x0055, 44100 Hz, 1 channel");

  const WAVEFORMATEXTENSIBLE floats = Extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32);
  EXPECT_EQ(DescribeWaveFormat(floats.Format), "32-bit float, 48000 Hz, 6 channels");
  const WAVEFORMATEXTENSIBLE padded = Extensible(WAVE_FORMAT_PCM, 32, 24);
  EXPECT_EQ(DescribeWaveFormat(padded.Format),
            "24-bit PCM in 32-bit samples, 48000 Hz, 6 channels");
  WAVEFORMATEXTENSIBLE foreign = Extensible(WAVE_FORMAT_PCM, 16, 16);
  foreign.SubFormat.Data4[7] ^= 1;
  EXPECT_EQ(DescribeWaveFormat(foreign.Format), "16-bit format 0xFFFE, 48000 Hz, 6 channels");
  // An extensible tag without the room for its extension is read as plain.
  WAVEFORMATEXTENSIBLE truncated = Extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 24);
  truncated.Format.cbSize = 0;
  EXPECT_EQ(DescribeWaveFormat(truncated.Format), "32-bit format 0xFFFE, 48000 Hz, 6 channels");
}

}  // namespace
}  // namespace velmoravad
