#include "serial/Telnet.h"

namespace telnet {

namespace {

// A subnegotiation longer than this is no COM port answer: its bytes are
// dropped rather than kept without bound.
constexpr std::size_t LongestSubnegotiation = 64;

} // namespace

std::vector<std::uint8_t> Greeting() {
    return {Iac, Will, Binary, Iac, Do, Binary, Iac, Will, ComPortOption, Iac, Do, SuppressGoAhead};
}

std::vector<std::uint8_t> ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> wire{Iac, Sb, ComPortOption, command};
    Escape(value.data(), value.size(), wire);
    wire.push_back(Iac);
    wire.push_back(Se);
    return wire;
}

std::vector<std::uint8_t> LineSettingsCommands(int baudRate) {
    const auto baud = static_cast<std::uint32_t>(baudRate);
    std::vector<std::uint8_t> wire = ComPortCommand(
        SetBaudRate, {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                      static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
    for (const auto& [command, value] : {std::pair<std::uint8_t, std::uint8_t>{SetDataSize, 8},
                                         {SetParity, ParityNone},
                                         {SetStopSize, StopOne},
                                         {SetControl, ControlHardware}}) {
        const std::vector<std::uint8_t> one = ComPortCommand(command, {value});
        wire.insert(wire.end(), one.begin(), one.end());
    }
    return wire;
}

void Escape(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& wire) {
    for (std::size_t i = 0; i < count; ++i) {
        wire.push_back(data[i]);
        if (data[i] == Iac) wire.push_back(Iac);
    }
}

void Decoder::Take(const std::uint8_t* wire, std::size_t count, std::vector<std::uint8_t>& data) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = wire[i];
        switch (state_) {
        case State::Data:
            if (b == Iac)
                state_ = State::AfterIac;
            else
                data.push_back(b);
            break;
        case State::AfterIac:
            Command(b, data);
            break;
        case State::Option:
            Negotiation(verb_, b);
            state_ = State::Data;
            break;
        case State::InSb:
        case State::InSbAfterIac:
            Subnegotiation(b);
            break;
        }
    }
}

void Decoder::Command(std::uint8_t b, std::vector<std::uint8_t>& data) {
    state_ = State::Data;
    if (b == Iac) {
        data.push_back(Iac);
    } else if (b == Will || b == Wont || b == Do || b == Dont) {
        verb_ = b;
        state_ = State::Option;
    } else if (b == Sb) {
        sb_.clear();
        state_ = State::InSb;
    }
    // NOP, go-ahead and the like: nothing to do.
}

void Decoder::Subnegotiation(std::uint8_t b) {
    if (state_ == State::InSb) {
        if (b == Iac)
            state_ = State::InSbAfterIac;
        else if (sb_.size() < LongestSubnegotiation)
            sb_.push_back(b);
        return;
    }
    if (b == Se) {
        SubnegotiationEnded();
        state_ = State::Data;
        return;
    }
    if (b == Iac && sb_.size() < LongestSubnegotiation) sb_.push_back(Iac);
    state_ = State::InSb;
}

void Decoder::Negotiation(std::uint8_t verb, std::uint8_t option) {
    const bool ours = option == Binary || option == SuppressGoAhead || option == ComPortOption;
    if (verb == Do && option == ComPortOption) comPortAgreed_ = true;
    // The options asked for at the start are answered by the server's
    // agreement; any other is refused once, as telnet wants.
    if (ours) return;
    if (verb == Do) replies_.insert(replies_.end(), {Iac, Wont, option});
    if (verb == Will) replies_.insert(replies_.end(), {Iac, Dont, option});
}

void Decoder::SubnegotiationEnded() {
    if (sb_.size() < 2 || sb_[0] != ComPortOption) return;
    const int code = sb_[1] - ServerOffset;
    if (code < SetBaudRate || code > PurgeData) return;
    acks_ |= 1u << code;
    if (code == SetBaudRate && sb_.size() >= 6)
        serverBaud_ = static_cast<int>(static_cast<std::uint32_t>(sb_[2]) << 24 |
                                       static_cast<std::uint32_t>(sb_[3]) << 16 |
                                       static_cast<std::uint32_t>(sb_[4]) << 8 | sb_[5]);
}

std::vector<std::uint8_t> Decoder::TakeReplies() {
    std::vector<std::uint8_t> out;
    out.swap(replies_);
    return out;
}

bool Decoder::Acknowledged(std::uint8_t command) const {
    return command <= PurgeData && (acks_ & (1u << command)) != 0;
}

} // namespace telnet
