// The simulated device enumerator and device collection.
#include "capture/fake_com_object.h"

#include <sstream>

namespace velmoravad::testing {
namespace {

class FakeDeviceCollection final : public FakeComObject<IMMDeviceCollection> {
 public:
  FakeDeviceCollection(FakeAudioSystem& system, std::vector<FakeEndpointScript*> endpoints)
      : FakeComObject(system, "IMMDeviceCollection"), endpoints_(std::move(endpoints)) {}

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    const NotCounted bookkeeping;
    system_.calls.push_back("IMMDeviceCollection::GetCount");
    const HRESULT failure = system_.FailureFor(nullptr, FakeCall::kGetCount);
    if (failure != S_OK) return failure;
    *count = static_cast<UINT>(endpoints_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    const NotCounted bookkeeping;
    system_.calls.push_back("IMMDeviceCollection::Item " + std::to_string(index));
    *device = nullptr;
    if (index >= endpoints_.size()) return E_INVALIDARG;
    const HRESULT failure = system_.FailureFor(endpoints_[index], FakeCall::kItem);
    if (failure != S_OK) return failure;
    *device = MakeFakeDevice(system_, *endpoints_[index]);
    return S_OK;
  }

 private:
  std::vector<FakeEndpointScript*> endpoints_;
};

bool FlowMatches(EDataFlow wanted, EDataFlow flow) { return wanted == eAll || wanted == flow; }

class FakeDeviceEnumerator final : public FakeComObject<IMMDeviceEnumerator> {
 public:
  explicit FakeDeviceEnumerator(FakeAudioSystem& system)
      : FakeComObject(system, "IMMDeviceEnumerator") {}

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow dataFlow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    const NotCounted bookkeeping;
    std::ostringstream call;
    call << "IMMDeviceEnumerator::EnumAudioEndpoints flow=" << dataFlow << " mask=" << stateMask;
    system_.calls.push_back(call.str());
    *devices = nullptr;
    const HRESULT failure = system_.FailureFor(nullptr, FakeCall::kEnumAudioEndpoints);
    if (failure != S_OK) return failure;
    std::vector<FakeEndpointScript*> matching;
    for (FakeEndpointScript* endpoint : system_.Endpoints()) {
      if (FlowMatches(dataFlow, endpoint->flow) && (endpoint->state & stateMask) != 0) {
        matching.push_back(endpoint);
      }
    }
    *devices = system_.Make<FakeDeviceCollection>(std::move(matching));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override {
    const NotCounted bookkeeping;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    const NotCounted bookkeeping;
    system_.calls.push_back("IMMDeviceEnumerator::GetDevice " + Narrow(id));
    *device = nullptr;
    const HRESULT failure = system_.FailureFor(nullptr, FakeCall::kGetDevice);
    if (failure != S_OK) return failure;
    FakeEndpointScript* endpoint = system_.FindEndpoint(id);
    if (endpoint == nullptr) return static_cast<HRESULT>(0x80070490u);
    *device = MakeFakeDevice(system_, *endpoint);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    const NotCounted bookkeeping;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    const NotCounted bookkeeping;
    return E_NOTIMPL;
  }
};

}  // namespace

IMMDeviceEnumerator* MakeFakeDeviceEnumerator(FakeAudioSystem& system) {
  return system.Make<FakeDeviceEnumerator>();
}

}  // namespace velmoravad::testing
