// The writer's end of a named pipe: a stream socket connected to the abstract
// name of the pipe instance; see named_pipe.h.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <new>
#include <sstream>
#include <thread>
#include <utility>

#include "byte_stream.h"
#include "last_error.h"
#include "named_pipe.h"
#include "unique_fd.h"

namespace {

using standin::FailWith;

// Flag of a listening socket in /proc/net/unix (__SO_ACCEPTCON).
constexpr unsigned long kListeningFlag = 0x10000;
// Windows' default for NMPWAIT_USE_DEFAULT_WAIT on a pipe created with time-out 0.
constexpr DWORD kDefaultWaitMilliseconds = 50;
constexpr auto kWaitPollPeriod = std::chrono::milliseconds(5);

class PipeClient final : public standin::ByteStream {
 public:
  explicit PipeClient(standin::UniqueFd socket) : socket_(std::move(socket)) {}

  // Blocks until every byte is handed over. A reader that went away fails the
  // write with ERROR_NO_DATA, as on Windows, instead of raising SIGPIPE.
  BOOL Write(LPCVOID buffer, DWORD count, DWORD& done) override {
    const auto* next = static_cast<const char*>(buffer);
    while (done < count) {
      const ssize_t sent = send(socket_.Get(), next + done, count - done, MSG_NOSIGNAL);
      if (sent >= 0) {
        done += static_cast<DWORD>(sent);
      } else if (errno == EPIPE || errno == ECONNRESET) {
        return FailWith(ERROR_NO_DATA);
      } else if (errno != EINTR) {
        standin::SetLastErrorFromErrno();
        return FALSE;
      }
    }
    return TRUE;
  }

 private:
  standin::UniqueFd socket_;
};

enum class NameState {
  kAbsent,     // no instance: nothing holds the name
  kListening,  // an instance waits for a writer, and none is waiting to be taken
  kBusy,       // a writer is connected, or waits to be taken
};

// What holds the abstract name, from the sockets of our network namespace. An
// accepted connection keeps the name of the socket that accepted it.
NameState ProbeName(const std::string& socketName) {
  std::ifstream table("/proc/self/net/unix");
  const std::string path = "@" + socketName;
  bool listening = false;
  bool other = false;
  std::string line;
  std::getline(table, line);  // The column titles.
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, referenceCount, protocol, flags, type, state, inode, name;
    if (!(fields >> slot >> referenceCount >> protocol >> flags >> type >> state >> inode >>
          name) ||
        name != path) {
      continue;
    }
    const bool isListening = (std::stoul(flags, nullptr, 16) & kListeningFlag) != 0;
    (isListening ? listening : other) = true;
  }
  if (other) return NameState::kBusy;
  return listening ? NameState::kListening : NameState::kAbsent;
}

bool ConnectAbstract(int fd, const std::string& name) {
  sockaddr_un address{};
  socklen_t length = 0;
  return standin::AbstractAddress(name, address, length) &&
         connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

}  // namespace

namespace standin {

HANDLE OpenPipeClient(const std::string& socketName, DWORD desiredAccess) {
  // The program's pipes are inbound: a client may only write.
  if (desiredAccess != GENERIC_WRITE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // Non-blocking, so that a full queue of waiting writers is busy at once
  // rather than a connect that waits for room.
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.IsValid()) {
    SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (!ConnectAbstract(socket.Get(), socketName)) {
    // Refused: nothing holds the name, or its one instance is taken.
    const bool taken = errno == EAGAIN || ProbeName(socketName) != NameState::kAbsent;
    SetLastError(taken ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  fcntl(socket.Get(), F_SETFL, fcntl(socket.Get(), F_GETFL) & ~O_NONBLOCK);
  auto* client = new (std::nothrow) PipeClient(std::move(socket));
  if (client == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<KernelObject*>(client);
}

}  // namespace standin

BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeOut) {
  const std::optional<std::string> socketName = standin::SocketNameFromPipeName(name);
  if (!socketName) return FailWith(ERROR_BAD_PATHNAME);
  const DWORD milliseconds =
      timeOut == NMPWAIT_USE_DEFAULT_WAIT ? kDefaultWaitMilliseconds : timeOut;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    switch (ProbeName(*socketName)) {
      case NameState::kAbsent:
        return FailWith(ERROR_FILE_NOT_FOUND);
      case NameState::kListening:
        return TRUE;
      case NameState::kBusy:
        break;
    }
    if (timeOut != NMPWAIT_WAIT_FOREVER && std::chrono::steady_clock::now() >= deadline) {
      return FailWith(ERROR_SEM_TIMEOUT);
    }
    std::this_thread::sleep_for(kWaitPollPeriod);
  }
}
