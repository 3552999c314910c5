#include "pulse/pulse_property_store.h"

#include <functiondiscoverykeys_devpkey.h>

#include "pulse/task_memory_string.h"

namespace standin {
namespace {

constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80030005u);  // STG_E_ACCESSDENIED

bool operator==(const PROPERTYKEY& left, const PROPERTYKEY& right) {
  return left.fmtid == right.fmtid && left.pid == right.pid;
}

}  // namespace

PulsePropertyStore::PulsePropertyStore(std::string friendlyName)
    : friendlyName_(std::move(friendlyName)) {}

HRESULT PulsePropertyStore::GetCount(DWORD* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT PulsePropertyStore::GetAt(DWORD index, PROPERTYKEY* key) {
  if (key == nullptr) return E_POINTER;
  if (index != 0) return E_INVALIDARG;
  *key = PKEY_Device_FriendlyName;
  return S_OK;
}

HRESULT PulsePropertyStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
  if (value == nullptr) return E_POINTER;
  PropVariantInit(value);
  if (!(key == PKEY_Device_FriendlyName)) return S_OK;
  LPWSTR name = NewTaskMemWideString(friendlyName_);
  if (name == nullptr) return E_OUTOFMEMORY;
  value->vt = VT_LPWSTR;
  value->pwszVal = name;
  return S_OK;
}

HRESULT PulsePropertyStore::SetValue(REFPROPERTYKEY, const PROPVARIANT&) { return kAccessDenied; }

HRESULT PulsePropertyStore::Commit() { return kAccessDenied; }

}  // namespace standin
