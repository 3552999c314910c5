// Helpers that read a fuzz input as the values a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace velmoravad::fuzzing {

// Stops the run as a crash would, so that the fuzzer keeps the input.
inline void Require(bool condition) {
  if (!condition) std::abort();
}

// The input's 16-bit little-endian units, split into strings at each zero
// unit: UTF-16 as Windows hands it over, unpaired surrogates and all.
inline std::vector<std::wstring> WideStrings(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> strings(1);
  for (std::size_t index = 0; index + 1 < size; index += 2) {
    const auto unit = static_cast<wchar_t>(data[index] | (data[index + 1] << 8));
    if (unit == 0) {
      strings.emplace_back();
    } else {
      strings.back() += unit;
    }
  }
  return strings;
}

}  // namespace velmoravad::fuzzing
