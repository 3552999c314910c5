// Linux stand-in for the C runtime's file-mode calls. Linux streams have no
// text mode, so switching to binary always succeeds.
#pragma once

#include <cstdio>

constexpr int _O_TEXT = 0x4000;
constexpr int _O_BINARY = 0x8000;

inline int _fileno(std::FILE* stream) { return ::fileno(stream); }
inline int _setmode(int /*descriptor*/, int /*mode*/) { return _O_TEXT; }
