// PipeWriter on the Linux stand-in: a stream socket connected to the abstract name.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "announcement/pipe_writer.h"
#include "unique_fd.h"

namespace velmoravad::testing {

struct PipeWriter::Connection {
  standin::UniqueFd socket;
};

PipeWriter::PipeWriter() = default;
PipeWriter::PipeWriter(PipeWriter&&) noexcept = default;
PipeWriter& PipeWriter::operator=(PipeWriter&&) noexcept = default;
PipeWriter::~PipeWriter() = default;

bool PipeWriter::TryOpen() {
  standin::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsValid()) return false;
  static constexpr char kName[] = "VelmoraDSPAnnouncement";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, kName, sizeof(kName) - 1);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof(kName));
  if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
  connection_ = std::make_unique<Connection>(Connection{std::move(fd)});
  return true;
}

bool PipeWriter::IsOpen() const { return connection_ != nullptr; }

bool PipeWriter::Write(const void* bytes, std::size_t count) {
  if (!connection_) return false;
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t written = send(connection_->socket.Get(), next, count, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

void PipeWriter::Close() { connection_.reset(); }

}  // namespace velmoravad::testing
