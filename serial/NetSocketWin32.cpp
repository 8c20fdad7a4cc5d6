// NetSocket on Winsock. Winsock is started at the first connection and left
// running for the process's life.
#include "serial/NetSocket.h"

#include "base/PortAddress.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <string>

namespace NetSocket {

const int BadAddress = WSAEDESTADDRREQ;
const int HostUnknown = WSAHOST_NOT_FOUND;
const int TimeoutError = WSAETIMEDOUT;
const int ConnectionLost = WSAECONNRESET;

namespace {

SOCKET Sock(Handle socket) {
    return static_cast<SOCKET>(socket);
}

// ioctlsocket's commands, whose macros are unsigned where it takes a long.
const long NonBlockingCommand = static_cast<long>(FIONBIO);
const long PendingCommand = static_cast<long>(FIONREAD);

int StartWinsock() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data{};
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    return result;
}

// One select on one socket: >0 ready, 0 timed out, <0 failed.
int SelectOne(SOCKET s, bool write, int timeoutMs, bool* failed = nullptr) {
    fd_set ready, broken;
    FD_ZERO(&ready);
    FD_ZERO(&broken);
    FD_SET(s, &ready);
    FD_SET(s, &broken);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &broken, &limit);
    if (failed) *failed = n > 0 && FD_ISSET(s, &broken);
    return n == SOCKET_ERROR ? -1 : n;
}

// How a non-blocking connect in progress ended within `timeoutMs`: 0, or
// the error (a refusal shows as the socket's "exception").
int ConnectionResult(SOCKET s, int timeoutMs) {
    bool failed = false;
    const int n = SelectOne(s, true, timeoutMs, &failed);
    if (n == 0) return WSAETIMEDOUT;
    if (n < 0) return WSAGetLastError();
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return WSAGetLastError();
    if (failed && error == 0) error = WSAECONNREFUSED;
    return error;
}

long Result(int n, int& error) {
    error = 0;
    if (n != SOCKET_ERROR) return n;
    const int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK && code != WSAEINTR) error = code;
    return -1;
}

} // namespace

Handle Connect(const PortAddress& a, int timeoutMs, int& error) {
    if ((error = StartWinsock()) != 0) return -1;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(a.Host.c_str(), std::to_string(a.Port).c_str(), &hints, &found) != 0 || !found) {
        error = HostUnknown;
        return -1;
    }
    error = WSAECONNREFUSED;
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* ai = found; ai && s == INVALID_SOCKET; ai = ai->ai_next) {
        // Not inherited by programs this one starts.
        s = WSASocketW(ai->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            error = WSAGetLastError();
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, NonBlockingCommand, &nonBlocking);
        if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
            const int code = WSAGetLastError();
            error = code == WSAEWOULDBLOCK ? ConnectionResult(s, timeoutMs) : code;
            if (error != 0) {
                closesocket(s);
                s = INVALID_SOCKET;
            }
        }
    }
    freeaddrinfo(found);
    if (s == INVALID_SOCKET) return -1;
    error = 0;
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<Handle>(s);
}

void Close(Handle socket) {
    if (socket >= 0) closesocket(Sock(socket));
}

long Send(Handle socket, const void* bytes, std::size_t count, int& error) {
    return Result(send(Sock(socket), static_cast<const char*>(bytes), static_cast<int>(count), 0), error);
}

long Receive(Handle socket, void* bytes, std::size_t count, int& error) {
    return Result(recv(Sock(socket), static_cast<char*>(bytes), static_cast<int>(count), 0), error);
}

WaitResult Wait(Handle socket, bool write, int timeoutMs, int& error) {
    const int n = SelectOne(Sock(socket), write, timeoutMs);
    if (n < 0) {
        error = WSAGetLastError();
        return WaitResult::Failed;
    }
    return n == 0 ? WaitResult::TimedOut : WaitResult::Ready;
}

// Readable with nothing to read is the far end's close; a failed peek is a
// reset or a socket that is no more.
bool Closed(Handle socket) {
    bool failed = false;
    const int n = SelectOne(Sock(socket), false, 0, &failed);
    if (n < 0 || failed) return true;
    if (n == 0) return false;
    char byte = 0;
    const int peeked = recv(Sock(socket), &byte, 1, MSG_PEEK);
    return peeked == 0 || (peeked == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK);
}

int Pending(Handle socket) {
    u_long waiting = 0;
    if (ioctlsocket(Sock(socket), PendingCommand, &waiting) != 0) return 0;
    return static_cast<int>(waiting);
}

void AcknowledgeAtOnce(Handle) {}

} // namespace NetSocket
