#include "pulse/capture_packet_assembler.h"

namespace standin {

CapturePacketAssembler::CapturePacketAssembler(std::size_t frameBytes) : frameBytes_(frameBytes) {}

const std::uint8_t* CapturePacketAssembler::PacketData() const {
  return borrowed_ != nullptr ? borrowed_ : copied_.data();
}

CapturePacketAssembler::FragmentUse CapturePacketAssembler::Offer(const void* data,
                                                                  std::size_t bytes) {
  // Frame counts fit 32 bits: a fragment is bounded by the stream's maxlength,
  // itself a 32-bit byte count.
  const auto* bytesIn = static_cast<const std::uint8_t*>(data);
  if (partialFrame_.empty() && bytes % frameBytes_ == 0) {
    frames_ = static_cast<std::uint32_t>(bytes / frameBytes_);
    if (bytesIn != nullptr) {
      silent_ = false;
      borrowed_ = bytesIn;
      return frames_ > 0 ? FragmentUse::kDropAfterRelease : FragmentUse::kDropNow;
    }
    silent_ = true;
    copied_.assign(bytes, 0);
    return FragmentUse::kDropNow;
  }
  // Join the partial frame held back with this fragment (zeros for a hole), hand
  // out the whole frames and hold back what is left.
  std::vector<std::uint8_t> joined(std::move(partialFrame_));
  partialFrame_.clear();
  if (bytesIn != nullptr) {
    joined.insert(joined.end(), bytesIn, bytesIn + bytes);
  } else {
    joined.resize(joined.size() + bytes, 0);
  }
  const std::size_t wholeFrames = joined.size() / frameBytes_;
  const std::size_t wholeBytes = wholeFrames * frameBytes_;
  partialFrame_.assign(joined.begin() + static_cast<std::ptrdiff_t>(wholeBytes), joined.end());
  joined.resize(wholeBytes);
  copied_ = std::move(joined);
  frames_ = static_cast<std::uint32_t>(wholeFrames);
  silent_ = false;
  return FragmentUse::kDropNow;
}

bool CapturePacketAssembler::Release() {
  const bool dropBorrowed = borrowed_ != nullptr;
  frames_ = 0;
  silent_ = false;
  borrowed_ = nullptr;
  copied_.clear();
  return dropBorrowed;
}

}  // namespace standin
