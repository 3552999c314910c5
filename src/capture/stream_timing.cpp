#include "capture/stream_timing.h"

namespace velmoravad {

StreamTiming StreamTimingFor(bool exclusive) {
  if (!exclusive) return {AUDCLNT_SHAREMODE_SHARED, 0, 0};
#if defined(VELMORAVAD_TEST_SHARED_MODE)
  // The exclusive stream's slack, in the mode the test's audio system has.
  return {AUDCLNT_SHAREMODE_SHARED, kExclusiveBufferDuration, 0};
#else
  return {AUDCLNT_SHAREMODE_EXCLUSIVE, kExclusiveBufferDuration, kExclusiveBufferDuration};
#endif
}

}  // namespace velmoravad
