#include "pulse/capture_packet_assembler.h"

namespace standin {

CapturePacketAssembler::CapturePacketAssembler(std::size_t frameBytes) : frameBytes_(frameBytes) {}

void CapturePacketAssembler::Offer(const void* data, std::size_t bytes) {
  // The packet is the partial frame held back, then this fragment (zeros for a
  // hole); its whole frames are handed out and what is left is held back.
  // Frame counts fit 32 bits: a fragment is bounded by the stream's maxlength,
  // itself a 32-bit byte count.
  const auto* bytesIn = static_cast<const std::uint8_t*>(data);
  silent_ = bytesIn == nullptr && partialFrame_.empty();
  packet_.swap(partialFrame_);
  partialFrame_.clear();
  if (bytesIn != nullptr) {
    packet_.insert(packet_.end(), bytesIn, bytesIn + bytes);
  } else {
    packet_.resize(packet_.size() + bytes, 0);
  }
  const std::size_t wholeBytes = packet_.size() / frameBytes_ * frameBytes_;
  partialFrame_.assign(packet_.begin() + static_cast<std::ptrdiff_t>(wholeBytes), packet_.end());
  packet_.resize(wholeBytes);
  frames_ = static_cast<std::uint32_t>(wholeBytes / frameBytes_);
  if (frames_ == 0) silent_ = false;
}

void CapturePacketAssembler::Release() {
  frames_ = 0;
  silent_ = false;
  packet_.clear();
}

}  // namespace standin
