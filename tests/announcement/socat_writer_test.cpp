// On Linux, socat is the writer the README names:
//   socat - ABSTRACT-CONNECT:VelmoraDSPAnnouncement
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"
#include "announcement/pipe_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad {
namespace {

TEST(AnnouncementSocatWriter, SocatFeedsThePipeFromItsStandardInput) {
  if (access("/usr/bin/socat", X_OK) != 0) GTEST_SKIP() << "socat is not installed";
  const std::vector<std::int16_t> samples = testing::Sequence(-300, 602);
  const std::vector<std::uint8_t> bytes = testing::BytesOf(samples);
  char path[] = "/tmp/announcement-socat-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);

  PlatformPipeSystem pipes;

  AnnouncementSource source(pipes);
  {
    testing::ServedConnection server(source);
    // socat tries once: let the server create its instance first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!WaitNamedPipeW(kAnnouncementPipeName, 100) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string command =
        std::string("socat - ABSTRACT-CONNECT:VelmoraDSPAnnouncement < ") + path;
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(server.FinishesWithin(std::chrono::seconds(10)));
  }
  unlink(path);
  EXPECT_EQ(testing::TakeArrivingFrames(source, samples.size() / 2, std::chrono::seconds(0)),
            samples);
  EXPECT_TRUE(testing::HoldsNoFrame(source));
}

}  // namespace
}  // namespace velmoravad
