// Named pipes on Linux. A pipe instance is a Unix-domain stream socket in the
// abstract namespace named after the part of the pipe name that follows
// "\\.\pipe\"; it vanishes with the process, as a pipe instance does.
//
//   CreateNamedPipeW     socket + bind + listen (room for one waiting writer);
//                        a name already held fails with ERROR_PIPE_BUSY
//   ConnectNamedPipe     accepts one writer and closes the listening socket so
//                        that a second writer is refused, as with one instance;
//                        a writer that connected before the call is taken at
//                        once and reported as on Windows: FALSE, ERROR_PIPE_CONNECTED;
//                        a writer of another uid than ours or root is disconnected
//                        at once and the wait goes on
//   ReadFile             reads up to the asked count; at the end of the stream it
//                        succeeds with 0 bytes
//   DisconnectNamedPipe  closes the connection
//   CloseHandle          closes whatever is left and frees the name
//
// Only what the program asks for is served: an inbound, byte-mode, blocking pipe
// of one instance, without overlapped I/O or security attributes. An instance
// serves one connection; the next writer needs a new instance.
//
// The writer's end:
//   CreateFileW          connects a stream socket to the name; ERROR_FILE_NOT_FOUND
//                        when no instance holds it, ERROR_PIPE_BUSY when its
//                        instance has a writer (connected or waiting to be taken)
//   WriteFile            sends every byte; ERROR_NO_DATA once the reader has gone
//   WaitNamedPipeW       polls the sockets of the network namespace
//                        (/proc/self/net/unix) until the name has a free instance
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <windows.h>

#include <optional>
#include <string>

namespace standin {

// The abstract socket name for a pipe name ("\\.\pipe\<name>"), without the
// leading NUL; nothing for a name outside "\\.\pipe\" or one that is not
// printable ASCII.
std::optional<std::string> SocketNameFromPipeName(LPCWSTR pipeName);

// The address of the abstract socket `name`, and its length; false with errno
// EINVAL for a name too long for any address.
bool AbstractAddress(const std::string& name, sockaddr_un& address, socklen_t& length);

// Windows' default pipe security lets only the owner and administrators write:
// a writer is let in when its uid is ours or root's.
bool IsWriterAllowed(uid_t writerUid, uid_t ownUid);

// The writer's end of the pipe whose socket is named `socketName`, for CreateFileW.
HANDLE OpenPipeClient(const std::string& socketName, DWORD desiredAccess);

}  // namespace standin
