// Standard output as the stream's writer sees it: switched to binary and
// unbuffered once, then one write per block. Each program's entry makes the
// platform's (the C runtime's stream); tests hand in one that records blocks.
//
// Threading: called from the main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace velmoravad {

class StandardOutput {
 public:
  // _setmode(_fileno(standard output), _O_BINARY): -1 on failure, with the
  // system's last error set.
  virtual int SetBinaryMode() = 0;
  // setvbuf(standard output, nullptr, _IONBF, 0).
  virtual void SetUnbuffered() = 0;
  // fwrite of `count` samples; the count of whole samples written, short when
  // the reader has gone.
  virtual std::size_t Write(const std::int16_t* samples, std::size_t count) = 0;

 protected:
  ~StandardOutput() = default;
};

// The C runtime's stream `output`. A call on a stream whose descriptor does not
// exist (a process started without one) fails or comes back short instead of
// ending the process.
class PlatformStandardOutput final : public StandardOutput {
 public:
  explicit PlatformStandardOutput(std::FILE* output) : output_(output) {}

  int SetBinaryMode() override;
  void SetUnbuffered() override;
  std::size_t Write(const std::int16_t* samples, std::size_t count) override;

 private:
  std::FILE* output_;
};

}  // namespace velmoravad
