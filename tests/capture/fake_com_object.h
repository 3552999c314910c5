// Reference counting shared by the simulated Core Audio objects.
#pragma once

#include "capture/fake_audio_system.h"
#include "common/allocation_counter.h"
#include "common/hresult.h"

namespace velmoravad::testing {

// The simulated objects' own bookkeeping (logs, records, new objects) is not
// counted as allocations of the program: each method opens with NotCounted, and
// a simulated call fails by its result, never by throwing, as COM calls do.

class FakeObject {
 public:
  FakeObject(FakeAudioSystem& system, std::string label)
      : system_(system), label_(std::move(label)) {}
  virtual ~FakeObject() = default;
  int references = 1;  // the one the program receives when the object is made

 protected:
  FakeAudioSystem& system_;
  std::string label_;  // "Interface endpoint-id", for the release log
};

template <class Interface>
class FakeComObject : public Interface, public FakeObject {
 public:
  using FakeObject::FakeObject;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override {
    const NotCounted bookkeeping;
    if (references == 0) {
      ++system_.overReleases;
      return 0;
    }
    if (--references == 0) system_.finalReleases.push_back(label_);
    return static_cast<ULONG>(references);
  }
};

}  // namespace velmoravad::testing

namespace velmoravad::testing {

// Makers of the simulated objects, each handing out one new reference.
IMMDeviceEnumerator* MakeFakeDeviceEnumerator(FakeAudioSystem& system);
IMMDevice* MakeFakeDevice(FakeAudioSystem& system, FakeEndpointScript& endpoint);
IAudioClient* MakeFakeAudioClient(FakeAudioSystem& system, FakeEndpointScript& endpoint);

// A copy of `text` in task memory, as Core Audio hands out strings.
wchar_t* CoTaskMemString(const std::wstring& text);

}  // namespace velmoravad::testing
