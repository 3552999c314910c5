#include "velmoravad-endpoints/mix_format_text.h"

#include <cstdio>
#include <cstring>

#include "capture/co_task_mem_ptr.h"
#include "common/hresult.h"

namespace velmoravad {
namespace {

constexpr WORD kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

const WAVEFORMATEXTENSIBLE* AsExtensible(const WAVEFORMATEX& format) {
  if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || format.cbSize < kExtensibleExtraBytes) {
    return nullptr;
  }
  return reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(&format);
}

// The plain format tag of the samples. An extensible format's subtype for a
// plain tag is the PCM subtype with the tag in place of its first field.
WORD SampleFormatTag(const WAVEFORMATEX& format) {
  const WAVEFORMATEXTENSIBLE* extensible = AsExtensible(format);
  if (extensible == nullptr) return format.wFormatTag;
  const GUID& subtype = extensible->SubFormat;
  const GUID& pcm = KSDATAFORMAT_SUBTYPE_PCM;
  const bool plainTag = subtype.Data1 <= 0xFFFF && subtype.Data2 == pcm.Data2 &&
                        subtype.Data3 == pcm.Data3 &&
                        std::memcmp(subtype.Data4, pcm.Data4, sizeof pcm.Data4) == 0;
  return plainTag ? static_cast<WORD>(subtype.Data1) : WAVE_FORMAT_EXTENSIBLE;
}

std::string SampleKind(WORD tag) {
  if (tag == WAVE_FORMAT_PCM) return "PCM";
  if (tag == WAVE_FORMAT_IEEE_FLOAT) return "float";
  char text[sizeof "format 0x1234"];
  std::snprintf(text, sizeof text, "format 0x%04X", static_cast<unsigned>(tag));
  return text;
}

}  // namespace

std::string DescribeWaveFormat(const WAVEFORMATEX& format) {
  const WAVEFORMATEXTENSIBLE* extensible = AsExtensible(format);
  const WORD containerBits = format.wBitsPerSample;
  const WORD validBits = extensible != nullptr && extensible->Samples.wValidBitsPerSample != 0
                             ? extensible->Samples.wValidBitsPerSample
                             : containerBits;
  std::string text = std::to_string(validBits) + "-bit " + SampleKind(SampleFormatTag(format));
  if (validBits != containerBits) text += " in " + std::to_string(containerBits) + "-bit samples";
  text += ", " + std::to_string(format.nSamplesPerSec) + " Hz, " +
          std::to_string(format.nChannels) + (format.nChannels == 1 ? " channel" : " channels");
  return text;
}

std::string DescribeMixFormat(IAudioClient& audioClient) {
  CoTaskMemPtr<WAVEFORMATEX> mixFormat;
  const HRESULT result = audioClient.GetMixFormat(CoTaskMemOut<WAVEFORMATEX>(mixFormat).Address());
  if (Failed(result) || !mixFormat) return {};
  return DescribeWaveFormat(*mixFormat);
}

}  // namespace velmoravad
