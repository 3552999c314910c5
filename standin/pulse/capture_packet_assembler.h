// Turns the fragments of a PulseAudio record stream into capture packets of whole
// frames. A fragment that is a whole number of frames becomes one packet that
// points into the fragment itself; a hole (no data, only a length) becomes a
// silent packet of zeros. Should the stream ever hand out a fragment that ends
// inside a frame, its whole frames are copied into a packet and the partial
// frame waits for the next fragment, so no caller ever sees part of a frame.
// Touches no libpulse state: the record stream peeks and drops for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

class CapturePacketAssembler {
 public:
  // What the record stream does with the fragment it just offered.
  enum class FragmentUse {
    kDropNow,           // copied: drop it at once
    kDropAfterRelease,  // the packet points into it: drop it when the packet is released
  };

  explicit CapturePacketAssembler(std::size_t frameBytes);

  bool HasPacket() const { return frames_ > 0; }
  std::uint32_t PacketFrames() const { return frames_; }
  bool PacketIsSilent() const { return silent_; }
  // frames × frame size readable bytes, valid until Release; zeros when silent.
  const std::uint8_t* PacketData() const;

  // Offers the next fragment while there is no packet. `data` null is a hole of
  // `bytes` bytes. A fragment that completes no frame leaves HasPacket false.
  FragmentUse Offer(const void* data, std::size_t bytes);

  // Ends the packet. True when the stream must now drop the fragment it pointed into.
  bool Release();

 private:
  const std::size_t frameBytes_;
  std::uint32_t frames_ = 0;
  bool silent_ = false;
  const std::uint8_t* borrowed_ = nullptr;  // the peeked fragment, when not copied
  std::vector<std::uint8_t> copied_;        // the packet's bytes, when copied
  std::vector<std::uint8_t> partialFrame_;  // bytes of a frame still incomplete, < frameBytes_
};

}  // namespace standin
