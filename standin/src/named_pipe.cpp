// Named pipe instances as abstract Unix-domain stream sockets; see named_pipe.h.
#include "named_pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "byte_stream.h"
#include "last_error.h"
#include "unique_fd.h"

namespace {

constexpr std::wstring_view kPipeNamePrefix = L"\\\\.\\pipe\\";

using standin::FailWith;

class PipeInstance final : public standin::ByteStream {
 public:
  PipeInstance(std::string socketName, DWORD inBufferSize, standin::UniqueFd listening)
      : socketName_(std::move(socketName)),
        inBufferSize_(inBufferSize),
        listening_(std::move(listening)) {}

  BOOL Read(LPVOID buffer, DWORD count, DWORD& done) override {
    if (!connection_.IsValid()) return FailWith(ERROR_PIPE_NOT_CONNECTED);
    return standin::ReadDescriptor(connection_.Get(), buffer, count, done);
  }

  const std::string socketName_;
  const DWORD inBufferSize_;
  // Listening until a writer is accepted; then connected until disconnected.
  standin::UniqueFd listening_;
  standin::UniqueFd connection_;
};

PipeInstance* PipeFromHandle(HANDLE handle) {
  return dynamic_cast<PipeInstance*>(standin::ObjectFromHandle(handle));
}

bool BindAbstract(int fd, const std::string& name) {
  sockaddr_un address{};
  socklen_t length = 0;
  return standin::AbstractAddress(name, address, length) &&
         bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

// A listening socket on the abstract name, or an invalid one with errno set
// (EADDRINUSE when the name is served already).
standin::UniqueFd Listen(const std::string& socketName, DWORD inBufferSize) {
  standin::UniqueFd listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listening.IsValid()) return listening;
  if (inBufferSize > 0) {
    // Accepted connections inherit the receive buffer; the kernel may round it.
    const int size = static_cast<int>(inBufferSize);
    setsockopt(listening.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
  }
  // A backlog of 0 leaves room for exactly one writer waiting to be accepted; a
  // further writer's connect waits for room.
  if (!BindAbstract(listening.Get(), socketName) || listen(listening.Get(), 0) != 0) {
    const int error = errno;
    listening.Close();
    errno = error;
  }
  return listening;
}

// Whether a writer waits to be accepted on `listening`: at once when `timeout`
// is 0, otherwise blocking until one does (-1) or the wait fails (false, errno).
bool HasPendingWriter(int listening, int timeout) {
  pollfd waiting{listening, POLLIN, 0};
  for (;;) {
    const int ready = poll(&waiting, 1, timeout);
    if (ready >= 0) return ready == 1;
    if (errno != EINTR) return false;
  }
}

bool IsPeerAllowed(int connection) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  return standin::IsWriterAllowed(credentials.uid, geteuid());
}

}  // namespace

namespace standin {

bool AbstractAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof(address.sun_path)) {
    errno = EINVAL;
    return false;
  }
  // The abstract name is a NUL followed by the name, with no terminator; the
  // address length marks its end.
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

std::optional<std::string> SocketNameFromPipeName(LPCWSTR pipeName) {
  if (pipeName == nullptr) return std::nullopt;
  const std::wstring_view name(pipeName);
  if (name.size() <= kPipeNamePrefix.size() ||
      name.substr(0, kPipeNamePrefix.size()) != kPipeNamePrefix) {
    return std::nullopt;
  }
  std::string socketName;
  for (const wchar_t character : name.substr(kPipeNamePrefix.size())) {
    if (character < 0x21 || character > 0x7E || character == L'\\') return std::nullopt;
    socketName.push_back(static_cast<char>(character));
  }
  return socketName;
}

bool IsWriterAllowed(uid_t writerUid, uid_t ownUid) {
  return writerUid == ownUid || writerUid == 0;
}

}  // namespace standin

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                        DWORD /*outBufferSize*/, DWORD inBufferSize, DWORD /*defaultTimeOut*/,
                        LPSECURITY_ATTRIBUTES securityAttributes) {
  std::optional<std::string> socketName = standin::SocketNameFromPipeName(name);
  if (!socketName || openMode != PIPE_ACCESS_INBOUND || pipeMode != 0 || maxInstances != 1 ||
      securityAttributes != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  standin::UniqueFd listening = Listen(*socketName, inBufferSize);
  if (!listening.IsValid()) {
    standin::SetLastErrorFromErrno();  // EADDRINUSE gives ERROR_PIPE_BUSY, as on Windows.
    return INVALID_HANDLE_VALUE;
  }
  auto* pipe =
      new (std::nothrow) PipeInstance(std::move(*socketName), inBufferSize, std::move(listening));
  if (pipe == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<standin::KernelObject*>(pipe);
}

BOOL ConnectNamedPipe(HANDLE handle, LPOVERLAPPED overlapped) {
  PipeInstance* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (pipe->connection_.IsValid()) return FailWith(ERROR_PIPE_CONNECTED);
  // A writer that connected between the creation of the instance and this call
  // is taken at once and reported as Windows does: FALSE, ERROR_PIPE_CONNECTED.
  bool connectedBeforeTheWait =
      pipe->listening_.IsValid() && HasPendingWriter(pipe->listening_.Get(), 0);
  for (;;) {
    if (!pipe->listening_.IsValid()) return FailWith(ERROR_NO_DATA);
    if (!connectedBeforeTheWait && !HasPendingWriter(pipe->listening_.Get(), -1)) {
      standin::SetLastErrorFromErrno();
      return FALSE;
    }
    // Shut the listening socket for new writers before taking the waiting one:
    // a writer that tries now, or was waiting for room, is refused at once
    // instead of slipping into the queue and being dropped when it closes.
    shutdown(pipe->listening_.Get(), SHUT_RD);
    standin::UniqueFd connection(accept4(pipe->listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    pipe->listening_.Close();
    if (connection.IsValid() && IsPeerAllowed(connection.Get())) {
      pipe->connection_ = std::move(connection);
      return connectedBeforeTheWait ? FailWith(ERROR_PIPE_CONNECTED) : TRUE;
    }
    connection.Close();  // A refused writer is disconnected at once; listen again.
    connectedBeforeTheWait = false;
    pipe->listening_ = Listen(pipe->socketName_, pipe->inBufferSize_);
    if (!pipe->listening_.IsValid()) {
      standin::SetLastErrorFromErrno();
      return FALSE;
    }
  }
}

BOOL DisconnectNamedPipe(HANDLE handle) {
  PipeInstance* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (!pipe->connection_.IsValid()) return FailWith(ERROR_PIPE_NOT_CONNECTED);
  pipe->connection_.Close();
  return TRUE;
}
