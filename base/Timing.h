// Every duration the program waits for, in one place. Tests may shorten them
// through SetTimingForTests so that failure paths take milliseconds.
#pragma once
#include <chrono>
#include <functional>

struct TimingConstants {
    int ReadTimeoutBaseMs = 5000;           // total read time-out: base ...
    int ConnectedReadTimeoutBaseMs = 60000; // ... or this while Connected is set
    int ReadTimeoutPerByteMs = 10;          // ... plus this per wanted byte
    int WriteTimeoutPerByteMs = 10;         // one single-byte write: this plus the base
    int PurgePauseMs = 500;                 // Purge waits this long before discarding
    int ClosePauseMs = 10;                  // pause between dropping DTR/RTS and closing
    int FinishWritePauseMs = 2000;          // gateway applies its new settings meanwhile
    int WaitWindowPaintMs = 500;            // longest wait for a new wait window's first paint
    int ConsoleTickMs = 100;                // the console's receive loop (Timer1)
    int IdentificationPollMs = 1000;        // the console's identification polling (TimerQueryConf)
    int ArchiveAnswerTimeoutMs = 3000;      // an archive read waits this long for an answer, then stops
    int MonitorTickMs = 50;                 // the packet monitor's tick; silence is counted in ticks
    int PortWatchMs = 500;                  // the main window looks at the port: gone, or back again
    int MonitorShowBatchMs = 40;            // packet lines closer together than this are drawn as one batch
    int StatusNoticeMs = 5000;              // a confirmation in the status line goes away after this
    int LogFlushMs = 1000;                  // a line log is written out at least this often
    int AdapterLatencyMs = 1;               // a USB-serial adapter's latency timer is set to this on opening
    int MeterProcessingAllowanceMs = 40;    // a scan's wait allows a meter this long to prepare its answer
    int ScanQuietMs = 20;                   // a line quiet this long has no answer under way
    int AnswerQuietMs = 200;                // an answer begun and then quiet this long is cut short
    int PollAnswerTimeoutMs = 1000;         // polling counts a request unanswered after this and goes on
    int NetConnectTimeoutMs = 3000;         // a network port's connection must be made within this
    int NetSettingsWaitMs = 500;            // RFC 2217: the server's acknowledgements are awaited this long
    int NetReconnectMs = 5000; // a network port that dropped or did not connect is tried again this often
    int InputLookMs = 5;       // Windows: a wait for input looks at the port's queue this often
    int InputWatchMs = 1;      // Windows: a window's port watch looks at the queue this often
    int ModemAnswerMs = 3000;  // a modem's answer to an AT command is awaited this long
    int ModemGuardMs = 1200;   // the silence before and after "+++" (modems' guard time is 1 s)
    int DtrDropMs = 500;       // DTR is held down this long to hang up
    int ModemSettleMs = 100;   // after CONNECT the rest of its line is let go by this long
    int ModemAbortMs = 300;    // a dial interrupted by a key: the modem's answer is let go this long
};

// The shortest and the longest interval between two requests of the
// console's polling.
inline constexpr int MinPollIntervalMs = 100;
inline constexpr int MaxPollIntervalMs = 3600000;

// The constants in force.
const TimingConstants& Timing();

// Test-only: replace the constants (pass TimingConstants{} to restore them).
void SetTimingForTests(const TimingConstants& constants);

// A monotonic clock. Logic that measures waits takes one, so that tests can
// set the time instead of waiting for it.
using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;
