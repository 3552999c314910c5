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

}  // namespace
}  // namespace velmoravad
