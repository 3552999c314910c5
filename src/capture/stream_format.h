// The one stream format the program asks of every endpoint: 16-bit PCM at
// 48000 frames per second with the endpoint's own channel count.
#pragma once

#include "capture/core_audio.h"
#include "common/output_format.h"

#include <cstdint>

namespace velmoravad {

WAVEFORMATEXTENSIBLE BuildRequestedFormat(std::uint16_t channels);

}  // namespace velmoravad
