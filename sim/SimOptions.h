// What a simulator is made with: the gateway, the timing of its two lines
// and the meter behind it.
#pragma once
#include "sim/GatewayCells.h"
#include "sim/Meter.h"
#include "sim/Modem.h"

#include <cstdio>
#include <string>
#include <vector>

namespace sim {

// SimOptions::PaceBaud: follow the speed the program set on its port.
inline constexpr int PacePortSpeed = -1;

struct SimOptions {
    // Gateway
    int ZepLanAddress = 1;        // its own ZEP-LAN address; headers carrying 0 (broadcast) are accepted too
    int ExchangeTimeoutMs = 1000; // silence inside an exchange after which it waits for a new opening byte
    int ApplyBusyMs = 0;          // after a write to control cell 2 the gateway ignores the PC this long
    // A late answer (one from another address than the last request went to,
    // because the PC has moved on) is passed on when the PC next opens an
    // exchange, in front of the gateway's own reply, not as soon as the
    // line's silence ends: a slow meter's late answer then breaks into the
    // next exchange. Answers from the address last asked pass as usual.
    bool AnswerOnNextExchange = false;
    GatewaySettings Settings;

    // Line timing. A paced line hands each byte over when its last bit is
    // through, 10 bits a byte at the line's speed, in both directions. An
    // unpaced line hands bytes over at once (fast tests).
    // PC line: >0 paced at this speed, PacePortSpeed at the speed the program
    // set on its port, 0 unpaced.
    int PaceBaud = 0;
    // RS-485 line: paced at the speed of the gateway's applied speed code;
    // the meter then also waits for the request's end-of-frame silence.
    bool PaceRs485 = false;
    // >0: this silence ends the meter's answer; 0: the Modbus end-of-frame
    // silence at the RS-485 speed (EndOfFrameSilence), paced or not.
    int AnswerGapMs = 0;

    // Meter: the first meter on the RS-485 line.
    int MeterAddress = 1;
    int MeterDelayMs = 0; // processing time before each answer
    Identification Ident;
    // Further meters on the line (each address once; the Simulator throws
    // std::invalid_argument otherwise).
    std::vector<MeterSetup> MoreMeters;

    // A USB-serial adapter between the gateway and the PC (sim/UsbAdapter.h):
    // bytes towards the PC are handed over when 62 are waiting or at the next
    // tick of this latency timer. 0: no adapter, every byte at once.
    int AdapterLatencyMs = 0;
    // Not empty: a fake sysfs tree made in this folder, in which the PC line's
    // pseudo-terminal is the adapter's port; its latency_timer attribute
    // starts at AdapterLatencyMs and the adapter follows what is written there.
    std::string AdapterSysfs;

    // A Hayes modem in front of the gateway on the PC line (sim/Modem.h):
    // the gateway is reached only after ATD has connected.
    ModemSetup Modem;

    // Each recorded run of bytes is also printed here as FormatTrace lines.
    std::FILE* TraceStream = nullptr;
};

} // namespace sim
