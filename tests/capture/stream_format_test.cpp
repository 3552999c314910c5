#include "capture/stream_format.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

TEST(BuildRequestedFormat, AsksForSixteenBitPcmAt48kWithTheEndpointChannels) {
  const WAVEFORMATEXTENSIBLE stereo = BuildRequestedFormat(2);
  EXPECT_EQ(stereo.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(stereo.Format.nChannels, 2);
  EXPECT_EQ(stereo.Format.nSamplesPerSec, 48000u);
  EXPECT_EQ(stereo.Format.nBlockAlign, 4);
  EXPECT_EQ(stereo.Format.nAvgBytesPerSec, 192000u);
  EXPECT_EQ(stereo.Format.wBitsPerSample, 16);
  EXPECT_EQ(stereo.Format.cbSize, 22);
  EXPECT_EQ(stereo.Samples.wValidBitsPerSample, 16);
  EXPECT_EQ(stereo.dwChannelMask, 3u);
  const GUID pcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  EXPECT_TRUE(IsEqualGUID(stereo.SubFormat, pcm));
}

TEST(BuildRequestedFormat, MonoIsCentreAndEveryOtherCountIsFrontLeftRight) {
  EXPECT_EQ(BuildRequestedFormat(1).dwChannelMask, 4u);
  EXPECT_EQ(BuildRequestedFormat(1).Format.nBlockAlign, 2);
  const WAVEFORMATEXTENSIBLE six = BuildRequestedFormat(6);
  EXPECT_EQ(six.dwChannelMask, 3u);
  EXPECT_EQ(six.Format.nBlockAlign, 12);
  EXPECT_EQ(six.Format.nAvgBytesPerSec, 12u * 48000u);
}

}  // namespace
}  // namespace velmoravad
