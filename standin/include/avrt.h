// Linux stand-in for <avrt.h>: the multimedia class scheduler's thread
// registration. Linux has no such scheduler here; a registration is accepted
// and changes nothing.
#pragma once

#include <windows.h>

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex);
BOOL AvRevertMmThreadCharacteristics(HANDLE registration);
