// A pseudo-terminal pair: a real serial line for tests. The program opens the
// slave side as its port; the test (or the simulator) holds the master.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair();  // master in raw mode, non-blocking
    ~PtyPair(); // closes the master
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Writes all bytes to the master (they arrive at the slave).
    void Send(const std::vector<std::uint8_t>& bytes);
    // Reads what the slave side wrote, waiting up to timeoutMs for `count`
    // bytes (count < 0: whatever arrives within timeoutMs).
    std::vector<std::uint8_t> Receive(int count, int timeoutMs);
    // Closes the master: the slave sees the far end go away.
    void CloseMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};

// A temporary directory removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; } // with trailing '/'
    std::string File(const std::string& name) const { return path_ + name; }
    // ports/COM<n> -> target, as the configurator looks it up.
    void LinkCom(int portNumber, const std::string& target);
    std::string Read(const std::string& name) const;
    void Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

// Reads from a descriptor, waiting up to timeoutMs for `count` bytes
// (count < 0: whatever arrives within timeoutMs); stops when the far end goes.
std::vector<std::uint8_t> ReceiveFrom(int fd, int count, int timeoutMs);

// "B0 5A 50" style hex of bytes.
std::string Hex(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> Bytes(const std::string& hex);
// The two Modbus check bytes of a frame given as hex, as hex ("C5 CD").
std::string CheckOf(const std::string& hex);
// The frame with its check appended, as hex.
std::string Checked(const std::string& hex);
