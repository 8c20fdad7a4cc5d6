// A serial port whose far end plays a script, for the fuzz targets: no device,
// no waiting. Each read that finds nothing waiting takes the script's next
// event; writes are recorded; the time the real port would spend waiting is
// counted instead of spent.
//
// Script events, one control byte each:
//   00        silence: the read waiting for bytes times out
//   FF        hang-up: from now on every read and write fails (EIO)
//   FE k      the next write stops after k % 8 bytes with a time-out (a
//             shorter one goes out whole)
//   n (else)  n bytes arrive, taken from the script
// Once the script has ended the line stays silent.
#pragma once
#include "serial/Rs232.h"
#include "support/FuzzCheck.h"

#include <deque>
#include <string>
#include <vector>

class ScriptedPort : public Rs232Port {
public:
    ScriptedPort();

    // Starts afresh on a new script (nullptr: only Deliver brings bytes).
    void Reset(FuzzInput* script);
    // Bytes arrive at once, outside the script.
    void Deliver(const std::string& bytes);
    void HangUp() { hungUp_ = true; }

    void ReadBlock(void* buffer, int count, std::uint32_t& bytesRead) override;
    void WriteBlock(const void* buffer, std::uint32_t count, std::int32_t& bytesWritten) override;
    bool Purge() override;
    int InQueue() override;
    bool HungUp() const override { return hungUp_; }

    // The bytes of every WriteBlock call, in order, as asked (a write that
    // stopped early sent only the first of them).
    std::vector<std::string> Writes;
    int Reads = 0;
    int Purges = 0;
    int Timeouts = 0;
    // What the real port would have spent waiting, at the program's own
    // time constants: read and write time-outs and purge pauses.
    long long ElapsedMs = 0;

private:
    // Takes the next event; false when nothing arrives now.
    bool Arrive();
    bool Failed(int error);

    FuzzInput* script_ = nullptr;
    std::deque<std::uint8_t> queue_;
    bool hungUp_ = false;
    int failWriteAfter_ = -1;
};
