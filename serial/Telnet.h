// The telnet side of an RFC 2217 port: the data bytes escaped and unescaped
// (0xFF doubled on the wire), the options negotiated (binary both ways, the
// COM port option), the COM port option's commands that set the line
// (speed, 8 data bits, no parity, one stop bit, RTS/CTS) and purge the
// server's buffers, and the server's acknowledgements of them. Plain bytes in
// and out: the socket is the port's business.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

inline constexpr std::uint8_t Iac = 0xFF, Dont = 0xFE, Do = 0xFD, Wont = 0xFC, Will = 0xFB, Sb = 0xFA,
                              Se = 0xF0;
inline constexpr std::uint8_t Binary = 0, SuppressGoAhead = 3, ComPortOption = 44;
// COM port option commands (client to server; the server answers +100).
inline constexpr std::uint8_t SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4,
                              SetControl = 5, PurgeData = 12;
inline constexpr std::uint8_t ParityNone = 1, StopOne = 1, ControlHardware = 3, PurgeBoth = 3;
inline constexpr std::uint8_t ServerOffset = 100;

// What the client says at once: WILL and DO binary, WILL the COM port
// option, DO suppress go-ahead.
std::vector<std::uint8_t> Greeting();
// One COM port option command with its value bytes, framed IAC SB ... IAC SE
// (an 0xFF in the value doubled).
std::vector<std::uint8_t> ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value);
// The commands that set the line as the program's port is set: `baudRate`,
// 8N1, RTS/CTS.
std::vector<std::uint8_t> LineSettingsCommands(int baudRate);
// Appends `count` data bytes to `wire`, each 0xFF doubled.
void Escape(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& wire);

class Decoder {
public:
    // Takes bytes from the wire: data bytes are appended to `data`, commands
    // handled (answers to negotiations queued, acknowledgements noted).
    void Take(const std::uint8_t* wire, std::size_t count, std::vector<std::uint8_t>& data);
    // What the client must send in answer to the server's negotiations
    // (refusals of options it does not support); cleared by the call.
    std::vector<std::uint8_t> TakeReplies();
    // Whether the server acknowledged the COM port option command (a
    // SetBaudRate ... PurgeData code).
    bool Acknowledged(std::uint8_t command) const;
    // The speed the server reported with its acknowledgement (0: none).
    int ServerBaudRate() const { return serverBaud_; }
    // Whether the server agreed to the COM port option (DO 44).
    bool ComPortAgreed() const { return comPortAgreed_; }
    // Whether a subnegotiation or command is half way in.
    bool Midway() const { return state_ != State::Data; }

private:
    enum class State { Data, AfterIac, Option, InSb, InSbAfterIac };
    // The byte after an IAC outside a subnegotiation.
    void Command(std::uint8_t b, std::vector<std::uint8_t>& data);
    // A byte inside a subnegotiation (after its IAC SB).
    void Subnegotiation(std::uint8_t b);
    void Negotiation(std::uint8_t verb, std::uint8_t option);
    void SubnegotiationEnded();

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sb_;
    std::vector<std::uint8_t> replies_;
    std::uint32_t acks_ = 0;
    int serverBaud_ = 0;
    bool comPortAgreed_ = false;
};

} // namespace telnet
