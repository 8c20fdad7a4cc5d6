// A stand-in for the console window: records every screen operation the
// console logic asks for, and a port on a pseudo-terminal for its receive
// loop.
#pragma once
#include "console/ConsoleScreen.h"
#include "serial/Rs232.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

class FakeConsoleScreen : public ConsoleScreen {
public:
    std::string edits[4] = {"0", "4", "1", "4"}; // Edit1..Edit4 as the window starts
    std::string edit5, edit6;
    std::string memo[3];
    int appends[3] = {0, 0, 0};
    bool memoActive = true;
    bool timer1 = true;
    bool timerQueryConf = false;
    std::map<ConsoleLabel, std::string> labels;
    struct Shown {
        std::string text, caption;
    };
    std::vector<Shown> messages;

    std::string EditText(ConsoleEdit e) override { return edits[static_cast<int>(e)]; }
    void SetEdit5(const std::string& t) override { edit5 = t; }
    void SetEdit6(const std::string& t) override { edit6 = t; }
    void AppendMemo(ConsoleMemo m, const std::string& t) override {
        memo[static_cast<int>(m)] += t;
        ++appends[static_cast<int>(m)];
    }
    void AddMemo1Line(const std::string& t) override {
        std::string& m = memo[0];
        if (!m.empty() && m.back() != '\n') m += "\r\n";
        m += t + "\r\n";
        ++appends[0];
    }
    void ClearMemos() override {
        for (auto& m : memo)
            m.clear();
    }
    bool MemoActive() override { return memoActive; }
    void EnableTimer(ConsoleTimer t, bool on) override {
        (t == ConsoleTimer::Timer1 ? timer1 : timerQueryConf) = on;
    }
    void SetLabel(ConsoleLabel l, const std::string& c) override { labels[l] = c; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back({text, caption});
    }
    void ResetCounts() {
        for (int& a : appends)
            a = 0;
    }
};

// MainPort on the slave side of a pseudo-terminal for the test's lifetime;
// the test plays the line on the master side.
class ConsolePort {
public:
    ConsolePort() {
        previous_ = MainPort;
        MainPort = new Rs232Port(pty.SlavePath(), 115200);
    }
    ~ConsolePort() {
        delete MainPort;
        MainPort = previous_;
    }
    ConsolePort(const ConsolePort&) = delete;
    ConsolePort& operator=(const ConsolePort&) = delete;

    // Sends bytes towards the program and waits until the port has them all.
    void Deliver(const std::vector<std::uint8_t>& bytes) {
        const int before = MainPort->InQueue();
        pty.Send(bytes);
        WaitForQueue(before + static_cast<int>(bytes.size()));
    }
    // Waits (up to a second) until at least `count` bytes are waiting.
    bool WaitForQueue(int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (MainPort->InQueue() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    PtyPair pty;

private:
    Rs232Port* previous_ = nullptr;
};
