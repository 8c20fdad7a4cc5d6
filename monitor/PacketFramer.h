// The packet monitor's framer: cuts the received byte stream at the 0x23 0x23
// marker into packets (length byte, CRC low byte first, data, final byte) and
// classifies each, plus the text and colour of the line that shows one.
#pragma once
#include <cstdint>
#include <string>

enum class PacketClass { OK, CRC, PART, BAD, OK_NA, CRCNA };

// The screen operation the framer needs: show one classified run of bytes.
class PacketScreen {
public:
    virtual ~PacketScreen() = default;
    virtual void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) = 0;
};

class PacketFramer {
public:
    static constexpr int BufferSize = 140;
    static constexpr std::uint8_t MarkerByte = 0x23;
    // A packet is ended by silence after more than this many timer ticks.
    static constexpr int SilenceTicks = 2;

    explicit PacketFramer(PacketScreen& screen) : screen_(screen) {}

    // Starts hunting for a marker with an empty buffer; `tick` is the
    // reference for silence.
    void Start(int tick);
    // Handles one received byte in arrival order.
    void Feed(std::uint8_t byte);
    // A batch of bytes has been handled at `tick`: silence counts from here.
    void BatchDone(int tick);
    // No bytes were waiting at `tick`: inside a packet, more than two ticks
    // since the last batch end the packet by silence.
    void Idle(int tick);
    // Ends the packet under way: OK_NA or CRCNA when only the final byte is
    // missing, PART otherwise. Does nothing while hunting.
    void EndBySilence();

    bool InPacket() const { return inPacket_; }
    int Count() const { return count_; }

private:
    void FeedHunting(std::uint8_t byte);
    void FeedInPacket(std::uint8_t byte);
    void StartPacket();
    void Show(int length, PacketClass cls) { screen_.ClassifyAndShow(buffer_, length, cls); }

    PacketScreen& screen_;
    std::uint8_t buffer_[BufferSize] = {};
    bool inPacket_ = false;
    int count_ = 0;
    int markerRun_ = 0;
    std::uint8_t dataLength_ = 0; // N, packet byte 2
    std::uint16_t receivedCrc_ = 0;
    int referenceTick_ = 0;
};

// "OK   : ", "CRC  : ", "PART : ", "BAD  : ", "OK_NA: ", "CRCNA: ".
const char* PacketPrefix(PacketClass cls);

// The prefix, then every byte as two upper-case hexadecimal digits and a
// blank; for OK and CRC the final byte stands in brackets: "[AA] ".
std::string PacketLineText(const std::uint8_t* bytes, int length, PacketClass cls);

// Line colour: the view's default text colour for OK and OK_NA, else RGB.
struct PacketColor {
    bool useDefault;
    int red, green, blue;
    bool operator==(const PacketColor&) const = default;
};
PacketColor PacketLineColor(PacketClass cls);
