#include "capture/endpoint_discovery.h"

#include "capture/fake_audio_system.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::FakeEndpointScript;

constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004u);

std::vector<std::int32_t> Slots(const EndpointList& endpoints) {
  std::vector<std::int32_t> slots;
  for (const CaptureEndpoint& endpoint : endpoints) slots.push_back(endpoint.slot);
  return slots;
}

class EndpointDiscoveryTest : public ::testing::Test {
 protected:
  void ExpectEverythingReleased() {
    EXPECT_EQ(system_.HeldReferences(), 0);
    EXPECT_EQ(system_.overReleases, 0);
  }
  FakeAudioSystem system_;
};

TEST_F(EndpointDiscoveryTest, OrdersApplicationEndpointsBySlotAndPassesOthersOver) {
  system_.AddEndpoint(L"VelmoraDSP Application 3 Output", L"{c}");
  system_.AddEndpoint(L"Line In", L"{line}");
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{a}", 6);
  system_.AddEndpoint(L"VelmoraDSP Application 2 Output (2)", L"{b}", 1);
  system_.AddEndpoint(L"", L"{empty}");
  system_.AddEndpoint(L"VelmoraDSP Application 9 Output", L"{unnamed}").friendlyNameIsString =
      false;
  system_.AddEndpoint(L"VelmoraDSP Application 4 Output", L"{render}").flow = eRender;
  system_.AddEndpoint(L"VelmoraDSP Application 5 Output", L"{off}").state = DEVICE_STATE_UNPLUGGED;

  EndpointList endpoints;
  ASSERT_EQ(EnumerateApplicationEndpoints(endpoints), S_OK);

  EXPECT_EQ(Slots(endpoints), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(endpoints[0].endpointId, L"{a}");
  EXPECT_EQ(endpoints[1].friendlyName, L"VelmoraDSP Application 2 Output (2)");
  EXPECT_EQ(endpoints[2].endpointId, L"{c}");
  for (const CaptureEndpoint& endpoint : endpoints) {
    EXPECT_TRUE(endpoint.device);
    EXPECT_EQ(endpoint.channels, 0);  // read only when the stream is opened
  }
  EXPECT_EQ(system_.CallsStartingWith("IMMDeviceEnumerator::EnumAudioEndpoints"),
            std::vector<std::string>{"IMMDeviceEnumerator::EnumAudioEndpoints flow=1 mask=1"});
  EXPECT_EQ(system_.CallsStartingWith("IMMDevice::OpenPropertyStore {a} access=0").size(), 1u);
  // The id is read for every endpoint whose name was read, matching or not.
  EXPECT_EQ(system_.CallsStartingWith("IMMDevice::GetId").size(), 6u);
  // Only the devices handed to records are still held.
  EXPECT_EQ(system_.HeldReferences(), 3);
  endpoints.clear();
  ExpectEverythingReleased();
}

TEST_F(EndpointDiscoveryTest, ListingTakesEveryActiveCaptureEndpointAsOffered) {
  system_.AddEndpoint(L"VelmoraDSP Application 3 Output", L"{c}");
  system_.AddEndpoint(L"Line In", L"{line}");
  system_.AddEndpoint(L"VelmoraDSP Application 3 Output (2)", L"{c2}");
  system_.AddEndpoint(L"Numbered", L"{unnamed}").friendlyNameIsString = false;
  system_.AddEndpoint(L"VelmoraDSP Application 4 Output", L"{render}").flow = eRender;
  system_.AddEndpoint(L"VelmoraDSP Application 5 Output", L"{off}").state = DEVICE_STATE_DISABLED;

  EndpointList endpoints;
  ASSERT_EQ(EnumerateCaptureEndpoints(endpoints), S_OK);
  // In the audio system's order, shared slots and all; other names have slot 0.
  EXPECT_EQ(Slots(endpoints), (std::vector<std::int32_t>{3, 0, 3, 0}));
  EXPECT_EQ(endpoints[1].friendlyName, L"Line In");
  EXPECT_EQ(endpoints[3].friendlyName, L"");
  EXPECT_EQ(endpoints[3].endpointId, L"{unnamed}");
  EXPECT_EQ(system_.HeldReferences(), 4);
  endpoints.clear();
  ExpectEverythingReleased();

  system_.Endpoints()[1]->failures[FakeCall::kGetId] = kDeviceInvalidated;
  EXPECT_EQ(EnumerateCaptureEndpoints(endpoints), kDeviceInvalidated);
  EXPECT_EQ(Slots(endpoints), std::vector<std::int32_t>{3});
  endpoints.clear();
  ExpectEverythingReleased();
}

TEST_F(EndpointDiscoveryTest, GapsInSlotsStay) {
  system_.AddEndpoint(L"VelmoraDSP Application 7 Output", L"seven");
  system_.AddEndpoint(L"VelmoraDSP Application 2 Output", L"two");
  EndpointList endpoints;
  ASSERT_EQ(EnumerateApplicationEndpoints(endpoints), S_OK);
  EXPECT_EQ(Slots(endpoints), (std::vector<std::int32_t>{2, 7}));
}

TEST_F(EndpointDiscoveryTest, SharedSlotFailsWithAllEndpointsKeptSorted) {
  const wchar_t* pairs[][2] = {
      {L"VelmoraDSP Application 1 Output", L"VelmoraDSP Application 01 Output"},
      {L"VelmoraDSP Application 99999999999 Output", L"VelmoraDSP Application 3000000000 Output"},
  };
  for (const auto& pair : pairs) {
    FakeAudioSystem system;
    system.AddEndpoint(pair[0], L"x");
    system.AddEndpoint(L"VelmoraDSP Application 5 Output", L"five");
    system.AddEndpoint(pair[1], L"y");
    EndpointList endpoints;
    EXPECT_EQ(static_cast<std::uint32_t>(EnumerateApplicationEndpoints(endpoints)), 0x80070034u);
    EXPECT_EQ(endpoints.size(), 3u);
    EXPECT_TRUE(std::is_sorted(
        endpoints.begin(), endpoints.end(),
        [](const CaptureEndpoint& l, const CaptureEndpoint& r) { return l.slot < r.slot; }));
  }
}

TEST_F(EndpointDiscoveryTest, NoApplicationEndpointIsNotFound) {
  system_.AddEndpoint(L"Microphone", L"mic");
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"render").flow = eRender;
  EndpointList endpoints;
  EXPECT_EQ(static_cast<std::uint32_t>(EnumerateApplicationEndpoints(endpoints)), 0x80070490u);
  EXPECT_TRUE(endpoints.empty());
  ExpectEverythingReleased();
}

