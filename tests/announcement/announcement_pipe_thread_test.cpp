// The pipe server thread as the program runs it: started once, detached, serving
// one writer after another for the rest of the process. The source is leaked on
// purpose, as in the program, and every case here shares it, because its thread
// keeps serving the pipe name until the test program ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "announcement/announcement_source.h"
#include "announcement/pipe_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad {
namespace {

using testing::BytesOf;
using testing::HoldsNoFrame;
using testing::PipeWriter;
using testing::Sequence;
using testing::TakeArrivingFrames;

constexpr auto kPatience = std::chrono::seconds(10);

TEST(AnnouncementPipeThread, ServesOneWriterAfterAnotherForTheWholeRun) {
  // Never deleted: its detached thread uses them.
  auto* source = new AnnouncementSource(*new PlatformPipeSystem);

  PipeWriter early;
  EXPECT_FALSE(early.TryOpen()) << "the pipe exists before the thread starts";
  EXPECT_TRUE(HoldsNoFrame(*source));

  source->StartPipeThread();
  const std::vector<std::int16_t> first = Sequence(1, 500);
  const std::vector<std::int16_t> second = Sequence(2001, 500);
  const std::vector<std::int16_t> third = Sequence(4001, 500);
  {
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    ASSERT_TRUE(writer.Write(BytesOf({first[0], first[1]})));
    ASSERT_EQ(TakeArrivingFrames(*source, 1, kPatience),
              (std::vector<std::int16_t>{first[0], first[1]}));

    PipeWriter intruder;
    EXPECT_FALSE(intruder.TryOpen()) << "a second writer got in while one is connected";

    ASSERT_TRUE(writer.Write(BytesOf(std::vector<std::int16_t>(first.begin() + 2, first.end()))));
  }  // The writer leaves with its samples still queued.

  // The thread disconnects, creates a new instance and serves the next writers;
  // the queue keeps what the first one sent, ahead of theirs.
  for (const std::vector<std::int16_t>* samples : {&second, &third}) {
    PipeWriter writer;
    ASSERT_TRUE(writer.OpenWithin(kPatience));
    ASSERT_TRUE(writer.Write(BytesOf(*samples)));
  }

  std::vector<std::int16_t> expected(first.begin() + 2, first.end());
  expected.insert(expected.end(), second.begin(), second.end());
  expected.insert(expected.end(), third.begin(), third.end());
  EXPECT_EQ(TakeArrivingFrames(*source, expected.size() / 2, kPatience), expected);
  EXPECT_TRUE(HoldsNoFrame(*source));
}

}  // namespace
}  // namespace velmoravad
