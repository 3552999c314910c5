#include "capture/endpoint_discovery.h"

#include <climits>
#include <cwchar>
#include <string_view>

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

wchar_t AsciiLower(wchar_t character) {
  return character >= L'A' && character <= L'Z' ? character - L'A' + L'a' : character;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view start) {
  if (text.size() < start.size()) return false;
  for (std::size_t index = 0; index < start.size(); ++index) {
    if (AsciiLower(text[index]) != AsciiLower(start[index])) return false;
  }
  return true;
}

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part) {
  for (std::size_t start = 0; start + part.size() <= text.size(); ++start) {
    if (StartsWithIgnoringCase(text.substr(start), part)) return true;
  }
  return false;
}

// Why a name that does not begin with the prefix misses it.
std::string PrefixMiss(std::wstring_view name) {
  const std::wstring_view prefix(kNamePrefix, kNamePrefixLength);
  const std::wstring_view prefixWord = prefix.substr(0, kNamePrefixLength - 1);
  if (StartsWithIgnoringCase(name, prefix)) {
    return "the letter case differs from \"VelmoraDSP Application \"";
  }
  if (StartsWithIgnoringCase(name, prefixWord) && name.size() > prefixWord.size() &&
      std::wcschr(L"+-0123456789", name[prefixWord.size()]) != nullptr) {
    return "no blank between \"Application\" and the slot number";
  }
  if (ContainsIgnoringCase(name, prefix)) {
    return "the name must begin with \"VelmoraDSP Application \"";
  }
  return "the name does not read \"VelmoraDSP Application <slot> Output\"";
}

// Why the text after a valid slot number misses " Output".
std::string SuffixMiss(std::wstring_view rest) {
  const std::wstring_view suffix(kNameSuffix, kNameSuffixLength);
  const std::wstring_view suffixWord = suffix.substr(1);
  const std::size_t blanks = rest.find_first_not_of(L' ');
  if (blanks != std::wstring_view::npos && blanks > 1 &&
      StartsWithIgnoringCase(rest.substr(blanks), suffixWord)) {
    return "more than one blank between the slot number and \"Output\"";
  }
  if (StartsWithIgnoringCase(rest, suffixWord)) {
    return "no blank between the slot number and \"Output\"";
  }
  if (StartsWithIgnoringCase(rest, suffix)) return "the letter case differs from \" Output\"";
  return "the slot number must be followed by \" Output\"";
}

}  // namespace

std::string ApplicationNameMiss(const wchar_t* friendlyName) {
  if (friendlyName == nullptr || ParseApplicationSlot(friendlyName) >= 1) return {};
  const std::wstring_view name(friendlyName);
  if (!ContainsIgnoringCase(name, L"velmoradsp")) return {};
  if (std::wcsncmp(friendlyName, kNamePrefix, kNamePrefixLength) != 0) return PrefixMiss(name);

  const wchar_t* number = friendlyName + kNamePrefixLength;
  wchar_t* numberEnd = nullptr;
  const std::int32_t slot = SaturateToInt32(std::wcstol(number, &numberEnd, 10));
  if (numberEnd == number) return "no slot number after \"VelmoraDSP Application \"";
  if (slot < 1) return "slot " + std::to_string(slot) + ": a slot must be 1 or more";
  return SuffixMiss(numberEnd);
}

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
