#include "capture/endpoint_discovery.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

struct SlotCase {
  const wchar_t* name;
  std::int32_t slot;
};

TEST(ParseApplicationSlot, ReadsTheNumberBetweenPrefixAndOutput) {
  const SlotCase cases[] = {
      {L"VelmoraDSP Application 3 Output", 3},
      {L"VelmoraDSP Application 3 Output (2)", 3},
      {L"VelmoraDSP Application 3 Outputs", 3},
      {L"VelmoraDSP Application 03 Output", 3},
      {L"VelmoraDSP Application +3 Output", 3},
      {L"VelmoraDSP Application  3 Output", 3},
      {L"VelmoraDSP Application 3Output", -1},
      {L"VelmoraDSP Application3 Output", -1},
      {L"VelmoraDSP Application 3  Output", -1},
      {L"VelmoraDSP Application 3 output", -1},
      {L"VelmoraDSP Application 0 Output", -1},
      {L"VelmoraDSP Application -2 Output", -1},
      {L"VelmoraDSP Application Output", -1},
      {L"VelmoraDSP Application  Output", -1},
      {L"VelmoraDSP Application 3", -1},
      {L"VelmoraDSP Application ", -1},
      {L"VelmoraDSP Application", -1},
      {L"", -1},
      {L"velmoraDSP Application 3 Output", -1},
      {L"My VelmoraDSP Application 3 Output", -1},
      {L"VelmoraDSP Application 2147483647 Output", 2147483647},
      // Saturates at the 32-bit limits whatever the width of long.
      {L"VelmoraDSP Application 99999999999 Output", 2147483647},
      {L"VelmoraDSP Application 99999999999999999999999 Output", 2147483647},
      {L"VelmoraDSP Application -99999999999 Output", -1},
      {L"VelmoraDSP Application 0x10 Output", -1},
  };
  for (const SlotCase& slotCase : cases) {
    EXPECT_EQ(ParseApplicationSlot(slotCase.name), slotCase.slot)
        << "name: " << ::testing::PrintToString(std::wstring(slotCase.name));
  }
  EXPECT_EQ(ParseApplicationSlot(nullptr), -1);
}

struct MissCase {
  const wchar_t* name;
  const char* miss;
};

TEST(ApplicationNameMiss, SaysWhichRuleANearMissBreaks) {
  const MissCase cases[] = {
      {L"VelmoraDSP Application3 Output", "no blank between \"Application\" and the slot number"},
      {L"velmoraDSP Application 3 Output",
       "the letter case differs from \"VelmoraDSP Application \""},
      {L"My VelmoraDSP Application 3 Output",
       "the name must begin with \"VelmoraDSP Application \""},
      {L"VELMORADSP announcements",
       "the name does not read \"VelmoraDSP Application <slot> Output\""},
      {L"VelmoraDSP Application Output", "no slot number after \"VelmoraDSP Application \""},
      {L"VelmoraDSP Application 0 Output", "slot 0: a slot must be 1 or more"},
      {L"VelmoraDSP Application -99999999999 Output", "slot -2147483648: a slot must be 1 or more"},
      {L"VelmoraDSP Application 3  Output",
       "more than one blank between the slot number and \"Output\""},
      {L"VelmoraDSP Application 3Output", "no blank between the slot number and \"Output\""},
      {L"VelmoraDSP Application 3 output", "the letter case differs from \" Output\""},
      {L"VelmoraDSP Application 3", "the slot number must be followed by \" Output\""},
      {L"VelmoraDSP Application 3.5 Output", "the slot number must be followed by \" Output\""},
      // Names that count, and names nowhere near, have nothing to say.
      {L"VelmoraDSP Application 3 Outputs", ""},
      {L"VelmoraDSP Application  03 Output (2)", ""},
      {L"Line In", ""},
      {L"", ""},
  };
  for (const MissCase& missCase : cases) {
    EXPECT_EQ(ApplicationNameMiss(missCase.name), missCase.miss)
        << "name: " << ::testing::PrintToString(std::wstring(missCase.name));
  }
  EXPECT_EQ(ApplicationNameMiss(nullptr), "");
}

}  // namespace
}  // namespace velmoravad
