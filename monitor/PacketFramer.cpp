// Packet framing and classification for the packet monitor.
#include "monitor/PacketFramer.h"

#include "base/Bytes.h"

void PacketFramer::Start(int tick) {
    inPacket_ = false;
    count_ = 0;
    markerRun_ = 0;
    referenceTick_ = tick;
}

void PacketFramer::Feed(std::uint8_t byte) {
    if (inPacket_)
        FeedInPacket(byte);
    else
        FeedHunting(byte);
}

void PacketFramer::StartPacket() {
    inPacket_ = true;
    count_ = 0;
    markerRun_ = 0;
    dataLength_ = 0;
    receivedCrc_ = 0;
}

void PacketFramer::FeedHunting(std::uint8_t byte) {
    if (count_ == BufferSize) {
        // No marker in a full buffer: show it and start afresh, keeping a
        // trailing 0x23 that may be the first half of the next marker.
        const bool keepMarkerHalf = markerRun_ > 0;
        Show(keepMarkerHalf ? count_ - 1 : count_, PacketClass::BAD);
        count_ = 0;
        if (keepMarkerHalf) buffer_[count_++] = MarkerByte;
    }
    buffer_[count_++] = byte;
    if (byte != MarkerByte) {
        markerRun_ = 0;
        return;
    }
    if (++markerRun_ >= 2) {
        if (count_ > 2) Show(count_ - 2, PacketClass::BAD);
        StartPacket();
    }
}

void PacketFramer::FeedInPacket(std::uint8_t byte) {
    if (count_ == BufferSize) {
        // A packet longer than the buffer: show what arrived and hunt anew.
        Show(count_, PacketClass::PART);
        inPacket_ = false;
        count_ = 0;
        markerRun_ = 0;
        FeedHunting(byte);
        return;
    }
    buffer_[count_] = byte;
    if (count_ == 2) dataLength_ = byte;
    if (count_ == 3) receivedCrc_ = byte;
    if (count_ == 4) receivedCrc_ = static_cast<std::uint16_t>(receivedCrc_ + byte * 256);
    ++count_;
    if (count_ >= dataLength_ + 6) {
        const bool match = PacketCrc(buffer_ + 5, dataLength_) == receivedCrc_;
        Show(count_, match ? PacketClass::OK : PacketClass::CRC);
        inPacket_ = false;
        count_ = 0;
    }
}

void PacketFramer::BatchDone(int tick) {
    referenceTick_ = tick;
}

void PacketFramer::Idle(int tick) {
    if (inPacket_ && tick - referenceTick_ > SilenceTicks) EndBySilence();
}

void PacketFramer::EndBySilence() {
    if (!inPacket_) return;
    PacketClass cls = PacketClass::PART;
    if (count_ >= dataLength_ + 5) {
        const bool match = PacketCrc(buffer_ + 5, count_ - 5) == receivedCrc_;
        cls = match ? PacketClass::OK_NA : PacketClass::CRCNA;
    }
    Show(count_, cls);
    inPacket_ = false;
    count_ = 0;
}

const char* PacketPrefix(PacketClass cls) {
    switch (cls) {
    case PacketClass::OK:
        return "OK   : ";
    case PacketClass::CRC:
        return "CRC  : ";
    case PacketClass::PART:
        return "PART : ";
    case PacketClass::BAD:
        return "BAD  : ";
    case PacketClass::OK_NA:
        return "OK_NA: ";
    case PacketClass::CRCNA:
        return "CRCNA: ";
    }
    return "";
}

std::string PacketLineText(const std::uint8_t* bytes, int length, PacketClass cls) {
    static const char digits[] = "0123456789ABCDEF";
    auto hex = [&](std::string& out, std::uint8_t b) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    };
    std::string line = PacketPrefix(cls);
    const bool bracketLast = (cls == PacketClass::OK || cls == PacketClass::CRC) && length > 0;
    const int plain = bracketLast ? length - 1 : length;
    line.reserve(line.size() + 3 * static_cast<size_t>(length > 0 ? length : 0) + 2);
    for (int i = 0; i < plain; ++i) {
        hex(line, bytes[i]);
        line += ' ';
    }
    if (bracketLast) {
        line += '[';
        hex(line, bytes[plain]);
        line += "] ";
    }
    return line;
}

PacketColor PacketLineColor(PacketClass cls) {
    switch (cls) {
    case PacketClass::CRC:
    case PacketClass::CRCNA:
        return {false, 255, 0, 0};
    case PacketClass::PART:
        return {false, 0, 0, 255};
    case PacketClass::BAD:
        return {false, 0, 128, 0};
    case PacketClass::OK:
    case PacketClass::OK_NA:
        break;
    }
    return {true, 0, 0, 0};
}
