// The simulator's line offered on a TCP port, as a serial device server's
// raw mode offers a serial line: the bytes as they are, both ways, to one
// client at a time (a new client takes the line from the old one). Optionally
// each run of bytes is held a while each way, as a slow network holds it, and
// a client idle too long is dropped, as some servers do.
#pragma once
#include <atomic>
#include <string>
#include <thread>

namespace sim {

struct NetListenOptions {
    std::string host = "127.0.0.1"; // a numeric IPv4 or IPv6 address
    int port = 0;                   // 0: a free port, see NetListener::Port()
    int delayMs = 0;                // each way
    int speed = 115200;             // set on the line: a raw client cannot set it
    int idleCloseMs = 0;            // 0: never
};

class NetListener {
public:
    // Binds and listens; the line (a terminal device) is opened for each
    // client. Throws std::runtime_error when the address cannot be bound.
    NetListener(std::string device, const NetListenOptions& options);
    ~NetListener(); // Stop()
    NetListener(const NetListener&) = delete;
    NetListener& operator=(const NetListener&) = delete;

    int Port() const { return port_; }
    // "tcp://host:port", as the configurator takes it.
    std::string Address() const;
    void Start();
    void Stop();

private:
    void Run();

    std::string device_;
    NetListenOptions options_;
    int listen_ = -1, port_ = 0;
    int wake_[2] = {-1, -1}; // Stop() writes a byte to end poll()
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace sim
