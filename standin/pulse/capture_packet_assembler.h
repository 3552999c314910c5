// Turns the fragments of a PulseAudio record stream into capture packets of whole
// frames. Every fragment is copied, so that the record stream can drop it at
// once: a fragment still held is a block of the server's shared memory, and when
// the connection dies libpulse waits until every such block is given back, which
// would hang every later call. A hole (no data, only
// a length) becomes a silent packet of zeros. Should the stream ever hand out a
// fragment that ends inside a frame, the partial frame waits for the next
// fragment, so no caller ever sees part of a frame.
// Touches no libpulse state: the record stream peeks and drops for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

class CapturePacketAssembler {
 public:
  explicit CapturePacketAssembler(std::size_t frameBytes);

  bool HasPacket() const { return frames_ > 0; }
  std::uint32_t PacketFrames() const { return frames_; }
  bool PacketIsSilent() const { return silent_; }
  // frames × frame size readable bytes, valid until Release; zeros when silent.
  const std::uint8_t* PacketData() const { return packet_.data(); }

  // Offers the next fragment while there is no packet; the fragment is copied.
  // `data` null is a hole of `bytes` bytes. A fragment that completes no frame
  // leaves HasPacket false.
  void Offer(const void* data, std::size_t bytes);

  // Ends the packet.
  void Release();

 private:
  const std::size_t frameBytes_;
  std::uint32_t frames_ = 0;
  bool silent_ = false;
  std::vector<std::uint8_t> packet_;        // the packet's bytes
  std::vector<std::uint8_t> partialFrame_;  // bytes of a frame still incomplete, < frameBytes_
};

}  // namespace standin
