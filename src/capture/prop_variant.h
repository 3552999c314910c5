// Owner of one PROPVARIANT, cleared with PropVariantClear on every path.
#pragma once

#include "capture/core_audio.h"

namespace velmoravad {

class PropVariant {
 public:
  PropVariant() { PropVariantInit(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  ~PropVariant() { PropVariantClear(&value_); }

  PROPVARIANT* Receive() {
    PropVariantClear(&value_);
    return &value_;
  }
  const PROPVARIANT& Get() const { return value_; }

  // The string value, or null when the value holds anything but a wide string.
  const wchar_t* WideStringOrNull() const {
    return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr;
  }

 private:
  PROPVARIANT value_;
};

}  // namespace velmoravad
