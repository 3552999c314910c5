#include "capture/endpoint_discovery.h"

#include <climits>
#include <cwchar>

namespace velmoravad {
namespace {

constexpr wchar_t kNamePrefix[] = L"VelmoraDSP Application ";
constexpr std::size_t kNamePrefixLength = 23;
constexpr wchar_t kNameSuffix[] = L" Output";
constexpr std::size_t kNameSuffixLength = 7;

// wcstol returns a 64-bit long on Linux and a 32-bit one on Windows; a slot
// saturates at the 32-bit limits on both.
std::int32_t SaturateToInt32(long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t ParseApplicationSlot(const wchar_t* friendlyName) {
  if (friendlyName == nullptr) return -1;
  if (std::wcsncmp(friendlyName, kNamePrefix, kNamePrefixLength) != 0) return -1;
  wchar_t* numberEnd = nullptr;
  const std::int32_t slot =
      SaturateToInt32(std::wcstol(friendlyName + kNamePrefixLength, &numberEnd, 10));
  if (slot < 1) return -1;
  if (std::wcsncmp(numberEnd, kNameSuffix, kNameSuffixLength) != 0) return -1;
  return slot;
}

}  // namespace velmoravad
