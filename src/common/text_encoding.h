// Conversions between wide strings and UTF-8, through the platform's own
// WideCharToMultiByte and MultiByteToWideChar. A wide string is UTF-16 where
// wchar_t has 16 bits (Windows) and UTF-32 where it has 32 (Linux). Invalid
// input (a lone surrogate, a malformed byte sequence) becomes U+FFFD. Both throw
// std::bad_alloc when memory runs out.
#pragma once

#include <string>
#include <string_view>

namespace velmoravad {

std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace velmoravad
