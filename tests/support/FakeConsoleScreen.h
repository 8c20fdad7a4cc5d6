// A stand-in for the console window: records every screen operation the
// console logic asks for, and a port on a pseudo-terminal for its receive
// loop.
#pragma once
#include "console/ConsoleScreen.h"
#include "serial/Rs232.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class FakeConsoleScreen : public ConsoleScreen {
public:
    // The request's fields as the window starts.
    std::string startRegister = "0", registerCount = "4", deviceAddress = "1", function = "4";
    std::string rowNumber, rowLength, progress;
    std::string pane[3]; // by ConsolePane: hexadecimal, characters, values
    int appends[3] = {0, 0, 0};
    bool panesActive = true;
    bool receiveTimer = true;
    bool identificationPoll = false;
    std::string deviceType, version, config1, config2;
    struct Shown {
        std::string text, caption;
    };
    std::vector<Shown> messages;
    // Polling: its samples, the counters last shown, its end, its timer.
    std::vector<PollSample> samples;
    PollCounts pollCounts;
    bool pollingEnded = false;
    int wakeMs = -1;

    std::string DeviceAddressText() override { return deviceAddress; }
    std::string FunctionText() override { return function; }
    std::string StartRegisterText() override { return startRegister; }
    std::string RegisterCountText() override { return registerCount; }
    void SetRowNumber(const std::string& t) override { rowNumber = t; }
    void SetRowLength(const std::string& t) override { rowLength = t; }
    void ShowArchiveProgress(const std::string& t) override { progress = t; }
    void AppendToPane(ConsolePane p, const std::string& t) override {
        pane[static_cast<int>(p)] += t;
        ++appends[static_cast<int>(p)];
    }
    void AddProgressLine(const std::string& t) override {
        std::string& m = pane[0];
        if (!m.empty() && m.back() != '\n') m += "\r\n";
        m += t + "\r\n";
        ++appends[0];
    }
    void ClearPanes() override {
        for (auto& m : pane)
            m.clear();
    }
    bool PanesActive() override { return panesActive; }
    void EnableReceiveTimer(bool on) override { receiveTimer = on; }
    void EnableIdentificationPoll(bool on) override { identificationPoll = on; }
    void ShowDeviceType(const std::string& t) override { deviceType = t; }
    void ShowVersion(const std::string& t) override { version = t; }
    void ShowConfig1(const std::string& t) override { config1 = t; }
    void ShowConfig2(const std::string& t) override { config2 = t; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back({text, caption});
    }
    void ShowNotice(const std::string& text) override { notice = text; }
    void ShowArchiveRun(bool on, MeterArchive) override { running = on; }
    void OfferArchive(const std::string& path) override { offered = path; }
    std::string notice, offered; // UTF-8
    bool running = false;
    void ShowPollSample(const PollSample& sample, const PollCounts& counts) override {
        samples.push_back(sample);
        pollCounts = counts;
    }
    void ShowPollCounts(const PollCounts& counts) override { pollCounts = counts; }
    void PollingEnded() override { pollingEnded = true; }
    void WakePollAfter(int ms) override { wakeMs = ms; }
    void ResetCounts() {
        for (int& a : appends)
            a = 0;
    }
};

// MainPort on the slave side of a pseudo-terminal for the test's lifetime
// (the packet sender reaches the port through it); the test plays the line
// on the master side.
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

    // How the logic reaches this port; after Unplug() it finds none.
    PortAccessor Accessor() {
        return [this] { return plugged_ ? MainPort : nullptr; };
    }
    void Unplug() { plugged_ = false; }

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
    bool plugged_ = true;
};
