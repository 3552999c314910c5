#include "driver/standard_output.h"

#include <fcntl.h>
#include <io.h>

#include "driver/invalid_parameter_scope.h"

namespace velmoravad {

int PlatformStandardOutput::SetBinaryMode() {
  const InvalidParameterScope failInsteadOfEnding;
  return _setmode(_fileno(output_), _O_BINARY);
}

void PlatformStandardOutput::SetUnbuffered() {
  const InvalidParameterScope failInsteadOfEnding;
  std::setvbuf(output_, nullptr, _IONBF, 0);
}

std::size_t PlatformStandardOutput::Write(const std::int16_t* samples, std::size_t count) {
  const InvalidParameterScope failInsteadOfEnding;
  return std::fwrite(samples, sizeof(std::int16_t), count, output_);
}

}  // namespace velmoravad
