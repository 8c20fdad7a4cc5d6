// ser2net (a serial device server) in front of a pseudo-terminal, on free
// loopback ports: one raw TCP port and one RFC 2217 port, character delays off
// so that it forwards at once. Stopped with the object.
#pragma once
#include <string>
#include <sys/types.h>

class TempDir;

// A loopback port nobody listens on: bound once, then let go for a server to take.
int FreeLoopbackPort();
// Something accepts connections on 127.0.0.1:port.
bool LoopbackListening(int port);

class Ser2netServer {
public:
    // `device`: the pseudo-terminal (a link is followed), its configuration
    // file and pid file go into `dir`.
    Ser2netServer(const std::string& device, const TempDir& dir, int speed = 115200);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // Both ports accept connections (false: ser2net is missing or failed).
    bool Started() const { return started_; }
    std::string RawAddress() const { return "tcp://127.0.0.1:" + std::to_string(raw_); }
    std::string RfcAddress() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc_); }
    // ser2net lets the device go a little after a client leaves: wait before the next.
    static void LetGo();

private:
    int raw_ = 0, rfc_ = 0;
    bool started_ = false;
    pid_t server_ = -1;
};
