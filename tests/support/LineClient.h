// A bare serial-line client on a device path (the simulator's PortPath): raw
// mode, byte-exact sends and receives with a time-out. Tests play the PC's
// side of a protocol with it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class LineClient {
public:
    explicit LineClient(const std::string& devicePath);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    void Send(const std::vector<std::uint8_t>& bytes);
    void Send(const std::string& hex); // "B0 5A 50"
    // Waits up to timeoutMs for `count` bytes (count < 0: whatever arrives
    // within timeoutMs).
    std::vector<std::uint8_t> Receive(int count, int timeoutMs = 2000);
    // Receive as "DD 01" hex.
    std::string ReceiveHex(int count, int timeoutMs = 2000);

    // True once the far end has closed the line.
    bool HungUp() const;

private:
    int fd_ = -1;
};

// Four bytes from `at` read as one big-endian number, as the meters send
// 32-bit registers.
inline std::uint32_t BigEndian32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) << 24 | static_cast<std::uint32_t>(d[at + 1]) << 16 |
           static_cast<std::uint32_t>(d[at + 2]) << 8 | d[at + 3];
}