TEST_F(EndpointDiscoveryTest, SystemFailuresAreHandedUpUnchanged) {
  for (const FakeCall step :
       {FakeCall::kCoCreateInstance, FakeCall::kEnumAudioEndpoints, FakeCall::kGetCount}) {
    const char* name = testing::FakeCallName(step);
    FakeAudioSystem system;
    system.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a");
    system.failures[step] = kDeviceInvalidated;
    EndpointList endpoints;
    EXPECT_EQ(EnumerateApplicationEndpoints(endpoints), kDeviceInvalidated) << name;
    EXPECT_TRUE(endpoints.empty()) << name;
    EXPECT_EQ(system.HeldReferences(), 0) << name;
  }
}

TEST_F(EndpointDiscoveryTest, AFailingEndpointEndsTheEnumerationEvenIfItWouldNotMatch) {
  for (const FakeCall step :
       {FakeCall::kItem, FakeCall::kOpenPropertyStore, FakeCall::kGetValue, FakeCall::kGetId}) {
    const char* name = testing::FakeCallName(step);
    FakeAudioSystem system;
    system.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a");
    system.AddEndpoint(L"Not an application endpoint", L"other").failures[step] =
        kDeviceInvalidated;
    system.AddEndpoint(L"VelmoraDSP Application 2 Output", L"b");
    EndpointList endpoints;
    EXPECT_EQ(EnumerateApplicationEndpoints(endpoints), kDeviceInvalidated) << name;
    // The record appended before the failure stays; the one after is never examined.
    EXPECT_EQ(Slots(endpoints), std::vector<std::int32_t>{1}) << name;
    EXPECT_TRUE(system.CallsStartingWith("IMMDeviceCollection::Item 2").empty()) << name;
    endpoints.clear();
    EXPECT_EQ(system.HeldReferences(), 0) << name;
    EXPECT_EQ(system.overReleases, 0) << name;
  }
}

