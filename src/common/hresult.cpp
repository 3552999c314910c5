#include "common/hresult.h"

#include <algorithm>
#include <cstdio>

namespace velmoravad {

FailureReport::FailureReport(std::string_view label, HRESULT result) {
  constexpr std::size_t kCodeRoom = sizeof(" failed: 0x12345678\n");
  const std::size_t labelLength = std::min(label.size(), text_.size() - kCodeRoom);
  std::copy_n(label.data(), labelLength, text_.data());
  const int written =
      std::snprintf(text_.data() + labelLength, text_.size() - labelLength, " failed: 0x%08lX\n",
                    static_cast<unsigned long>(static_cast<std::uint32_t>(result)));
  length_ = labelLength + static_cast<std::size_t>(std::max(written, 0));
}

}  // namespace velmoravad
