// The network half of Rs232Port, the same on every system: the connection
// to a serial device server, the RFC 2217 negotiation, reads against the
// total deadline, writes with 0xFF doubled, the purge and the count of
// waiting bytes, over the socket calls of NetSocket. Only what makes the
// socket the port's descriptor is the system's (AdoptSocket, in
// Rs232Posix.cpp and Rs232Win32.cpp).
#include "serial/Rs232.h"

#include "base/PortAddress.h"
#include "base/Timing.h"
#include "serial/NetSocket.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

void Rs232Port::OpenNetwork(const std::string& address, int baudRate) {
    NetAddress = address;
    const std::optional<PortAddress> a = ParsePortAddress(address);
    if (!a) {
        Fail(NetSocket::BadAddress);
        return;
    }
    const long long start = NowMs();
    int error = 0;
    const NetSocket::Handle socket = NetSocket::Connect(*a, Timing().NetConnectTimeoutMs, error);
    if (socket < 0) {
        Fail(error);
        return;
    }
    // The handshake took one round trip.
    RoundTripMs = static_cast<int>(NowMs() - start);
    socket_ = socket;
    if (const int refused = AdoptSocket(); refused != 0) {
        NetSocket::Close(socket_);
        socket_ = -1;
        Fail(refused);
        return;
    }
    Ok = true;
    SetTimeouts();
    if (a->Kind == NetPortKind::Rfc2217) {
        telnet_ = std::make_unique<telnet::Decoder>();
        std::vector<std::uint8_t> hello = telnet::Greeting();
        const std::vector<std::uint8_t> settings = telnet::LineSettingsCommands(baudRate);
        hello.insert(hello.end(), settings.begin(), settings.end());
        if (!SendRaw(hello)) return;
        // Some servers never acknowledge: the port works on regardless, and
        // the status line says so.
        const long long deadline = NowMs() + Timing().NetSettingsWaitMs + 2LL * RoundTripMs;
        auto acknowledged = [&] {
            for (std::uint8_t c : {telnet::SetBaudRate, telnet::SetDataSize, telnet::SetParity,
                                   telnet::SetStopSize, telnet::SetControl})
                if (!telnet_->Acknowledged(c)) return false;
            return true;
        };
        while (!acknowledged() && WaitNetwork(false, deadline) == WaitResult::Ready)
            if (!DrainNetwork()) return Disconnect(NetSocket::ConnectionLost);
        SettingsAcknowledged = acknowledged();
        decoded_.clear(); // bytes from before this connection are nobody's answer
    }
    Connected = false;
    Gated = false;
}

Rs232Port::WaitResult Rs232Port::WaitNetwork(bool write, long long deadlineMs) {
    const long long left = std::max(0LL, deadlineMs - NowMs());
    int error = 0;
    switch (NetSocket::Wait(socket_, write, static_cast<int>(left), error)) {
    case NetSocket::WaitResult::Ready:
        return WaitResult::Ready;
    case NetSocket::WaitResult::TimedOut:
        return WaitResult::TimedOut;
    case NetSocket::WaitResult::Failed:
        break;
    }
    Fail(error);
    return WaitResult::Failed;
}

bool Rs232Port::SendRaw(const std::vector<std::uint8_t>& wire) {
    std::size_t sent = 0;
    const long long deadline =
        TransferDeadline(Timing().WriteTimeoutPerByteMs, static_cast<std::uint32_t>(wire.size()));
    while (sent < wire.size()) {
        int error = 0;
        const long n = NetSocket::Send(socket_, wire.data() + sent, wire.size() - sent, error);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (error != 0) {
            FailTransfer(error);
            return false;
        }
        if (WaitNetwork(true, deadline) != WaitResult::Ready) {
            if (Ok) Fail(NetSocket::TimeoutError);
            return false;
        }
    }
    return true;
}

bool Rs232Port::DrainNetwork() {
    std::uint8_t wire[512];
    for (;;) {
        int error = 0;
        const long n = NetSocket::Receive(socket_, wire, sizeof wire, error);
        if (n == 0) return false;
        if (n < 0) return error == 0;
        if (telnet_) {
            telnet_->Take(wire, static_cast<std::size_t>(n), decoded_);
            if (const std::vector<std::uint8_t> replies = telnet_->TakeReplies(); !replies.empty())
                SendRaw(replies);
        }
    }
}

long Rs232Port::ReceiveNetwork(unsigned char* buffer, std::uint32_t count, int& error) {
    NetSocket::AcknowledgeAtOnce(socket_);
    if (!telnet_) return NetSocket::Receive(socket_, buffer, count, error);
    error = 0;
    if (decoded_.empty()) {
        // No more from the wire than asked for: what is not asked for stays
        // in the socket, where a wait for input sees it.
        std::uint8_t wire[512];
        const long n = NetSocket::Receive(socket_, wire, std::min<std::size_t>(count, sizeof wire), error);
        if (n <= 0) return n;
        telnet_->Take(wire, static_cast<std::size_t>(n), decoded_);
        if (const std::vector<std::uint8_t> replies = telnet_->TakeReplies(); !replies.empty())
            SendRaw(replies);
        if (decoded_.empty()) return -1; // only telnet commands came
    }
    const std::size_t n = std::min<std::size_t>(count, decoded_.size());
    std::copy(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    decoded_.erase(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
}

void Rs232Port::ReadNetwork(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    const long long deadline = TransferDeadline(Timing().ReadTimeoutPerByteMs, count);
    while (bytesRead < count) {
        int error = 0;
        const long n = ReceiveNetwork(buffer + bytesRead, count - bytesRead, error);
        if (n > 0) {
            bytesRead += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n == 0) {
            // The far end has gone away: the port is disconnected, never a spin.
            Disconnect(NetSocket::ConnectionLost);
            return;
        }
        if (error != 0) {
            FailTransfer(error);
            return;
        }
        switch (WaitNetwork(false, deadline)) {
        case WaitResult::Ready:
            break;
        case WaitResult::TimedOut:
            Ok = true; // a time-out is not a failure
            return;
        case WaitResult::Failed:
            return;
        }
    }
}

void Rs232Port::WriteNetwork(const unsigned char* buffer, std::uint32_t count, std::int32_t& bytesWritten) {
    for (std::uint32_t i = 0; i < count; ++i) {
        // RFC 2217: an 0xFF goes out doubled, both bytes or neither.
        const std::size_t length = telnet_ && buffer[i] == telnet::Iac ? 2 : 1;
        if (!SendRaw(std::vector<std::uint8_t>(length, buffer[i]))) return;
        Ok = true;
        ++bytesWritten;
    }
}

bool Rs232Port::DiscardNetwork() {
    // What has arrived is dropped here; RFC 2217 also empties the server's
    // buffers of the line.
    const bool open = DrainNetwork();
    decoded_.clear();
    if (telnet_) return open && SendRaw(telnet::ComPortCommand(telnet::PurgeData, {telnet::PurgeBoth}));
    return open;
}

int Rs232Port::NetworkInQueue() {
    // RFC 2217: the socket's bytes include telnet commands; only the data
    // decoded from them is waiting.
    if (telnet_) {
        DrainNetwork();
        return static_cast<int>(decoded_.size());
    }
    return NetSocket::Pending(socket_);
}

bool Rs232Port::NetworkClosed() const {
    return NetSocket::Closed(socket_);
}
