#include "velmoravad-announce/announce_command_line.h"

#include <gtest/gtest.h>

#include "velmoravad-announce/progress_line.h"

namespace velmoravad {
namespace {

struct CommandLineCase {
  std::vector<std::wstring> arguments;
  std::optional<AnnounceSettings> expected;  // nothing: refused
};

AnnounceSettings Settings(std::vector<std::wstring> files, bool raw = false, bool quiet = false,
                          DWORD waitSeconds = 10) {
  return AnnounceSettings{raw, quiet, waitSeconds, std::move(files)};
}

class AnnounceCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(AnnounceCommandLineTest, ParsesOrRefuses) {
  const std::optional<AnnounceSettings> parsed = ParseAnnounceCommandLine(GetParam().arguments);
  const std::optional<AnnounceSettings>& expected = GetParam().expected;
  ASSERT_EQ(parsed.has_value(), expected.has_value());
  if (!parsed) return;
  EXPECT_EQ(parsed->raw, expected->raw);
  EXPECT_EQ(parsed->quiet, expected->quiet);
  EXPECT_EQ(parsed->waitSeconds, expected->waitSeconds);
  EXPECT_EQ(parsed->files, expected->files);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnnounceCommandLineTest,
    ::testing::Values(CommandLineCase{{L"a.wav"}, Settings({L"a.wav"})},
                      CommandLineCase{{L"a.wav", L"--raw", L"-", L"--wait", L"0", L"--quiet", L"b"},
                                      Settings({L"a.wav", L"-", L"b"}, true, true, 0)},
                      CommandLineCase{{L"--wait", L"86400", L"--", L"--raw", L"-"},
                                      Settings({L"--raw", L"-"}, false, false, 86400)},
                      CommandLineCase{{}, std::nullopt},
                      CommandLineCase{{L"--quiet"}, std::nullopt},
                      CommandLineCase{{L"-", L"-"}, std::nullopt},
                      CommandLineCase{{L"--raw", L"--raw", L"a"}, std::nullopt},
                      CommandLineCase{{L"--wait", L"1", L"--wait", L"2", L"a"}, std::nullopt},
                      CommandLineCase{{L"a", L"--wait"}, std::nullopt},
                      CommandLineCase{{L"--wait", L"86401", L"a"}, std::nullopt},
                      CommandLineCase{{L"--wait", L"-1", L"a"}, std::nullopt},
                      CommandLineCase{{L"--wait", L"1.5", L"a"}, std::nullopt},
                      CommandLineCase{{L"--wait", L"", L"a"}, std::nullopt},
                      CommandLineCase{{L"-q", L"a"}, std::nullopt}));

TEST(AnnounceProgressLine, ShowsTimesAndABarOrOnlyTheTimeOfAStream) {
  EXPECT_EQ(FormatProgressLine("clip.wav", 57600, 144000),
            "clip.wav  0:01.2 / 0:03.0  [########------------]");
  EXPECT_EQ(FormatProgressLine("standard input", 48000 * 61 + 4800, std::nullopt),
            "standard input  1:01.1");
  // A long name keeps its end, cut between characters rather than bytes.
  EXPECT_EQ(
      FormatProgressLine("/srv/announcements/2024/\xC3\xA9t\xC3\xA9/gare-du-nord.wav", 0, 0),
      "...nts/2024/\xC3\xA9t\xC3\xA9/gare-du-nord.wav  0:00.0 / 0:00.0  [--------------------]");
}

}  // namespace
}  // namespace velmoravad
