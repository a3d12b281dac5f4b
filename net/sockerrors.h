#pragma once
// Socket error numbers and their texts. Failures carry the Windows Sockets
// error number, so that a Linux copy reports exactly what a Windows copy
// would ("10061:Connection refused").

#include <string>

namespace dz::net {

constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAECONNREFUSED = 10061;

// "" for 0; "<n>:<text>" for a number of the table; "Unknown Error No. <n>" otherwise.
std::string SocketErrorText(unsigned number);

// The Windows Sockets number for a POSIX errno value. Would-block and a
// connect in progress are both 10035, as on an asynchronous Windows socket.
int WsaErrorFromErrno(int err);

// The number of the last failed socket call on the calling thread.
int WSAGetLastError();
void WSASetLastError(int number);

} // namespace dz::net
