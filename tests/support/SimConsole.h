// The console's logic against the simulated gateway and meter: a port on the
// simulator's line (also MainPort), the real SendPacket through an adapter
// link on that port (every block also recorded), a fake screen, a clock that
// moves only when the test moves it, and a driver that runs the receive loop
// and the identification timer as their timers would, without waiting for
// them.
#pragma once
#include "adapter/Dataio.h"
#include "console/ConsoleLogic.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "support/FakeConsoleScreen.h"
#include "support/Pty.h"

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

class SimConsole {
public:
    explicit SimConsole(sim::Simulator& simulator) : sim(simulator) {
        previous_ = MainPort;
        MainPort = port_ = new Rs232Port(sim.PortPath(), 115200);
    }
    ~SimConsole() {
        delete port_;
        MainPort = previous_;
    }
    SimConsole(const SimConsole&) = delete;
    SimConsole& operator=(const SimConsole&) = delete;

    // Runs ticks while bytes wait and the identification timer while it is
    // enabled, until `done` holds; false after timeoutMs.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (port_->InQueue() > 0)
                logic.Timer1Timer();
            else if (screen.identificationPoll)
                logic.TimerQueryConfTimer();
            if (port_->InQueue() == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return true;
    }
    // Until the archive reader has finished, or stopped with nothing asked.
    bool RunTransfer(int timeoutMs = 20000) {
        return RunUntil(
            [&] {
                return logic.Session.Transfer().ArhivStep == ArchiveState::Finished ||
                       (!logic.WaitAnswer && !screen.identificationPoll);
            },
            timeoutMs);
    }
    // The blocks handed to SendPacket, as hex.
    std::vector<std::string> SentHex() const {
        std::vector<std::string> out;
        for (const auto& b : sent)
            out.push_back(Hex(b));
        return out;
    }

    sim::Simulator& sim;
    FakeConsoleScreen screen;
    std::chrono::steady_clock::time_point now{};
    std::vector<std::vector<std::uint8_t>> sent;
    // The real SendPacket on this port; it reads no link settings.
    AdapterLink link{[this] { return port_; }, [] { return LinkSettings{}; }};
    // false: the logic finds no port (a port gone); the link still has it.
    bool plugged = true;
    ConsoleLogic logic{screen, [this] { return plugged ? port_ : nullptr; },
                       [this](const std::uint8_t* block, std::int32_t count) {
                           sent.emplace_back(block, block + count);
                           return link.SendPacket(block, count);
                       },
                       ',', [this] { return now; }};

private:
    Rs232Port* previous_ = nullptr;
    Rs232Port* port_ = nullptr;
};
