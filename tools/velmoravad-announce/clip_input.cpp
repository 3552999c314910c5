#include "velmoravad-announce/clip_input.h"

#include "velmoravad-announce/announce_report.h"
#include "velmoravad-announce/wav_header.h"
#include "common/output_format.h"
#include "common/text_encoding.h"

namespace velmoravad {

std::optional<ClipInput> OpenClipInput(const std::wstring& argument, bool raw,
                                       std::string& errorLine) {
  const bool standardInput = argument == kStandardInputArgument;
  ClipInput input;
  input.name = standardInput ? "standard input" : WideToUtf8(argument);
  auto source = standardInput ? std::make_unique<HandleByteSource>()
                              : std::make_unique<HandleByteSource>(argument);
  if (!source->IsOpen()) {
    errorLine = FormatOpenFailureLine(input.name, source->OpenError());
    return std::nullopt;
  }
  input.source = std::move(source);
  const std::optional<std::uint64_t> size = input.source->Size();
  if (raw) {
    input.reader = std::make_unique<ClipReader>(*input.source, kAnnouncementChannels, std::nullopt);
    if (size) input.frames = *size / kAnnouncementFrameBytes;
    return input;
  }
  const WavHeader header = ReadWavHeader(*input.source);
  if (!header.data) {
    errorLine = FormatInputProblemLine(input.name, standardInput, header.problem);
    return std::nullopt;
  }
  const WavData& data = *header.data;
  input.reader = std::make_unique<ClipReader>(*input.source, data.channels, data.bytes);
  const std::optional<std::uint64_t> bytes = data.bytes ? data.bytes
                                             : size     ? std::optional(*size - data.offset)
                                                        : std::nullopt;
  if (bytes) input.frames = *bytes / (data.channels * kBytesPerSample);
  return input;
}

}  // namespace velmoravad
