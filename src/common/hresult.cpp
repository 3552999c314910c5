#include "common/hresult.h"

#include <cstdio>

namespace velmoravad {

std::string FormatFailureReport(std::string_view label, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(result)));
  std::string report(label);
  report += " failed: ";
  report += code;
  report += '\n';
  return report;
}

}  // namespace velmoravad
