// The Hayes modem in front of the simulated gateway.
#include "sim/Modem.h"

#include <cctype>

namespace sim {

std::optional<ModemFault> ParseModemFault(const std::string& text) {
    if (text == "none") return ModemFault::None;
    if (text == "busy") return ModemFault::Busy;
    if (text == "no-answer") return ModemFault::NoAnswer;
    if (text == "no-carrier") return ModemFault::NoCarrier;
    if (text == "no-dialtone") return ModemFault::NoDialtone;
    if (text == "silent") return ModemFault::Silent;
    return std::nullopt;
}

void HayesModem::Result(const std::string& text, std::vector<std::uint8_t>& toPc) {
    // Verbose results, framed by CR LF as ATV1 gives them.
    const std::string framed = "\r\n" + text + "\r\n";
    toPc.insert(toPc.end(), framed.begin(), framed.end());
}

void HayesModem::FromPc(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toGateway,
                        std::vector<std::uint8_t>& toPc) {
    switch (state_) {
    case ModemState::Online:
        OnlineByte(byte, at, toGateway);
        return;
    case ModemState::Dialing:
        // Any key aborts a dial, as on a real modem.
        state_ = ModemState::Command;
        line_.clear();
        Result("NO CARRIER", toPc);
        return;
    case ModemState::Command:
    case ModemState::OnlineCommand:
        Command(byte, at, toPc);
        return;
    }
}

void HayesModem::Command(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toPc) {
    if (echo_) toPc.push_back(byte);
    if (byte == '\n') return;
    if (byte == 8 && !line_.empty()) { // backspace
        line_.pop_back();
        return;
    }
    if (byte != '\r') {
        if (line_.size() < 80) line_.push_back(static_cast<char>(byte));
        return;
    }
    std::string line;
    line.swap(line_);
    // Everything before "AT" is noise a modem ignores.
    std::string upper;
    for (char c : line)
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    const auto start = upper.find("AT");
    if (start == std::string::npos) return;
    Execute(upper.substr(start + 2), at, toPc);
}

void HayesModem::Execute(const std::string& line, Clock::time_point at, std::vector<std::uint8_t>& toPc) {
    const bool connected = state_ == ModemState::OnlineCommand;
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i++];
        auto number = [&] {
            int n = 0;
            while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
                n = n * 10 + (line[i++] - '0');
            return n;
        };
        switch (c) {
        case 'E':
            echo_ = number() != 0;
            break;
        case 'Z':
            number();
            echo_ = true;
            if (connected) state_ = ModemState::Command;
            break;
        case 'H':
            number();
            state_ = ModemState::Command; // on hook
            break;
        case 'O':
            number();
            if (!connected) return Result("NO CARRIER", toPc);
            state_ = ModemState::Online;
            lastFromPc_ = at;
            return Result("CONNECT " + std::to_string(setup_.ConnectSpeed), toPc);
        case 'D':
            if (connected) return Result("ERROR", toPc);
            dialled_ = line.substr(i);
            state_ = ModemState::Dialing;
            dialDue_ = at + std::chrono::milliseconds(setup_.ConnectDelayMs);
            return; // the result comes from Tick
        case '&':
        case '\\':
            if (i < line.size()) ++i;
            number();
            break;
        case 'S':
            number();
            if (i < line.size() && line[i] == '=') {
                ++i;
                number();
            } else if (i < line.size() && line[i] == '?') {
                ++i;
            }
            break;
        case ' ':
            break;
        default:
            if (!std::isalpha(static_cast<unsigned char>(c))) return Result("ERROR", toPc);
            number(); // a command this model accepts without acting on it
            break;
        }
    }
    Result("OK", toPc);
}

void HayesModem::OnlineByte(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toGateway) {
    const bool quietBefore = at - lastFromPc_ >= Guard();
    lastFromPc_ = at;
    if (byte == '+' && pluses_ < 3 && (pluses_ > 0 || quietBefore)) {
        // Held back: three of them between two guard times are the escape.
        if (++pluses_ == 3) escapeDue_ = at + Guard();
        return;
    }
    ReleasePluses(toGateway);
    toGateway.push_back(byte);
}

void HayesModem::ReleasePluses(std::vector<std::uint8_t>& toGateway) {
    toGateway.insert(toGateway.end(), static_cast<std::size_t>(pluses_), '+');
    pluses_ = 0;
}

void HayesModem::Tick(Clock::time_point now, std::vector<std::uint8_t>& toGateway,
                      std::vector<std::uint8_t>& toPc) {
    if (state_ == ModemState::Dialing && now >= dialDue_) {
        switch (setup_.Fault) {
        case ModemFault::None:
            state_ = ModemState::Online;
            lastFromPc_ = now;
            pluses_ = 0;
            Result("CONNECT " + std::to_string(setup_.ConnectSpeed), toPc);
            return;
        case ModemFault::Silent:
            return; // dials on
        case ModemFault::Busy:
            Result("BUSY", toPc);
            break;
        case ModemFault::NoAnswer:
            Result("NO ANSWER", toPc);
            break;
        case ModemFault::NoCarrier:
            Result("NO CARRIER", toPc);
            break;
        case ModemFault::NoDialtone:
            Result("NO DIALTONE", toPc);
            break;
        }
        state_ = ModemState::Command;
        return;
    }
    if (state_ != ModemState::Online || pluses_ == 0) return;
    if (pluses_ == 3 && now >= escapeDue_) {
        pluses_ = 0;
        state_ = ModemState::OnlineCommand;
        Result("OK", toPc);
    } else if (pluses_ < 3 && now - lastFromPc_ >= Guard()) {
        ReleasePluses(toGateway); // too slow for an escape: they were data
    }
}

std::optional<Clock::time_point> HayesModem::Due() const {
    if (state_ == ModemState::Dialing && setup_.Fault != ModemFault::Silent) return dialDue_;
    if (state_ == ModemState::Online && pluses_ == 3) return escapeDue_;
    if (state_ == ModemState::Online && pluses_ > 0) return lastFromPc_ + Guard();
    return std::nullopt;
}

} // namespace sim
