#include "announcement/announcement_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "announcement/pipe_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad {
namespace {

using testing::BytesOf;
using testing::HoldsNoFrame;
using testing::PipeWriter;
using testing::Sequence;
using testing::ServedConnection;
using testing::TakeArrivingFrames;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr std::size_t kCapSamples = AnnouncementSource::kQueueCapFrames * kAnnouncementChannels;

// Takes up to `frames` frames at once; returns their samples.
std::vector<std::int16_t> TakeNow(AnnouncementSource& source, std::size_t frames) {
  std::vector<std::int16_t> samples(frames * kAnnouncementChannels);
  samples.resize(source.TakeFrames(samples.data(), frames, kAnnouncementChannels) *
                 kAnnouncementChannels);
  return samples;
}

// A non-zero sample for each position, distinct over more than the queue cap.
std::int16_t PatternSample(std::size_t index) {
  return static_cast<std::int16_t>(index % 30000 + 1);
}

TEST(AnnouncementQueue, HandsWholeFramesOutInOrderEachOnceAtTheirStride) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  std::vector<std::int16_t> block(9, 99);
  EXPECT_EQ(source.TakeFrames(block.data(), 3, 3), 0u);
  EXPECT_EQ(block, std::vector<std::int16_t>(9, 99)) << "an empty queue wrote something";

  const std::vector<std::int16_t> first = {-32768, 7, 32767, -1};
  const std::vector<std::int16_t> second = {-2, 2};
  source.AppendFrames(first.data(), 2);
  source.AppendFrames(second.data(), 1);
  // Three frames into a block of three channels: the last channel is left alone.
  EXPECT_EQ(source.TakeFrames(block.data(), 5, 3), 3u);
  EXPECT_EQ(block, (std::vector<std::int16_t>{-32768, 7, 99, 32767, -1, 99, -2, 2, 99}));
  EXPECT_TRUE(HoldsNoFrame(source));
  // The empty takes consumed nothing that came later.
  source.AppendFrames(second.data(), 1);
  EXPECT_EQ(TakeNow(source, 2), second);
}

TEST(AnnouncementQueue, AnOvershootingAppendKeepsTheNewestCapOfFrames) {
  std::vector<std::int16_t> written;
  for (std::size_t i = 0; i < kCapSamples + 960 + 100500; ++i) written.push_back(PatternSample(i));

  PlatformPipeSystem pipes;

  AnnouncementSource source(pipes);
  source.AppendFrames(written.data(), kCapSamples / 2);
  source.AppendFrames(written.data() + kCapSamples, 480);  // Overshoots by one read.
  std::vector<std::int16_t> taken = TakeNow(source, kCapSamples);
  ASSERT_EQ(taken.size(), kCapSamples);
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), written.begin() + 960));

  // One append larger than the cap keeps its own newest frames.
  source.AppendFrames(written.data(), 3);
  source.AppendFrames(written.data() + kCapSamples + 960, 100500 / 2);
  taken = TakeNow(source, kCapSamples);
  ASSERT_EQ(taken.size(), kCapSamples);
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), written.end() - kCapSamples));
  EXPECT_TRUE(HoldsNoFrame(source));
}

// A writer that leaves before the server has read what it wrote may lose it on
// Windows (a pipe whose writer connected and left before the wait reports no
// data), so these writers stay until their frames have arrived.

