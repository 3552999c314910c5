#include "capture/stream_timing.h"

namespace velmoravad {

StreamTiming StreamTimingFor(bool exclusive, bool testSharedMode) {
  if (!exclusive) return {AUDCLNT_SHAREMODE_SHARED, 0, 0};
  // The exclusive stream's slack, in the mode the test's audio system has.
  if (testSharedMode) return {AUDCLNT_SHAREMODE_SHARED, kExclusiveBufferDuration, 0};
  return {AUDCLNT_SHAREMODE_EXCLUSIVE, kExclusiveBufferDuration, kExclusiveBufferDuration};
}

}  // namespace velmoravad
