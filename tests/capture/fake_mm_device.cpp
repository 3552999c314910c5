// The simulated endpoint device and its property store.
#include "capture/fake_com_object.h"

#include <sstream>

namespace velmoravad::testing {
namespace {

bool IsFriendlyNameKey(REFPROPERTYKEY key) {
  const PROPERTYKEY expected = {
      {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
  return IsEqualGUID(key.fmtid, expected.fmtid) && key.pid == expected.pid;
}

class FakePropertyStore final : public FakeComObject<IPropertyStore> {
 public:
  FakePropertyStore(FakeAudioSystem& system, FakeEndpointScript& endpoint)
      : FakeComObject(system, "IPropertyStore " + Narrow(endpoint.id)), endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    const NotCounted bookkeeping;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    const NotCounted bookkeeping;
    system_.calls.push_back(std::string("IPropertyStore::GetValue ") + Narrow(endpoint_.id) +
                            (IsFriendlyNameKey(key) ? " FriendlyName" : " other"));
    PropVariantInit(value);
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetValue);
    if (failure != S_OK) return failure;
    if (!IsFriendlyNameKey(key)) return S_OK;
    if (endpoint_.friendlyNameIsString) {
      value->vt = VT_LPWSTR;
      value->pwszVal = CoTaskMemString(endpoint_.friendlyName);
    } else {
      value->vt = VT_UI4;
      value->ulVal = 7;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, const PROPVARIANT&) override {
    const NotCounted bookkeeping;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }

 private:
  FakeEndpointScript& endpoint_;
};

class FakeDevice final : public FakeComObject<IMMDevice> {
 public:
  FakeDevice(FakeAudioSystem& system, FakeEndpointScript& endpoint)
      : FakeComObject(system, "IMMDevice " + Narrow(endpoint.id)), endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* activationParams,
                                     void** object) override {
    const NotCounted bookkeeping;
    std::ostringstream call;
    call << "IMMDevice::Activate " << Narrow(endpoint_.id)
         << (IsEqualGUID(iid, __uuidof(IAudioClient)) ? " IAudioClient" : " other")
         << " context=" << context << (activationParams == nullptr ? " params=null" : " params");
    system_.calls.push_back(call.str());
    *object = nullptr;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kActivate);
    if (failure != S_OK) return failure;
    if (!IsEqualGUID(iid, __uuidof(IAudioClient))) return E_NOINTERFACE;
    *object = MakeFakeAudioClient(system_, endpoint_);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** properties) override {
    const NotCounted bookkeeping;
    system_.calls.push_back("IMMDevice::OpenPropertyStore " + Narrow(endpoint_.id) +
                            " access=" + std::to_string(access));
    *properties = nullptr;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kOpenPropertyStore);
    if (failure != S_OK) return failure;
    *properties = system_.Make<FakePropertyStore>(endpoint_);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    const NotCounted bookkeeping;
    system_.calls.push_back("IMMDevice::GetId " + Narrow(endpoint_.id));
    *id = nullptr;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetId);
    if (failure != S_OK) return failure;
    *id = CoTaskMemString(endpoint_.id);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    const NotCounted bookkeeping;
    *state = endpoint_.state;
    return S_OK;
  }

 private:
  FakeEndpointScript& endpoint_;
};

}  // namespace

IMMDevice* MakeFakeDevice(FakeAudioSystem& system, FakeEndpointScript& endpoint) {
  return system.Make<FakeDevice>(endpoint);
}

}  // namespace velmoravad::testing
