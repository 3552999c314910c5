#include "common/text_encoding.h"

#include <windows.h>

#include <climits>
#include <new>
#include <stdexcept>

namespace velmoravad {
namespace {

// The length of `text` as the conversion calls take it; longer text than an
// int can count fails the way running out of memory does.
template <class Character>
int ConversionLength(std::basic_string_view<Character> text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long to convert");
  }
  return static_cast<int>(text.size());
}

// Without a flag that asks for strictness, a conversion of valid arguments
// fails only when the system runs out of resources.
void ThrowUnlessConverted(int result) {
  if (result <= 0) throw std::bad_alloc();
}

}  // namespace

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = ConversionLength(wide);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  ThrowUnlessConverted(bytes);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ThrowUnlessConverted(
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), bytes, nullptr, nullptr));
  return utf8;
}

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length = ConversionLength(utf8);
  const int characters = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  ThrowUnlessConverted(characters);
  std::wstring wide(static_cast<std::size_t>(characters), L'\0');
  ThrowUnlessConverted(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), characters));
  return wide;
}

}  // namespace velmoravad