TEST(AnnouncementPipe, QueuesAWritersFramesInOrderEachOnce) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  const std::vector<std::int16_t> samples = Sequence(-500, 1000);
  ServedConnection server(source);
  PipeWriter writer;
  ASSERT_TRUE(writer.OpenWithin(kPatience));
  ASSERT_TRUE(writer.Write(BytesOf(samples)));
  EXPECT_EQ(TakeArrivingFrames(source, samples.size() / 2, kPatience), samples);
  EXPECT_TRUE(HoldsNoFrame(source));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, WritesSplitAtAnyOffsetKeepEveryFrameWhole) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  const std::vector<std::int16_t> samples = Sequence(0x0101, 2000);
  const std::vector<std::uint8_t> bytes = BytesOf(samples);
  ServedConnection server(source);
  PipeWriter writer;
  ASSERT_TRUE(writer.OpenWithin(kPatience));

  // Each write is taken before the next one is made, so reads end where writes
  // do: inside a sample, between the two samples of a frame, after single bytes,
  // and beyond one read buffer.
  const std::size_t chunkSizes[] = {3, 1, 5, 1921, 7, 2, 2, 3, 1919, 1, 9, 1, 6, 2};
  std::size_t written = 0;
  std::vector<std::int16_t> taken;
  for (const std::size_t size : chunkSizes) {
    ASSERT_TRUE(writer.Write(bytes.data() + written, size));
    written += size;
    const std::size_t due = written / kAnnouncementFrameBytes - taken.size() / 2;
    const std::vector<std::int16_t> arrived = TakeArrivingFrames(source, due, kPatience);
    taken.insert(taken.end(), arrived.begin(), arrived.end());
    ASSERT_EQ(taken.size(), written / kAnnouncementFrameBytes * 2) << "after " << written;
  }
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), samples.begin()));
  EXPECT_TRUE(HoldsNoFrame(source));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, AWriterThatLeavesMidFrameCannotShiftTheNextWritersChannels) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  const std::vector<std::int16_t> first = Sequence(1, 3);  // One frame and half of another.
  const std::vector<std::int16_t> second = Sequence(1001, 300);
  std::vector<std::int16_t> taken;
  for (const std::vector<std::int16_t>* samples : {&first, &second}) {
    ServedConnection server(source);
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    ASSERT_TRUE(writer.Write(BytesOf(*samples)));
    const std::vector<std::int16_t> arrived =
        TakeArrivingFrames(source, samples->size() / 2, kPatience);
    taken.insert(taken.end(), arrived.begin(), arrived.end());
    writer.Close();
    // The end of the stream ends the connection: a read of 0 bytes on Linux, a
    // failed read (broken pipe) on Windows. The half frame goes with it.
    ASSERT_TRUE(server.FinishesWithin(kPatience));
  }
  std::vector<std::int16_t> expected = {1, 2};
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(taken, expected);
  EXPECT_TRUE(HoldsNoFrame(source));
}

TEST(AnnouncementPipe, ASecondWriterCannotConnectWhileOneIsConnected) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  ServedConnection server(source);
  PipeWriter first;
  ASSERT_TRUE(first.OpenWithin(kPatience));
  ASSERT_TRUE(first.Write(BytesOf({42, 43})));
  ASSERT_EQ(TakeArrivingFrames(source, 1, kPatience), (std::vector<std::int16_t>{42, 43}));

  PipeWriter second;
  EXPECT_FALSE(second.TryOpen());
  ASSERT_TRUE(first.Write(BytesOf({44, 45})));
  EXPECT_EQ(TakeArrivingFrames(source, 1, kPatience), (std::vector<std::int16_t>{44, 45}));
  first.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, AcceptsAWriterThatConnectedBeforeTheServerWaited) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  UniqueHandle pipe = source.CreatePipeInstance();
  PipeWriter writer;
  ASSERT_TRUE(writer.TryOpen());
  ASSERT_TRUE(writer.Write(BytesOf({5, 6, 7, 8})));

  ServedConnection server(source, std::move(pipe));
  EXPECT_EQ(TakeArrivingFrames(source, 2, kPatience), (std::vector<std::int16_t>{5, 6, 7, 8}));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, RetriesANameServedElsewhereUntilItIsFree) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  // Another server holds the single instance of the name.
  UniqueHandle other(CreateNamedPipeW(kAnnouncementPipeName, PIPE_ACCESS_INBOUND, 0, 1, 0,
                                      AnnouncementSource::kPipeInputBufferBytes, 0, nullptr));
  ASSERT_TRUE(other.IsValid());

  ServedConnection server(source);
  // Long enough for the first attempt to fail and the back-off to start again.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(server.FinishesWithin(std::chrono::milliseconds(0)));
  other.Close();

  PipeWriter writer;
  ASSERT_TRUE(writer.OpenWithin(kPatience));
  ASSERT_TRUE(writer.Write(BytesOf({9, 10})));
  EXPECT_EQ(TakeArrivingFrames(source, 1, kPatience), (std::vector<std::int16_t>{9, 10}));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

}  // namespace
}  // namespace velmoravad
