// The stand-in's own conversions between UTF-8 and wide strings, the same as
// MultiByteToWideChar and WideCharToMultiByte with CP_UTF8 make: for the
// stand-in's code, which speaks UTF-8 to Linux and wide strings to Windows
// callers. Both throw std::bad_alloc when memory runs out.
#pragma once

#include <string>

namespace standin {

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace standin
