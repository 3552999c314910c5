// MultiByteToWideChar and WideCharToMultiByte for UTF-8. Ill-formed UTF-8 is
// replaced as Windows does it, one U+FFFD for each maximal part that cannot
// begin a character; a wide character that is a surrogate or beyond U+10FFFF
// becomes U+FFFD too.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "text_conversion.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsInRange(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// Decodes the character at the start of `bytes` (`count` > 0 of them) into
// `code`; returns the bytes it took. An ill-formed start gives U+FFFD, and
// `wellFormed` false, for the longest part of it that could have begun a
// character, at least one byte.
std::size_t DecodeUtf8(const unsigned char* bytes, std::size_t count, char32_t& code,
                       bool& wellFormed) {
  const unsigned char lead = bytes[0];
  code = kReplacement;
  wellFormed = false;
  if (lead < 0x80) {
    code = lead;
    wellFormed = true;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;  // the second byte's range; later bytes are 80..BF
  unsigned char high = 0xBF;
  if (IsInRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (IsInRange(lead, 0xE0, 0xEF)) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (IsInRange(lead, 0xF0, 0xF4)) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 1;
  }
  char32_t value = lead & (0x7F >> length);
  for (std::size_t index = 1; index < length; ++index) {
    if (index >= count || !IsInRange(bytes[index], low, high)) return index;
    value = (value << 6) | (bytes[index] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  code = value;
  wellFormed = true;
  return length;
}

bool IsValidCodePoint(char32_t code) {
  return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

// Hands the UTF-8 bytes of `code` to `put`.
template <class Put>
void EncodeUtf8(char32_t code, Put& put) {
  if (code < 0x80) {
    put(static_cast<char>(code));
  } else if (code < 0x800) {
    put(static_cast<char>(0xC0 | (code >> 6)));
    put(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    put(static_cast<char>(0xE0 | (code >> 12)));
    put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    put(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    put(static_cast<char>(0xF0 | (code >> 18)));
    put(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    put(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Decodes `count` bytes of UTF-8, handing each wide character to `put`; false
// at the first ill-formed part when `strict`, which otherwise becomes U+FFFD.
template <class Put>
bool Decode(const char* utf8, std::size_t count, bool strict, Put&& put) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8);
  for (std::size_t next = 0; next < count;) {
    char32_t code = 0;
    bool wellFormed = false;
    next += DecodeUtf8(bytes + next, count - next, code, wellFormed);
    if (strict && !wellFormed) return false;
    put(static_cast<wchar_t>(code));
  }
  return true;
}

// Encodes `count` wide characters, handing each UTF-8 byte to `put`; false at
// the first that is no code point when `strict`, which otherwise becomes U+FFFD.
template <class Put>
bool Encode(const wchar_t* wide, std::size_t count, bool strict, Put&& put) {
  for (std::size_t index = 0; index < count; ++index) {
    auto code = static_cast<char32_t>(wide[index]);
    if (!IsValidCodePoint(code)) {
      if (strict) return false;
      code = kReplacement;
    }
    EncodeUtf8(code, put);
  }
  return true;
}

// One conversion as the two calls make it, into `destination` (`room` units;
// 0 asks for the length alone) without allocating: `convert` runs once to count
// and, when there is room, again to write. Returns the units written or needed,
// or 0 with the last error set.
template <class Unit, class Convert>
int Deliver(Unit* destination, int room, Convert&& convert) {
  std::size_t length = 0;
  if (!convert([&length](Unit) { ++length; })) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (length > static_cast<std::size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (room == 0) return static_cast<int>(length);
  if (static_cast<std::size_t>(room) < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  Unit* next = destination;
  convert([&next](Unit unit) { *next++ = unit; });
  return static_cast<int>(length);
}

// The length of the input: `count`, or up to and with the terminating null for -1.
template <class Unit>
std::size_t InputLength(const Unit* text, int count) {
  if (count >= 0) return static_cast<std::size_t>(count);
  return std::char_traits<Unit>::length(text) + 1;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByte, int multiByteCount,
                        LPWSTR wide, int wideCount) {
  if (codePage != CP_UTF8 || (flags & ~MB_ERR_INVALID_CHARS) != 0 || multiByte == nullptr ||
      multiByteCount == 0 || multiByteCount < -1 || wideCount < 0 ||
      (wideCount > 0 && wide == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t count = InputLength(multiByte, multiByteCount);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  return Deliver(wide, wideCount,
                 [&](auto&& put) { return Decode(multiByte, count, strict, put); });
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount, LPSTR multiByte,
                        int multiByteCount, LPCCH defaultChar, LPBOOL usedDefaultChar) {
  if (codePage != CP_UTF8 || (flags & ~WC_ERR_INVALID_CHARS) != 0 || wide == nullptr ||
      wideCount == 0 || wideCount < -1 || multiByteCount < 0 ||
      (multiByteCount > 0 && multiByte == nullptr) || defaultChar != nullptr ||
      usedDefaultChar != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t count = InputLength(wide, wideCount);
  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  return Deliver(multiByte, multiByteCount,
                 [&](auto&& put) { return Encode(wide, count, strict, put); });
}

namespace standin {

std::wstring WideFromUtf8(const std::string& utf8) {
  std::wstring wide;
  Decode(utf8.data(), utf8.size(), false, [&wide](wchar_t unit) { wide += unit; });
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  std::string utf8;
  Encode(wide.data(), wide.size(), false, [&utf8](char unit) { utf8 += unit; });
  return utf8;
}

}  // namespace standin
