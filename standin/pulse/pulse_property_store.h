// The read-only property store of a PulseAudio endpoint: the friendly name is the
// source's or sink's description; every other key is empty.
#pragma once

#include <mmdeviceapi.h>

#include <string>

#include "pulse/com_object.h"

namespace standin {

class PulsePropertyStore final : public ComObject<IPropertyStore> {
 public:
  explicit PulsePropertyStore(std::string friendlyName);

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override;
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT& value) override;
  HRESULT STDMETHODCALLTYPE Commit() override;

 private:
  const std::string friendlyName_;  // UTF-8
};

}  // namespace standin
