// The simulated gateway: the adapter protocol on the PC line (opening bytes,
// sign-on, command, header, data phases), its cells, and SendPacket, which
// puts a frame on the RS-485 line and passes the meter's answer back once the
// line has been silent for an end-of-frame time. Also a source of framed
// packets for the packet monitor. Its loop runs in a thread of its own.
#pragma once
#include "sim/GatewayCells.h"
#include "sim/Packets.h"
#include "sim/PcLine.h"
#include "sim/Shared.h"

namespace sim {

class Gateway {
public:
    Gateway(Shared& shared, GatewayCells& cells, PtyEnds& pc, PtyEnds& line);

    // The gateway thread: until shared.stop.
    void Run();

    PcLine& Pc() { return pc_; }
    // The RS-485 line's speed as the gateway applied it; the speed it is
    // paced at (0 when it is not).
    double Rs485Speed() const;
    double Rs485Pace() const { return shared_.opt.PaceRs485 ? Rs485Speed() : 0; }

    // Guarded by shared.m (the caller holds it).
    int zepLan;
    int exchanges = 0;
    PacketStreamOptions stream;
    bool streaming = false;
    int streamSeq = 0;
    int itemsSent = 0;
    Clock::time_point streamDue;

    // Nothing in hand: no exchange under way, no answer waiting to be passed
    // on, no byte from the PC still on its way.
    bool Idle() const { return !inExchange_ && !answerPending_ && !pc_.OnTheWay(); }

private:
    // Exchanges with the PC (GatewayProtocol.cpp)
    static bool Opens(std::uint8_t byte);
    void Exchange(std::uint8_t opening);
    std::optional<std::uint8_t> AnswerStep(Step step, std::uint8_t normal);
    std::optional<std::uint8_t> AnswerFault(const Fault& f, std::uint8_t normal);
    void CellExchange();
    bool SignOn();
    struct Header;
    std::optional<Header> ReadHeader(bool zepLanMode);
    std::uint8_t HeaderCode(Header& h);
    std::uint8_t ZepLanHeaderCode(Header& h, bool ourZepLan);
    std::uint8_t ShortHeaderCode(Header& h, bool ourZepLan);
    void WritePhase(const Header& h);
    void ReadPhase(const Header& h);
    void PacketExchange();
    static void Mangle(std::vector<std::uint8_t>& bytes, const Fault& f);

    // The RS-485 side (Gateway.cpp)
    void SendMeter(const std::vector<std::uint8_t>& frame);
    void DrainLine();
    void ArriveMeter(bool all = false);
    void ForwardAnswer();
    // The answer on hand is a late one the gateway keeps for the PC's next exchange.
    bool HeldForNextExchange() const;
    Clock::duration AnswerGap() const;
    bool StreamItem(Clock::time_point now, Clock::time_point& wake);
    void WaitForInput(Clock::time_point wake);

    Shared& shared_;
    GatewayCells& cells_;
    PcLine pc_;
    PtyEnds& line_;
    ArrivalQueue meterLine_; // sent by the meter, still on the line
    std::vector<std::uint8_t> answer_;
    int lastAsked_ = -1; // the address of the last request put on the line
    Clock::time_point lastAnswerByte_;
    Clock::time_point busyUntil_;
    std::atomic<bool> inExchange_{false};
    std::atomic<bool> answerPending_{false};
};

} // namespace sim
