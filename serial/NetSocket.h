// The few socket calls a network port needs, on BSD sockets (NetSocketPosix.cpp)
// or Winsock (NetSocketWin32.cpp): connect within a time, send and receive
// without blocking, wait for either, and look whether the far end has closed.
// The port's steps over them (the RFC 2217 negotiation, reads against a
// deadline, 0xFF doubled) are the same on both systems (Rs232Network.cpp).
// Errors are the system's codes (errno, or WSAGetLastError on Windows).
#pragma once
#include <cstddef>

struct PortAddress;

namespace NetSocket {

// A socket: a descriptor on POSIX, a SOCKET on Windows; -1 for none.
using Handle = long long;

extern const int BadAddress;     // the address is not one
extern const int HostUnknown;    // no address found for the host name
extern const int TimeoutError;   // a connection or a transfer did not finish in time
extern const int ConnectionLost; // the far end closed or reset the connection

// Connects to one of the host's addresses within `timeoutMs`: a
// non-blocking socket without Nagle's delay, with keep-alive; -1 with
// `error` set when none answered.
Handle Connect(const PortAddress& address, int timeoutMs, int& error);
void Close(Handle socket);

// What is there now, at most `count` bytes: >0 bytes moved, 0 the far end
// has closed (Receive only), -1 nothing now (`error` 0) or a failure
// (`error` set). Never blocks, never raises SIGPIPE.
long Send(Handle socket, const void* bytes, std::size_t count, int& error);
long Receive(Handle socket, void* bytes, std::size_t count, int& error);

enum class WaitResult { Ready, TimedOut, Failed };
// Waits up to `timeoutMs` until the socket can be written (`write`) or read
// (or has closed, or failed: the next call reports it).
WaitResult Wait(Handle socket, bool write, int timeoutMs, int& error);

// Whether the far end has closed or reset the connection, or the socket
// failed. Never blocks; bytes still waiting to be read do not count on
// Windows (they are read first).
bool Closed(Handle socket);
// Bytes waiting to be read; 0 when the query fails.
int Pending(Handle socket);
// Acknowledges received segments at once from now on (Linux only): a server
// that holds a small segment until the last one is acknowledged would wait
// for the delayed acknowledgement, some 40 ms, in every answer.
void AcknowledgeAtOnce(Handle socket);

} // namespace NetSocket
