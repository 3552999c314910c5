#include "common/hresult.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

TEST(HresultFromWin32, MapsPositiveErrorsIntoTheWin32FacilityAndPassesOthersThrough) {
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(52)), 0x80070034u);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(1168)), 0x80070490u);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(534)), 0x80070216u);
  // Only the low 16 bits of a large error number survive.
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(0x12345)), 0x80072345u);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(0x00A80005u)), 0x80070005u);
  EXPECT_EQ(HresultFromWin32(0), 0);
  // A value that is already negative as a 32-bit number is taken as an HRESULT.
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(0x88890008u)), 0x88890008u);
}

TEST(HresultFromFailedWin32Call, NeverTurnsAFailedCallIntoSuccess) {
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromFailedWin32Call(8)), 0x80070008u);
  // A call that failed without leaving an error number is still a failure.
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromFailedWin32Call(0)), 0x80004005u);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromFailedWin32Call(0x80070005u)), 0x80070005u);
}

TEST(FailureReport, PrintsEightUpperCaseDigitsOfTheBitPattern) {
  EXPECT_EQ(FailureReport("Live input endpoint lookup", kNoApplicationEndpoint).Text(),
            "Live input endpoint lookup failed: 0x80070490\n");
  EXPECT_EQ(FailureReport("Capture read", static_cast<HRESULT>(0x8889000Au)).Text(),
            "Capture read failed: 0x8889000A\n");
  EXPECT_EQ(FailureReport("x", 0x1F).Text(), "x failed: 0x0000001F\n");
  EXPECT_EQ(FailureReport("x", -1).Text(), "x failed: 0xFFFFFFFF\n");
}

}  // namespace
}  // namespace velmoravad
