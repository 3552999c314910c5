// Linux stand-in for the system timer resolution calls. Linux sleeps are precise
// already, so raising the resolution changes nothing and always succeeds.
#pragma once

#include <windows.h>

using MMRESULT = UINT;
constexpr MMRESULT TIMERR_NOERROR = 0;

inline MMRESULT timeBeginPeriod(UINT /*period*/) { return TIMERR_NOERROR; }
inline MMRESULT timeEndPeriod(UINT /*period*/) { return TIMERR_NOERROR; }
