// A scripted far end on the master side of a pseudo-terminal, run in a
// thread: it expects given bytes, answers given bytes, can stay silent, and
// records a transcript of both directions.
#pragma once
#include "support/Pty.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedPeer {
public:
    explicit ScriptedPeer(PtyPair& pty);
    ~ScriptedPeer();

    // The program must send exactly these bytes next ("B0 5A 50").
    ScriptedPeer& Expect(const std::string& hex);
    // The peer sends these bytes.
    ScriptedPeer& Reply(const std::string& hex);
    // The peer waits this long (silence).
    ScriptedPeer& Wait(int milliseconds);

    // Runs the script in a thread. After the script the peer keeps recording
    // whatever the program sends, without answering, until Finish().
    void Start();
    // Waits for the script to end, then `settleMs` more for stray bytes;
    // stops the thread and returns Transcript().
    std::string Finish(int settleMs = 30);

    // Both directions in order: program bytes plain, peer bytes in
    // parentheses, e.g. "B0 (DD) 5A 50 01 (01)".
    std::string Transcript() const;
    // Mismatches and time-outs met while running the script; empty when fine.
    std::string Errors() const;
    // Bytes the program sent.
    std::vector<std::uint8_t> Sent() const;

    // How long Expect waits for each byte before recording an error.
    int expectTimeoutMs = 20000;

private:
    struct Step {
        enum Kind { ExpectBytes, ReplyBytes, WaitMs } kind;
        std::vector<std::uint8_t> bytes;
        int ms = 0;
    };
    struct Entry {
        bool fromPeer;
        std::uint8_t byte;
    };
    void Run();
    bool ReadByte(std::uint8_t& b, int timeoutMs);
    void Record(bool fromPeer, const std::vector<std::uint8_t>& bytes);

    PtyPair& pty_;
    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> scriptDone_{false};
    mutable std::mutex mutex_;
    std::vector<Entry> transcript_;
    std::string errors_;
};
