#include "capture/fake_audio_system.h"

#include "capture/fake_com_object.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace velmoravad::testing {

void FakeEndpointScript::QueuePacket(std::vector<std::int16_t> samples, DWORD otherFlags) {
  FakePacket packet;
  packet.frames = static_cast<UINT32>(samples.size() / mixChannels);
  packet.samples = std::move(samples);
  packet.otherFlags = otherFlags;
  packets.push_back(std::move(packet));
}

void FakeEndpointScript::QueuePacketWithoutData(UINT32 frames) {
  FakePacket packet;
  packet.frames = frames;
  packets.push_back(std::move(packet));
}

void FakeEndpointScript::QueueSilentPacket(UINT32 frames) {
  FakePacket packet;
  packet.frames = frames;
  packet.silent = true;
  // Data that must not be read: a silent packet is zeros whatever it holds.
  packet.samples.assign(std::size_t{frames} * mixChannels, 0x5A5A);
  packets.push_back(std::move(packet));
}

FakeAudioSystem::FakeAudioSystem() : installation_(*this) {}
FakeAudioSystem::~FakeAudioSystem() = default;

FakeEndpointScript& FakeAudioSystem::AddEndpoint(std::wstring friendlyName, std::wstring id,
                                                 WORD channels) {
  auto endpoint = std::make_unique<FakeEndpointScript>();
  endpoint->friendlyName = std::move(friendlyName);
  endpoint->id = std::move(id);
  endpoint->mixChannels = channels;
  endpoints_.push_back(std::move(endpoint));
  return *endpoints_.back();
}

HRESULT FakeAudioSystem::InitializeCom() {
  const NotCounted bookkeeping;
  calls.push_back("CoInitializeEx");
  const HRESULT failure = FailureFor(nullptr, FakeCall::kCoInitializeEx);
  if (failure != S_OK) return failure;
  ++comInitializations;
  return S_OK;
}

void FakeAudioSystem::UninitializeCom() {
  const NotCounted bookkeeping;
  calls.push_back("CoUninitialize");
  ++comUninitializations;
  referencesHeldAtUninitialize = HeldReferences();
}

HANDLE FakeAudioSystem::AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex) {
  const NotCounted bookkeeping;
  calls.push_back("AvSetMmThreadCharacteristicsW " + Narrow(taskName) + " " +
                  std::to_string(*taskIndex));
  if (Failed(FailureFor(nullptr, FakeCall::kAvSetMmThreadCharacteristicsW))) {
    SetLastError(1550);  // ERROR_INVALID_TASK_NAME
    return nullptr;
  }
  ++threadRegistrations;
  return &threadRegistrations;
}

BOOL FakeAudioSystem::AvRevertMmThreadCharacteristics(HANDLE registration) {
  const NotCounted bookkeeping;
  calls.push_back("AvRevertMmThreadCharacteristics");
  if (registration != &threadRegistrations) return FALSE;
  --threadRegistrations;
  return TRUE;
}

HRESULT FakeAudioSystem::CreateDeviceEnumerator(IMMDeviceEnumerator** enumerator) {
  const NotCounted bookkeeping;
  calls.push_back("CoCreateInstance MMDeviceEnumerator");
  *enumerator = nullptr;
  const HRESULT failure = FailureFor(nullptr, FakeCall::kCoCreateInstance);
  if (failure != S_OK) return failure;
  ++enumeratorsCreated;
  *enumerator = MakeFakeDeviceEnumerator(*this);
  return S_OK;
}

int FakeAudioSystem::HeldReferences() const {
  int held = 0;
  for (const auto& object : objects_) held += object->references;
  return held;
}

std::vector<std::string> FakeAudioSystem::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const auto& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
  }
  return matching;
}

FakeEndpointScript* FakeAudioSystem::FindEndpoint(const wchar_t* id) {
  // Windows finds an endpoint by its id in any letter case.
  const auto sameIgnoringCase = [](const std::wstring& left, const wchar_t* right) {
    return std::equal(left.begin(), left.end(), right, right + std::wcslen(right),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
  };
  for (auto& endpoint : endpoints_) {
    if (id != nullptr && sameIgnoringCase(endpoint->id, id)) return endpoint.get();
  }
  return nullptr;
}

std::vector<FakeEndpointScript*> FakeAudioSystem::Endpoints() {
  std::vector<FakeEndpointScript*> all;
  for (auto& endpoint : endpoints_) all.push_back(endpoint.get());
  return all;
}

HRESULT FakeAudioSystem::FailureFor(const FakeEndpointScript* endpoint, FakeCall method) {
  const NotCounted bookkeeping;
  fallibleCalls.push_back({method, endpoint != nullptr ? endpoint->id : L"", enumeratorsCreated});
  if (fallibleCalls.size() == failCall) return kInjectedFailure;
  const FailureTable& table = endpoint != nullptr ? endpoint->failures : failures;
  const auto found = table.find(method);
  return found == table.end() ? S_OK : found->second;
}

HANDLE FakeAudioSystem::CreateCaptureEvent() {
  const NotCounted bookkeeping;
  calls.push_back("CreateEventW");
  if (Failed(FailureFor(nullptr, FakeCall::kCreateEventW))) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

const char* FakeCallName(FakeCall call) {
  switch (call) {
    case FakeCall::kCoInitializeEx:
      return "CoInitializeEx";
    case FakeCall::kCoCreateInstance:
      return "CoCreateInstance";
    case FakeCall::kEnumAudioEndpoints:
      return "EnumAudioEndpoints";
    case FakeCall::kGetCount:
      return "GetCount";
    case FakeCall::kItem:
      return "Item";
    case FakeCall::kGetDevice:
      return "GetDevice";
    case FakeCall::kOpenPropertyStore:
      return "OpenPropertyStore";
    case FakeCall::kGetValue:
      return "GetValue";
    case FakeCall::kGetId:
      return "GetId";
    case FakeCall::kActivate:
      return "Activate";
    case FakeCall::kGetMixFormat:
      return "GetMixFormat";
    case FakeCall::kIsFormatSupported:
      return "IsFormatSupported";
    case FakeCall::kInitialize:
      return "Initialize";
    case FakeCall::kCreateEventW:
      return "CreateEventW";
    case FakeCall::kSetEventHandle:
      return "SetEventHandle";
    case FakeCall::kGetService:
      return "GetService";
    case FakeCall::kStart:
      return "Start";
    case FakeCall::kStop:
      return "Stop";
    case FakeCall::kGetNextPacketSize:
      return "GetNextPacketSize";
    case FakeCall::kGetBuffer:
      return "GetBuffer";
    case FakeCall::kReleaseBuffer:
      return "ReleaseBuffer";
    case FakeCall::kSetOutputBinaryMode:
      return "SetOutputBinaryMode";
    case FakeCall::kWriteOutput:
      return "WriteOutput";
    case FakeCall::kAvSetMmThreadCharacteristicsW:
      return "AvSetMmThreadCharacteristicsW";
  }
  return "?";
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t character : text) {
    narrow += (character > 0 && character < 0x80) ? static_cast<char>(character) : '?';
  }
  return narrow;
}

wchar_t* CoTaskMemString(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

}  // namespace velmoravad::testing
