// Any name and id: each status line that prints them is one line, always: a
// line break at its end and no other control character in it.
#include "driver/run_report.h"
#include "fuzz_input.h"

using velmoravad::fuzzing::Require;

namespace {

void RequireOneLine(const std::string& line) {
  Require(!line.empty() && line.back() == '\n');
  for (std::size_t index = 0; index + 1 < line.size(); ++index) {
    const auto byte = static_cast<unsigned char>(line[index]);
    Require(byte >= 0x20 && byte != 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::wstring> strings = velmoravad::fuzzing::WideStrings(data, size);
  velmoravad::CaptureEndpoint endpoint;
  endpoint.slot = size > 0 ? static_cast<std::int32_t>(data[0]) - 128 : 1;
  endpoint.channels = static_cast<std::uint16_t>(size);
  endpoint.friendlyName = strings.front();
  endpoint.endpointId = strings.size() > 1 ? strings[1] : L"";
  RequireOneLine(velmoravad::FormatApplicationEndpointLine(endpoint));
  RequireOneLine(velmoravad::FormatLiveInputLine(endpoint));
  return 0;
}
