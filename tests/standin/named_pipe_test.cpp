// The stand-in's named pipes on real abstract Unix-domain sockets.
#include "named_pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <future>
#include <string>
#include <ctime>

#include "unique_fd.h"

namespace standin {
namespace {

// A pipe name of this test program alone, so that runs in parallel do not meet.
std::wstring UniquePipeName(const char* purpose) {
  const std::string name = "standin-test-" + std::to_string(getpid()) + "-" + purpose;
  return L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end());
}

struct AbstractAddress {
  explicit AbstractAddress(const std::wstring& pipeName) {
    const std::string name = *SocketNameFromPipeName(pipeName.c_str());
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  }
  sockaddr_un address{};
  socklen_t length = 0;
};

// A writer's socket connected to the pipe, or an invalid one with errno set.
UniqueFd ConnectWriter(const AbstractAddress& pipe) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&pipe.address), pipe.length) != 0) {
    const int error = errno;
    fd.Close();
    errno = error;
  }
  return fd;
}

HANDLE CreatePipe(const std::wstring& name) {
  return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, 0, 1, 0, 192000, 0, nullptr);
}

TEST(StandinPipeName, TheSocketIsNamedAfterThePartFollowingThePipePrefix) {
  EXPECT_EQ(SocketNameFromPipeName(L"\\\\.\\pipe\\VelmoraDSPAnnouncement"),
            std::optional<std::string>("VelmoraDSPAnnouncement"));
  EXPECT_EQ(SocketNameFromPipeName(L"\\\\.\\pipe\\"), std::nullopt);
  EXPECT_EQ(SocketNameFromPipeName(L"VelmoraDSPAnnouncement"), std::nullopt);
  EXPECT_EQ(SocketNameFromPipeName(L"\\\\server\\pipe\\x"), std::nullopt);
  EXPECT_EQ(SocketNameFromPipeName(L"\\\\.\\pipe\\a b"), std::nullopt);
  EXPECT_EQ(SocketNameFromPipeName(L"\\\\.\\pipe\\caf\u00e9"), std::nullopt);
  EXPECT_EQ(SocketNameFromPipeName(nullptr), std::nullopt);
}

TEST(StandinPipeSecurity, OnlyOurOwnUidAndRootMayWrite) {
  EXPECT_TRUE(IsWriterAllowed(1000, 1000));
  EXPECT_TRUE(IsWriterAllowed(0, 1000));
  EXPECT_TRUE(IsWriterAllowed(0, 0));
  EXPECT_FALSE(IsWriterAllowed(1001, 1000));
  EXPECT_FALSE(IsWriterAllowed(65534, 0));
}