TEST_F(EndpointDiscoveryTest, FindByIdAcceptsAnyEndpointWithAStringName) {
  system_.AddEndpoint(L"Speakers", L"{render}").flow = eRender;
  system_.AddEndpoint(L"Unplugged mic", L"{off}").state = DEVICE_STATE_UNPLUGGED;
  for (const wchar_t* id : {L"{render}", L"{off}"}) {
    CaptureEndpoint endpoint;
    endpoint.slot = 42;
    ASSERT_EQ(FindEndpointById(id, endpoint), S_OK);
    EXPECT_EQ(endpoint.slot, 0);
    EXPECT_EQ(endpoint.endpointId, id);
    EXPECT_TRUE(endpoint.device);
  }
  EXPECT_TRUE(system_.CallsStartingWith("IMMDevice::GetId").empty());
  EXPECT_EQ(system_.CallsStartingWith("CoCreateInstance").size(), 2u);
  ExpectEverythingReleased();
}

TEST_F(EndpointDiscoveryTest, FindByIdFailuresLeaveTheRecordAsConstructed) {
  system_.AddEndpoint(L"Mic", L"mic");
  system_.AddEndpoint(L"Numbered", L"numbered").friendlyNameIsString = false;
  system_.AddEndpoint(L"Locked", L"locked").failures[FakeCall::kOpenPropertyStore] =
      kDeviceInvalidated;
  system_.AddEndpoint(L"Unreadable", L"unreadable").failures[FakeCall::kGetValue] =
      kDeviceInvalidated;
  struct Case {
    const wchar_t* id;
    std::uint32_t result;
  };
  for (const Case& lookup : {Case{L"nobody", 0x80070490u}, Case{L"numbered", 0x80070057u},
                             Case{L"locked", 0x88890004u}, Case{L"unreadable", 0x88890004u}}) {
    CaptureEndpoint endpoint;
    EXPECT_EQ(static_cast<std::uint32_t>(FindEndpointById(lookup.id, endpoint)), lookup.result);
    EXPECT_TRUE(endpoint.friendlyName.empty() && endpoint.endpointId.empty());
    EXPECT_FALSE(endpoint.device);
  }
  ExpectEverythingReleased();
}

TEST_F(EndpointDiscoveryTest, ContainsEndpointIdComparesExactly) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{0.0.1.00000000}.{ABC}");
  EndpointList endpoints;
  EXPECT_FALSE(ContainsEndpointId(endpoints, L"anything"));
  ASSERT_EQ(EnumerateApplicationEndpoints(endpoints), S_OK);
  EXPECT_TRUE(ContainsEndpointId(endpoints, L"{0.0.1.00000000}.{ABC}"));
  EXPECT_FALSE(ContainsEndpointId(endpoints, L"{0.0.1.00000000}.{abc}"));
  EXPECT_FALSE(ContainsEndpointId(endpoints, L"{0.0.1.00000000}.{ABC} "));
  EXPECT_FALSE(ContainsEndpointId(endpoints, L""));
}

}  // namespace
}  // namespace velmoravad
