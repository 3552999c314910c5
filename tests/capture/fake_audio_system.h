// A scriptable simulated audio system behind the Core Audio interfaces.
//
// Each endpoint has its own script: flow, state, friendly name (or a value that
// is not a string), id, mix-format channels, the answer of IsFormatSupported, a
// failure for any single call and a queue of packets. Every call is logged with
// its arguments. The simulated objects are owned by the FakeAudioSystem and live
// as long as it does, so a reference released once too often is counted instead
// of touching freed memory. Install it for one test with ScopedAudioSystem.
#pragma once

#include "capture/audio_system.h"
#include "common/allocation_counter.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmoravad::testing {

// Every call of the simulated system that a test can make fail: the Core Audio
// and COM calls, the thread's registration with the scheduler, and standard
// output's calls, which the failure injection counts with them.
enum class FakeCall {
  kCoInitializeEx,
  kCoCreateInstance,
  kEnumAudioEndpoints,
  kGetCount,
  kItem,
  kGetDevice,
  kOpenPropertyStore,
  kGetValue,
  kGetId,
  kActivate,
  kGetMixFormat,
  kIsFormatSupported,
  kInitialize,
  kCreateEventW,
  kAvSetMmThreadCharacteristicsW,
  kSetEventHandle,
  kGetService,
  kStart,
  kStop,
  kGetNextPacketSize,
  kGetBuffer,
  kReleaseBuffer,
  kSetOutputBinaryMode,
  kWriteOutput,
};

// The call's name as the platform spells it, for messages.
const char* FakeCallName(FakeCall call);

// Results to return instead of doing a call's work.
using FailureTable = std::map<FakeCall, HRESULT>;

struct FakePacket {
  UINT32 frames = 0;
  // Interleaved; ignored for a silent packet. None: GetBuffer hands out a null
  // data pointer, as a faulty driver might.
  std::vector<std::int16_t> samples;
  bool silent = false;
  DWORD otherFlags = 0;  // besides AUDCLNT_BUFFERFLAGS_SILENT, e.g. a discontinuity
};

struct FakeEndpointScript {
  EDataFlow flow = eCapture;
  DWORD state = DEVICE_STATE_ACTIVE;
  std::wstring friendlyName;
  bool friendlyNameIsString = true;  // false: the property holds a VT_UI4
  std::wstring id;
  WORD mixChannels = 2;
  HRESULT formatSupport = S_OK;  // S_FALSE also hands out a closest match
  // Result to return from one of this endpoint's calls instead of doing its work
  // (kItem, kOpenPropertyStore, kGetValue, kGetId and the audio client's calls).
  FailureTable failures;
  std::deque<FakePacket> packets;

  // Queues a data packet of interleaved samples (frames = samples / channels).
  void QueuePacket(std::vector<std::int16_t> samples, DWORD otherFlags = 0);
  void QueueSilentPacket(UINT32 frames);
  // Queues a packet of `frames` frames whose data pointer is null and which is
  // not flagged silent.
  void QueuePacketWithoutData(UINT32 frames);
};

struct FormatRequest {
  std::wstring endpointId;
  AUDCLNT_SHAREMODE shareMode = AUDCLNT_SHAREMODE_SHARED;
  WAVEFORMATEXTENSIBLE format{};
  DWORD streamFlags = 0;                 // Initialize only
  REFERENCE_TIME bufferDuration = 0;     // Initialize only
  REFERENCE_TIME periodicity = 0;        // Initialize only
  bool sessionGuidIsNull = true;         // Initialize only
  bool closestMatchStartedNull = false;  // IsFormatSupported only
};

class FakeObject;

class FakeAudioSystem final : public AudioSystem {
 public:
  FakeAudioSystem();
  ~FakeAudioSystem();

  // Adds an active capture endpoint; returns its script for further changes.
  FakeEndpointScript& AddEndpoint(std::wstring friendlyName, std::wstring id, WORD channels = 2);

  // AudioSystem
  HRESULT InitializeCom() override;
  void UninitializeCom() override;
  HRESULT CreateDeviceEnumerator(IMMDeviceEnumerator** enumerator) override;
  // A real event, or null with ERROR_NOT_ENOUGH_MEMORY when kCreateEventW fails.
  HANDLE CreateCaptureEvent() override;
  // A registration handle, or null with ERROR_INVALID_TASK_NAME when
  // kAvSetMmThreadCharacteristicsW fails; both calls are logged.
  HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex) override;
  BOOL AvRevertMmThreadCharacteristics(HANDLE registration) override;

  // System-level failures: kCoInitializeEx, kCoCreateInstance,
  // kEnumAudioEndpoints, kGetCount, kGetDevice, kCreateEventW,
  // kAvSetMmThreadCharacteristicsW.
  FailureTable failures;

  // Every call that can fail, in order: what it was, on which endpoint (empty
  // for a system-level call), and how many enumerators existed by then.
  struct FallibleCall {
    FakeCall method;
    std::wstring endpointId;
    int enumeratorsCreated;
  };
  std::vector<FallibleCall> fallibleCalls;
  // The call numbered `failCall` (from 1; 0 for none) fails with kInjectedFailure.
  std::size_t failCall = 0;
  static constexpr HRESULT kInjectedFailure = static_cast<HRESULT>(0x80004004u);  // E_ABORT
  int enumeratorsCreated = 0;

  // "Object::Method args" lines, in call order.
  std::vector<std::string> calls;
  // False: the capture client's calls, which a running stream makes every tick,
  // are not recorded (so that recording allocates nothing).
  bool recordCalls = true;
  std::vector<FormatRequest> formatQueries;    // IsFormatSupported
  std::vector<FormatRequest> initializations;  // Initialize

  int comInitializations = 0;
  // Registrations with the scheduler not yet reverted.
  int threadRegistrations = 0;
  int comUninitializations = 0;
  // References held by the program when COM was uninitialised; -1 before that.
  int referencesHeldAtUninitialize = -1;

  // References the program holds now, over every object it was ever given.
  int HeldReferences() const;
  // Releases of an object that held no reference.
  int overReleases = 0;
  // "Interface id" of each object whose last reference went, in that order.
  std::vector<std::string> finalReleases;
  // Objects handed out so far.
  std::size_t ObjectCount() const { return objects_.size(); }

  // Lines of `calls` that begin with `prefix`.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;

  // For the simulated objects.
  // The endpoint with this id in any letter case, as Windows looks ids up.
  FakeEndpointScript* FindEndpoint(const wchar_t* id);
  std::vector<FakeEndpointScript*> Endpoints();
  template <class T, class... Args>
  T* Make(Args&&... args) {
    const NotCounted bookkeeping;
    auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = object.get();
    objects_.push_back(std::move(object));
    return raw;
  }
  // Every call that can fail goes through here: it is recorded, and fails when
  // it is the injected one or when its endpoint's (or the system's, for null)
  // table names it.
  HRESULT FailureFor(const FakeEndpointScript* endpoint, FakeCall method);

 private:
  std::vector<std::unique_ptr<FakeEndpointScript>> endpoints_;
  std::vector<std::unique_ptr<FakeObject>> objects_;
  ScopedAudioSystem installation_;
};

// Text of a wide string for log lines (ASCII only; others become '?').
std::string Narrow(const std::wstring& text);

}  // namespace velmoravad::testing
