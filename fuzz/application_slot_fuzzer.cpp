// Any friendly name: a slot of 1 or more only for a name that begins with the
// application prefix and has " Output" after its number; -1 otherwise.
#include <string_view>

#include "capture/endpoint_discovery.h"
#include "fuzz_input.h"

using velmoravad::fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring name = velmoravad::fuzzing::WideStrings(data, size).front();
  const std::int32_t slot = velmoravad::ParseApplicationSlot(name.c_str());
  Require(slot == -1 || slot >= 1);
  if (slot >= 1) {
    Require(std::wstring_view(name).substr(0, 23) == L"VelmoraDSP Application ");
    Require(name.find(L" Output", 23) != std::wstring::npos);
  }
  return 0;
}