TEST(StandinPipe, AHeldNameFailsAsBusyUntilItsInstanceIsClosed) {
  const std::wstring name = UniquePipeName("busy");
  HANDLE first = CreatePipe(name);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(CreatePipe(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  EXPECT_TRUE(CloseHandle(first));
  HANDLE again = CreatePipe(name);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST(StandinPipe, RefusesWhatItDoesNotServe) {
  const std::wstring name = UniquePipeName("refuse");
  const LPCWSTR n = name.c_str();
  for (HANDLE pipe :
       {CreateNamedPipeW(n, PIPE_ACCESS_INBOUND | 0x40000000u, 0, 1, 0, 0, 0, nullptr),
        CreateNamedPipeW(n, 2 /* outbound */, 0, 1, 0, 0, 0, nullptr),
        CreateNamedPipeW(n, PIPE_ACCESS_INBOUND, 4 /* message */, 1, 0, 0, 0, nullptr),
        CreateNamedPipeW(n, PIPE_ACCESS_INBOUND, 0, 2, 0, 0, 0, nullptr),
        CreateNamedPipeW(L"\\\\.\\pipe\\", PIPE_ACCESS_INBOUND, 0, 1, 0, 0, 0, nullptr)}) {
    EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD bytesRead = 7;
  char buffer[4];
  EXPECT_FALSE(ConnectNamedPipe(event, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(event, buffer, sizeof(buffer), &bytesRead, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(bytesRead, 0u);
  CloseHandle(event);
}

TEST(StandinPipe, ServesOneWriterAndRefusesEveryOtherUntilClosed) {
  const std::wstring name = UniquePipeName("one-writer");
  const AbstractAddress address(name);
  HANDLE pipe = CreatePipe(name);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

  // The first writer connects before the server waits and fills the one place
  // in the queue; the next writer's connect waits for room.
  UniqueFd first = ConnectWriter(address);
  ASSERT_TRUE(first.IsValid());
  ASSERT_EQ(write(first.Get(), "abcde", 5), 5);
  auto second = std::async(std::launch::async, [&] {
    UniqueFd fd = ConnectWriter(address);
    return fd.IsValid() ? 0 : errno;
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);

  // Accepting the first refuses the waiting one rather than letting it in to be
  // dropped, and refuses any later one. The first connected before the wait,
  // which Windows reports as ERROR_PIPE_CONNECTED.
  SetLastError(ERROR_SUCCESS);
  ASSERT_FALSE(ConnectNamedPipe(pipe, nullptr));
  ASSERT_EQ(GetLastError(), ERROR_PIPE_CONNECTED);
  EXPECT_EQ(second.get(), ECONNREFUSED);
  EXPECT_FALSE(ConnectWriter(address).IsValid());
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_FALSE(ConnectNamedPipe(pipe, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PIPE_CONNECTED);

  char buffer[16] = {};
  DWORD bytesRead = 0;
  ASSERT_TRUE(ReadFile(pipe, buffer, 3, &bytesRead, nullptr));
  EXPECT_EQ(std::string(buffer, bytesRead), "abc");
  ASSERT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &bytesRead, nullptr));
  EXPECT_EQ(std::string(buffer, bytesRead), "de");
  // The end of the stream is a read of 0 bytes.
  first.Close();
  EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &bytesRead, nullptr));
  EXPECT_EQ(bytesRead, 0u);

  EXPECT_TRUE(DisconnectNamedPipe(pipe));
  EXPECT_FALSE(ReadFile(pipe, buffer, sizeof(buffer), &bytesRead, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PIPE_NOT_CONNECTED);
  // An instance serves one connection: the next writer needs a new one.
  EXPECT_FALSE(ConnectNamedPipe(pipe, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
  EXPECT_TRUE(CloseHandle(pipe));
}

TEST(StandinPipe, DisconnectingCutsTheWriterOff) {
  const std::wstring name = UniquePipeName("disconnect");
  const AbstractAddress address(name);
  HANDLE pipe = CreatePipe(name);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  UniqueFd writer = ConnectWriter(address);
  ASSERT_TRUE(writer.IsValid());
  ASSERT_FALSE(ConnectNamedPipe(pipe, nullptr));
  ASSERT_EQ(GetLastError(), ERROR_PIPE_CONNECTED);
  EXPECT_TRUE(DisconnectNamedPipe(pipe));
  EXPECT_EQ(send(writer.Get(), "x", 1, MSG_NOSIGNAL), -1);
  EXPECT_EQ(errno, EPIPE);
  CloseHandle(pipe);
}

// The writer's end as the announce tool uses it: CreateFileW, WaitNamedPipeW and
// WriteFile tell a missing instance from a busy one, as on Windows.
TEST(StandinPipeClient, TellsAnAbsentPipeFromABusyOneAndFailsWritesOnceTheReaderLeft) {
  const std::wstring name = UniquePipeName("client");
  const auto open = [&name] {
    return CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeW(name.c_str(), 1000));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // A name longer than any socket address is absent too.
  const std::wstring tooLong = name + std::wstring(200, L'x');
  EXPECT_EQ(CreateFileW(tooLong.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HANDLE pipe = CreatePipe(name);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WaitNamedPipeW(name.c_str(), 0));
  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE writer = open();
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // Busy while the first writer waits to be taken, and once it is connected.
  for (const bool connected : {false, true}) {
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE) << connected;
    EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY) << connected;
    EXPECT_FALSE(WaitNamedPipeW(name.c_str(), 20)) << connected;
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT) << connected;
    if (!connected) {
      EXPECT_FALSE(ConnectNamedPipe(pipe, nullptr));
    }
  }

  DWORD count = 0;
  ASSERT_TRUE(WriteFile(writer, "abcd", 4, &count, nullptr));
  EXPECT_EQ(count, 4u);
  char buffer[8] = {};
  ASSERT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "abcd");
  // A reader that left fails the write; the process is not ended by SIGPIPE.
  DisconnectNamedPipe(pipe);
  EXPECT_FALSE(WriteFile(writer, "e", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
  CloseHandle(writer);
  CloseHandle(pipe);
  EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(StandinFile, ReadsSeeksAndSizesAFileAndKnowsAPipeCannotSeek) {
  char directory[] = "/tmp/standin-file-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string file = std::string(directory) + "/data";
  const std::string fifo = std::string(directory) + "/fifo";
  {
    UniqueFd fd(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
    ASSERT_EQ(write(fd.Get(), "0123456789", 10), 10);
  }
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto openToRead = [](const std::string& path) {
    const std::wstring wide(path.begin(), path.end());
    return CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };

  HANDLE handle = openToRead(file);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(handle), FILE_TYPE_DISK);
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(handle, &size));
  EXPECT_EQ(size.QuadPart, 10);
  LARGE_INTEGER position{};
  position.QuadPart = 7;
  ASSERT_TRUE(SetFilePointerEx(handle, position, nullptr, FILE_BEGIN));
  char buffer[8] = {};
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof(buffer), &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "789");
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof(buffer), &count, nullptr));
  EXPECT_EQ(count, 0u) << "the end of a file is a read of 0 bytes";
  EXPECT_FALSE(WriteFile(handle, "x", 1, &count, nullptr));
  CloseHandle(handle);

  UniqueFd fifoWriter(open(fifo.c_str(), O_RDWR));  // Lets the reader's open return.
  handle = openToRead(fifo);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(handle), FILE_TYPE_PIPE);
  EXPECT_FALSE(SetFilePointerEx(handle, position, nullptr, FILE_BEGIN));
  CloseHandle(handle);

  for (const std::string& path : {std::string(directory), file + "-missing", file + "/inside"}) {
    EXPECT_EQ(openToRead(path), INVALID_HANDLE_VALUE) << path;
  }
  unlink(file.c_str());
  unlink(fifo.c_str());
  rmdir(directory);
}

std::atomic<DWORD> lastControlEvent{0xFFFF};
BOOL RecordControlEvent(DWORD event) {
  lastControlEvent = event;
  return TRUE;
}

TEST(StandinConsole, ControlEventsComeFromSigintAndSigterm) {
  ASSERT_TRUE(SetConsoleCtrlHandler(RecordControlEvent, TRUE));
  EXPECT_FALSE(SetConsoleCtrlHandler(RecordControlEvent, TRUE)) << "one routine at a time";
  raise(SIGINT);
  EXPECT_EQ(lastControlEvent, CTRL_C_EVENT);
  raise(SIGTERM);
  EXPECT_EQ(lastControlEvent, CTRL_CLOSE_EVENT);
  ASSERT_TRUE(SetConsoleCtrlHandler(RecordControlEvent, FALSE));
  EXPECT_EQ(signal(SIGINT, SIG_DFL), SIG_DFL) << "the previous action was not restored";

  // A handle is a console when it is a terminal.
  DWORD mode = 0;
  EXPECT_EQ(GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE,
            isatty(STDERR_FILENO) != 0);
}

// A writer running as another user is disconnected at once, and the instance
// goes on waiting for one of ours. Only root can be another user here.
TEST(StandinPipe, AWriterOfAnotherUserIsDisconnectedAndTheWaitGoesOn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a writer as another user";
  const std::wstring name = UniquePipeName("other-user");
  const AbstractAddress address(name);

  // The writer is forked before the pipe exists, so that it holds no copy of the
  // listening socket.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // As user "nobody": connect, then see whether the server hangs up (exit 0)
    // or keeps the connection open (exit 1).
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const timespec pause{0, 5000000};
    int attempts = 0;
    while (connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
      if (++attempts == 2000) _exit(3);
      nanosleep(&pause, nullptr);
    }
    const timeval patience{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    char byte;
    _exit(read(fd, &byte, 1) == 0 ? 0 : 1);
  }
  HANDLE pipe = CreatePipe(name);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  auto connected =
      std::async(std::launch::async, [pipe] { return ConnectNamedPipe(pipe, nullptr); });
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user's writer was not disconnected";
  EXPECT_EQ(connected.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  // Our own writer is let in; the refused one never was.
  UniqueFd writer;
  for (int attempt = 0; attempt < 1000 && !writer.IsValid(); ++attempt) {
    writer = ConnectWriter(address);
    if (!writer.IsValid()) usleep(5000);
  }
  ASSERT_TRUE(writer.IsValid());
  ASSERT_EQ(write(writer.Get(), "ok", 2), 2);
  EXPECT_TRUE(connected.get());
  char buffer[4] = {};
  DWORD bytesRead = 0;
  ASSERT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &bytesRead, nullptr));
  EXPECT_EQ(std::string(buffer, bytesRead), "ok");
  CloseHandle(pipe);
}

}  // namespace
}  // namespace standin
