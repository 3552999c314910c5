// The Windows headers of the Core Audio layer, in the order they need.
#pragma once

#include <windows.h>
// windows.h must come first.
#include <objbase.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <ksmedia.h>
#include <audioclient.h>
#include <avrt.h>
