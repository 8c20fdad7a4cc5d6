// The packet monitor's framer on an arbitrary byte stream with silence
// between bytes: every byte ends up in exactly one line, markers aside; no
// line is longer than the buffer; each line's class agrees with its length
// and CRC; silence ends a packet only after more than SilenceTicks ticks.
//
// Input: the bytes of the line, except that 0xFE is an escape: FE 00 is the
// byte 0xFE itself; FE k (k > 0) ends the batch of bytes read so far and lets
// k & 7 timer ticks pass with nothing waiting.
#include "base/Bytes.h"
#include "monitor/PacketFramer.h"
#include "support/FuzzCheck.h"

#include <string>
#include <vector>

namespace {

constexpr std::uint8_t Escape = 0xFE;

struct Line {
    std::string bytes;
    PacketClass cls;
    bool bySilence; // shown while no bytes were waiting
};

class RecordingScreen : public PacketScreen {
public:
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override {
        FUZZ_CHECK(length >= 0 && length <= PacketFramer::BufferSize);
        lines.push_back(
            {std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)), cls, idle});
    }
    std::vector<Line> lines;
    bool idle = false;
};

std::uint8_t At(const std::string& s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

// The class agrees with the line's length byte N, its length and its CRC.
void CheckClass(const Line& line) {
    const std::string& b = line.bytes;
    const int length = static_cast<int>(b.size());
    const int n = length > 2 ? At(b, 2) : -1;
    auto crcMatches = [&](int dataLength) {
        const auto received = static_cast<std::uint16_t>(At(b, 3) | At(b, 4) << 8);
        return PacketCrc(reinterpret_cast<const std::uint8_t*>(b.data()) + 5, dataLength) == received;
    };
    switch (line.cls) {
    case PacketClass::OK:
    case PacketClass::CRC:
        FUZZ_CHECK(!line.bySilence && n >= 0 && length == n + 6);
        FUZZ_CHECK(crcMatches(n) == (line.cls == PacketClass::OK));
        break;
    case PacketClass::OK_NA:
    case PacketClass::CRCNA:
        FUZZ_CHECK(line.bySilence && n >= 0 && length == n + 5);
        FUZZ_CHECK(crcMatches(n) == (line.cls == PacketClass::OK_NA));
        break;
    case PacketClass::PART:
        if (line.bySilence)
            FUZZ_CHECK(n < 0 || length < n + 5);
        else // longer than the buffer holds
            FUZZ_CHECK(length == PacketFramer::BufferSize && n + 6 > PacketFramer::BufferSize);
        break;
    case PacketClass::BAD:
        FUZZ_CHECK(!line.bySilence && length > 0);
        FUZZ_CHECK(b.find("##") == std::string::npos); // a marker would have started a packet
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordingScreen screen;
    PacketFramer framer(screen);
    std::string stream; // every byte fed, in order
    int tick = 0;
    int lastBatchTick = 0;
    bool batch = false;
    framer.Start(tick);

    auto endBatch = [&] {
        if (!batch) return;
        framer.BatchDone(tick);
        lastBatchTick = tick;
        batch = false;
    };
    auto silence = [&](int ticks) {
        endBatch();
        for (int i = 0; i < ticks; ++i) {
            ++tick;
            const bool wasInPacket = framer.InPacket();
            screen.idle = true;
            framer.Idle(tick);
            screen.idle = false;
            // A packet ends by silence exactly when more than SilenceTicks passed.
            FUZZ_CHECK(framer.InPacket() ==
                       (wasInPacket && tick - lastBatchTick <= PacketFramer::SilenceTicks));
        }
    };

    FuzzInput in(data, size);
    while (!in.Empty()) {
        std::uint8_t b = in.Byte();
        if (b == Escape) {
            const std::uint8_t k = in.Byte();
            if (k != 0) {
                silence(k & 7);
                continue;
            }
        }
        framer.Feed(b);
        stream.push_back(static_cast<char>(b));
        batch = true;
        FUZZ_CHECK(framer.Count() >= 0 && framer.Count() <= PacketFramer::BufferSize);
    }
    silence(PacketFramer::SilenceTicks + 1); // the packet under way, if any, ends
    FUZZ_CHECK(!framer.InPacket());

    // The lines, with a marker before each packet, are the stream; what is left
    // is the hunt's buffer, not yet shown.
    std::size_t at = 0;
    for (const Line& line : screen.lines) {
        CheckClass(line);
        if (line.cls != PacketClass::BAD) {
            FUZZ_CHECK(at + 2 <= stream.size() && stream.compare(at, 2, "##") == 0);
            at += 2;
        }
        FUZZ_CHECK(at + line.bytes.size() <= stream.size());
        FUZZ_CHECK(stream.compare(at, line.bytes.size(), line.bytes) == 0);
        at += line.bytes.size();
    }
    FUZZ_CHECK(stream.size() - at == static_cast<std::size_t>(framer.Count()));
    return 0;
}
