// The format of the output stream, in one place for the run, the capture side,
// the announcement source, the stand-in and the tools: signed 16-bit
// little-endian PCM at 48000 frames per second, written as one block of 480
// frames every 10 ms; the last two channels of every frame come from the
// announcement pipe, whose byte stream is 4-byte frames of those two channels.
// Platform-free: nothing here includes a Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmoravad {

inline constexpr std::uint32_t kFramesPerSecond = 48000;
inline constexpr std::uint32_t kFramesPerTick = 480;
inline constexpr std::uint32_t kTickMilliseconds = 10;
inline constexpr std::uint16_t kBitsPerSample = 16;
inline constexpr std::size_t kBytesPerSample = kBitsPerSample / 8;

// The named pipe that carries the announcement channels, served by the
// aggregator and written by the announce tool.
inline constexpr wchar_t kAnnouncementPipeName[] = L"\\\\.\\pipe\\VelmoraDSPAnnouncement";
inline constexpr std::uint32_t kAnnouncementChannels = 2;
// One frame of the announcement pipe, in bytes: first channel, then second.
inline constexpr std::size_t kAnnouncementFrameBytes = kAnnouncementChannels * kBytesPerSample;

static_assert(std::uint64_t{kFramesPerTick} * 1000 ==
                  std::uint64_t{kFramesPerSecond} * kTickMilliseconds,
              "a tick holds exactly its share of a second");

}  // namespace velmoravad
