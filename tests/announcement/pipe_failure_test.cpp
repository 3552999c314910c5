// Every pipe call of the server failing in turn. Two writers are served one
// after the other through a scripted pipe system; then the same again with call
// k failing, for every k. Pipe failures are never reported: a failed creation
// is tried again after the pause, a failed wait drops that writer, a failed
// read ends that writer's connection, a failed disconnect changes nothing. The
// queue must hold exactly the whole frames that got through, in order.
#include "announcement/announcement_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace velmoravad {
namespace {

// Frame n of writer w: (w * 1000 + n, -(w * 1000 + n)).
std::vector<std::uint8_t> WriterBytes(int writer, int frames, std::size_t extraBytes) {
  std::vector<std::uint8_t> bytes;
  for (int frame = 0; frame < frames; ++frame) {
    for (const int sample : {writer * 1000 + frame, -(writer * 1000 + frame)}) {
      const auto bits = static_cast<std::uint16_t>(sample);
      bytes.push_back(static_cast<std::uint8_t>(bits & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
  }
  bytes.resize(bytes.size() + extraBytes, 0x55);  // a frame the writer leaves unfinished
  return bytes;
}

enum class PipeCall { kCreateNamedPipe, kConnectNamedPipe, kReadFile, kDisconnectNamedPipe };

const char* PipeCallName(PipeCall call) {
  switch (call) {
    case PipeCall::kCreateNamedPipe:
      return "CreateNamedPipe";
    case PipeCall::kConnectNamedPipe:
      return "ConnectNamedPipe";
    case PipeCall::kReadFile:
      return "ReadFile";
    case PipeCall::kDisconnectNamedPipe:
      return "DisconnectNamedPipe";
  }
  return "?";
}

// Writers that connect one after another, each sending its bytes in reads of
// the given sizes; call number `failCall` (from 1) fails.
class ScriptedPipes final : public PipeSystem {
 public:
  struct Writer {
    std::vector<std::uint8_t> bytes;
    std::deque<std::size_t> reads;
    std::size_t delivered = 0;  // bytes handed to the server
  };

  HANDLE CreateNamedPipe(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                         LPSECURITY_ATTRIBUTES) override {
    if (Fails(PipeCall::kCreateNamedPipe, ERROR_PIPE_BUSY)) return INVALID_HANDLE_VALUE;
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);  // a real handle to close
  }
  // The next writer connects; a failed wait loses it.
  BOOL ConnectNamedPipe(HANDLE) override {
    if (Fails(PipeCall::kConnectNamedPipe, ERROR_NO_DATA)) {
      if (!writers.empty()) writers.pop_front();
      return FALSE;
    }
    if (writers.empty()) {
      SetLastError(ERROR_NO_DATA);
      return FALSE;
    }
    served.push_back(std::move(writers.front()));
    writers.pop_front();
    return TRUE;
  }
  BOOL ReadFile(HANDLE, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) override {
    *bytesRead = 0;
    if (Fails(PipeCall::kReadFile, ERROR_BROKEN_PIPE)) return FALSE;
    Writer& writer = served.back();
    if (writer.reads.empty()) return TRUE;  // the writer closed its end
    const std::size_t size = std::min<std::size_t>(
        {writer.reads.front(), bytesToRead, writer.bytes.size() - writer.delivered});
    writer.reads.pop_front();
    std::copy_n(writer.bytes.begin() + static_cast<std::ptrdiff_t>(writer.delivered), size,
                static_cast<std::uint8_t*>(buffer));
    writer.delivered += size;
    *bytesRead = static_cast<DWORD>(size);
    return TRUE;
  }
  BOOL DisconnectNamedPipe(HANDLE) override {
    return !Fails(PipeCall::kDisconnectNamedPipe, ERROR_PIPE_NOT_CONNECTED);
  }
  void Sleep(DWORD milliseconds) override { pauses.push_back(milliseconds); }

  std::deque<Writer> writers;  // still to connect
  std::vector<Writer> served;  // connected, with what each delivered
  std::vector<PipeCall> calls;
  std::vector<DWORD> pauses;
  std::size_t failCall = 0;

 private:
  bool Fails(PipeCall call, DWORD error) {
    calls.push_back(call);
    if (calls.size() != failCall) return false;
    SetLastError(error);
    return true;
  }
};

struct Served {
  std::vector<std::int16_t> frames;
  ScriptedPipes pipes;
};

void Serve(Served& served, std::size_t failCall) {
  served.pipes.failCall = failCall;
  // Reads that end inside samples and frames; the first writer leaves half a frame.
  served.pipes.writers.push_back({WriterBytes(1, 300, 2), {7, 1000, 1, 193, 1}, 0});
  served.pipes.writers.push_back({WriterBytes(2, 200, 0), {500, 1, 299}, 0});
  AnnouncementSource source(served.pipes);
  for (int connection = 0; connection < 2; ++connection) {
    source.ServeConnection(source.CreatePipeInstance());
  }
  served.frames.resize(1000 * 2);
  served.frames.resize(source.TakeFrames(served.frames.data(), 1000, 2) * 2);
}

// The frames a writer got through: as many whole frames as its delivered bytes hold.
std::vector<std::int16_t> FramesDelivered(const ScriptedPipes::Writer& writer) {
  std::vector<std::int16_t> frames;
  for (std::size_t byte = 0; byte < writer.delivered / 4 * 4; byte += 2) {
    frames.push_back(static_cast<std::int16_t>(writer.bytes[byte] | (writer.bytes[byte + 1] << 8)));
  }
  return frames;
}

TEST(AnnouncementPipeFailures, EveryPipeCallFailingInTurnLosesOnlyWhatItMust) {
  Served clean;
  Serve(clean, 0);
  ASSERT_EQ(clean.frames.size(), (300 + 200) * 2u);
  ASSERT_GT(clean.pipes.calls.size(), 10u);
  RecordProperty("injected_pipe_calls", static_cast<int>(clean.pipes.calls.size()));

  for (std::size_t k = 1; k <= clean.pipes.calls.size(); ++k) {
    Served failing;
    Serve(failing, k);
    const PipeCall call = clean.pipes.calls[k - 1];
    const char* name = PipeCallName(call);
    std::vector<std::int16_t> expected;
    for (const ScriptedPipes::Writer& writer : failing.pipes.served) {
      const std::vector<std::int16_t> delivered = FramesDelivered(writer);
      expected.insert(expected.end(), delivered.begin(), delivered.end());
    }
    EXPECT_EQ(failing.frames, expected) << "call " << k << " " << name;
    if (call == PipeCall::kCreateNamedPipe) {
      EXPECT_EQ(failing.pipes.pauses, std::vector<DWORD>{1000}) << "call " << k;
    }
    if (call == PipeCall::kCreateNamedPipe || call == PipeCall::kDisconnectNamedPipe) {
      EXPECT_EQ(failing.frames, clean.frames) << "call " << k << " " << name;
    }
  }
}

}  // namespace
}  // namespace velmoravad
