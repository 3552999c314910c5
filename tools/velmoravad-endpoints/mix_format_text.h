// A wave format in words, as the check shows an endpoint's own mix format when
// the endpoint refuses the requested one: "32-bit float, 44100 Hz, 2 channels".
#pragma once

#include "capture/core_audio.h"

#include <string>

namespace velmoravad {

std::string DescribeWaveFormat(const WAVEFORMATEX& format);

// The audio client's mix format in words; empty when it cannot be read.
std::string DescribeMixFormat(IAudioClient& audioClient);

}  // namespace velmoravad
