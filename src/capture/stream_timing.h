// Share mode and buffer timing of a capture stream. The application endpoints
// are opened exclusive with 100 ms buffers, the live input shared with the
// system's own timing.
//
// A test build (CMake option VELMORAVAD_TEST_SHARED_MODE) opens the application
// endpoints in shared mode with the same 100 ms buffer instead, so that the
// program streams on audio systems that have no exclusive capture (Wine); such
// a build is for tests only and is never shipped.
//
// Threading and lifetime: a pure function of its argument.
#pragma once

#include "capture/core_audio.h"

namespace velmoravad {

// Buffer duration and periodicity of an exclusive-mode stream, in 100-ns units.
inline constexpr REFERENCE_TIME kExclusiveBufferDuration = 1000000;

struct StreamTiming {
  AUDCLNT_SHAREMODE shareMode = AUDCLNT_SHAREMODE_SHARED;
  REFERENCE_TIME bufferDuration = 0;  // 100-ns units; 0: the system's choice
  REFERENCE_TIME periodicity = 0;     // 100-ns units; 0: the system's choice
};

// Whether this is the shared-mode test build.
#if defined(VELMORAVAD_TEST_SHARED_MODE)
inline constexpr bool kTestSharedModeBuild = true;
#else
inline constexpr bool kTestSharedModeBuild = false;
#endif

// The timing of a stream that `exclusive` asks for: exclusive, or shared. With
// `testSharedMode` (the test build's), an exclusive stream is shared instead,
// with the exclusive stream's buffer.
StreamTiming StreamTimingFor(bool exclusive, bool testSharedMode = kTestSharedModeBuild);

}  // namespace velmoravad
