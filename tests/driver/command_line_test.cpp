#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

TEST(ParseCommandLine, AcceptsEachOptionOnceInEitherOrder) {
  struct Case {
    std::vector<std::wstring> arguments;
    bool listOnly;
    std::wstring liveInputId;
  };
  const Case cases[] = {
      {{}, false, L""},
      {{L"--list"}, true, L""},
      {{L"--live-input-id", L"{0.0.1}.{x}"}, false, L"{0.0.1}.{x}"},
      {{L"--live-input-id", L"mic", L"--list"}, true, L"mic"},
      {{L"--list", L"--live-input-id", L"mic"}, true, L"mic"},
      // The value is taken verbatim, even when it looks like an option.
      {{L"--live-input-id", L"--list"}, false, L"--list"},
      // An empty value is no live input, and does not use up the option.
      {{L"--live-input-id", L""}, false, L""},
      {{L"--live-input-id", L"", L"--live-input-id", L"mic"}, false, L"mic"},
  };
  for (const Case& accepted : cases) {
    const std::optional<RunSettings> settings = ParseCommandLine(accepted.arguments);
    ASSERT_TRUE(settings.has_value()) << ::testing::PrintToString(accepted.arguments);
    EXPECT_EQ(settings->listOnly, accepted.listOnly);
    EXPECT_EQ(settings->liveInputId, accepted.liveInputId);
  }
}

TEST(ParseCommandLine, RefusesAnythingElse) {
  const std::vector<std::wstring> refused[] = {
      {L"--list", L"--list"},
      {L"--live-input-id"},
      {L"--list", L"--live-input-id"},
      {L"--live-input-id", L"a", L"--live-input-id", L"b"},
      {L"--live-input-id", L"a", L"--live-input-id", L""},
      {L"--LIST"},
      {L"-list"},
      {L"--lst"},
      {L"--list="},
      {L"--live-input-id=mic"},
      {L""},
      {L"mic"},
  };
  for (const auto& arguments : refused) {
    EXPECT_FALSE(ParseCommandLine(arguments).has_value()) << ::testing::PrintToString(arguments);
  }
}

}  // namespace
}  // namespace velmoravad
