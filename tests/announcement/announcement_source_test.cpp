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
using testing::PipeWriter;
using testing::Sequence;
using testing::ServedConnection;
using testing::TakeArrivingSamples;

constexpr auto kPatience = std::chrono::seconds(10);

std::vector<std::int16_t> TakeAll(AnnouncementSource& source, std::size_t count) {
  std::vector<std::int16_t> samples;
  for (std::size_t i = 0; i < count; ++i) samples.push_back(source.TakeSample());
  return samples;
}

// A non-zero sample for each position, distinct over more than the queue cap.
std::int16_t PatternSample(std::size_t index) {
  return static_cast<std::int16_t>(index % 30000 + 1);
}

TEST(AnnouncementQueue, HandsSamplesOutInOrderEachOnceAndZeroWhenEmpty) {
  AnnouncementSource source;
  EXPECT_EQ(source.TakeSample(), 0);
  const std::vector<std::int16_t> first = {-32768, 7, 32767};
  const std::vector<std::int16_t> second = {-1, 2};
  source.AppendSamples(first.data(), first.size());
  source.AppendSamples(second.data(), second.size());
  EXPECT_EQ(TakeAll(source, 5), (std::vector<std::int16_t>{-32768, 7, 32767, -1, 2}));
  EXPECT_EQ(source.TakeSample(), 0);
  // The empty takes consumed nothing that came later.
  source.AppendSamples(second.data(), 1);
  EXPECT_EQ(source.TakeSample(), -1);
  EXPECT_EQ(source.TakeSample(), 0);
}

TEST(AnnouncementQueue, AnOvershootingAppendKeepsTheNewestCapOfSamples) {
  constexpr std::size_t kCap = AnnouncementSource::kQueueCapSamples;
  std::vector<std::int16_t> written;
  for (std::size_t i = 0; i < kCap + 960 + 100500; ++i) written.push_back(PatternSample(i));

  AnnouncementSource source;
  source.AppendSamples(written.data(), kCap);
  source.AppendSamples(written.data() + kCap, 960);  // Overshoots by one read.
  std::vector<std::int16_t> taken = TakeAll(source, kCap);
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), written.begin() + 960));
  EXPECT_EQ(source.TakeSample(), 0);

  // One append larger than the cap keeps its own newest samples.
  source.AppendSamples(written.data(), 3);
  source.AppendSamples(written.data() + kCap + 960, 100500);
  taken = TakeAll(source, kCap);
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), written.end() - kCap));
  EXPECT_EQ(source.TakeSample(), 0);
}

TEST(AnnouncementPipe, QueuesAWritersSamplesInOrderEachOnce) {
  AnnouncementSource source;
  const std::vector<std::int16_t> samples = Sequence(-500, 1000);
  {
    ServedConnection server(source);
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    ASSERT_TRUE(writer.Write(BytesOf(samples)));
    writer.Close();
    ASSERT_TRUE(server.FinishesWithin(kPatience));
  }
  EXPECT_EQ(TakeAll(source, samples.size()), samples);
  EXPECT_EQ(source.TakeSample(), 0);
}

TEST(AnnouncementPipe, WritesSplitAtOddOffsetsKeepEverySampleWhole) {
  AnnouncementSource source;
  const std::vector<std::int16_t> samples = Sequence(0x0101, 2000);
  const std::vector<std::uint8_t> bytes = BytesOf(samples);
  ServedConnection server(source);
  PipeWriter writer;
  ASSERT_TRUE(writer.OpenWithin(kPatience));

  // Each write is read before the next one is made, so reads end where writes
  // do: at odd offsets, single bytes and reads longer than one read buffer
  // included. Every chunk completes at least one sample, which shows it arrived.
  const std::size_t chunkSizes[] = {3, 1, 5, 1921, 7, 2, 3, 1919, 1, 9, 1};
  std::size_t written = 0;
  std::vector<std::int16_t> taken;
  for (const std::size_t size : chunkSizes) {
    ASSERT_TRUE(writer.Write(bytes.data() + written, size));
    written += size;
    const std::vector<std::int16_t> arrived =
        TakeArrivingSamples(source, written / 2 - taken.size(), kPatience);
    taken.insert(taken.end(), arrived.begin(), arrived.end());
    ASSERT_EQ(taken.size(), written / 2) << "after " << written << " bytes";
  }
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), samples.begin()));
  EXPECT_EQ(source.TakeSample(), 0);
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, SamplesOfAWriterThatLeftPlayBeforeTheNextWritersOnes) {
  AnnouncementSource source;
  const std::vector<std::int16_t> first = Sequence(1, 300);
  const std::vector<std::int16_t> second = Sequence(1001, 300);
  {
    ServedConnection server(source);
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    std::vector<std::uint8_t> bytes = BytesOf(first);
    bytes.push_back(0x7F);  // A byte the writer never completes: dropped with the connection.
    ASSERT_TRUE(writer.Write(bytes));
    writer.Close();
    // The end of the stream ends the connection: a read of 0 bytes on Linux, a
    // failed read (broken pipe) on Windows.
    ASSERT_TRUE(server.FinishesWithin(kPatience));
  }
  {
    ServedConnection server(source);
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    ASSERT_TRUE(writer.Write(BytesOf(second)));
    writer.Close();
    ASSERT_TRUE(server.FinishesWithin(kPatience));
  }
  std::vector<std::int16_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(TakeAll(source, expected.size()), expected);
  EXPECT_EQ(source.TakeSample(), 0);
}

TEST(AnnouncementPipe, ASecondWriterCannotConnectWhileOneIsConnected) {
  AnnouncementSource source;
  ServedConnection server(source);
  PipeWriter first;
  ASSERT_TRUE(first.OpenWithin(kPatience));
  ASSERT_TRUE(first.Write(BytesOf({42})));
  ASSERT_EQ(TakeArrivingSamples(source, 1, kPatience), (std::vector<std::int16_t>{42}));

  PipeWriter second;
  EXPECT_FALSE(second.TryOpen());
  ASSERT_TRUE(first.Write(BytesOf({43})));
  EXPECT_EQ(TakeArrivingSamples(source, 1, kPatience), (std::vector<std::int16_t>{43}));
  first.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, AcceptsAWriterThatConnectedBeforeTheServerWaited) {
  AnnouncementSource source;
  UniqueHandle pipe = source.CreatePipeInstance();
  PipeWriter writer;
  ASSERT_TRUE(writer.TryOpen());
  ASSERT_TRUE(writer.Write(BytesOf({5, 6, 7})));

  ServedConnection server(source, std::move(pipe));
  EXPECT_EQ(TakeArrivingSamples(source, 3, kPatience), (std::vector<std::int16_t>{5, 6, 7}));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

TEST(AnnouncementPipe, RetriesANameServedElsewhereUntilItIsFree) {
  AnnouncementSource source;
  // Another server holds the single instance of the name.
  UniqueHandle other(CreateNamedPipeW(AnnouncementSource::kPipeName, PIPE_ACCESS_INBOUND, 0, 1, 0,
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
  EXPECT_EQ(TakeArrivingSamples(source, 2, kPatience), (std::vector<std::int16_t>{9, 10}));
  writer.Close();
  EXPECT_TRUE(server.FinishesWithin(kPatience));
}

}  // namespace
}  // namespace velmoravad
