// The packet monitor's receive loop: passes over the port, silence, and the
// watched duplicate of the port's descriptor.
#include "monitor/PacketMonitor.h"

PacketMonitor::~PacketMonitor() {
    ReleaseLine(this);
}

void PacketMonitor::Start() {
    framer_.Start(tickCount_);
    lastWasMarker_ = false;
    receiving_ = true;
    ClaimLine(this, MonitorActivity, LineHold::EveryByte);
    Pass(false);
}

void PacketMonitor::Stop() {
    ReleaseLine(this);
    receiving_ = false;
    Unwatch();
}

void PacketMonitor::Tick() {
    ++tickCount_;
    if (!receiving_) return;
    Pass(false);
    if (watchPaused_) {
        watchPaused_ = false;
        screen_.EnableWatch(true);
    }
}

// One pass: everything the port has waiting, in arrival order, then the check
// for silence.
void PacketMonitor::Pass(bool woken) {
    if (!receiving_) return;
    follower_.Follow(Port());
    // Another conversation's answers are its own: the monitor takes the line
    // once it is free.
    if (!ClaimLine(this, MonitorActivity, LineHold::EveryByte)) {
        framer_.Idle(tickCount_);
        return;
    }
    passMs_ = clock_ ? clock_() : 0;
    passBytes_ = 0;
    line_.Pump(0);
    if (passBytes_ > 0) {
        screen_.RestartTicks();
        framer_.BatchDone(tickCount_);
    } else {
        framer_.Idle(tickCount_);
        // Woken with nothing to read: the far end hung up or the device
        // reports an error. Wait for the next tick instead of spinning.
        if (woken && follower_.Descriptor() >= 0) {
            screen_.EnableWatch(false);
            watchPaused_ = true;
        }
    }
}

void PacketMonitor::LineBytes(const std::uint8_t* bytes, std::size_t count) {
    passBytes_ += static_cast<int>(count);
    for (std::size_t i = 0; i < count; ++i)
        Feed(bytes[i], passMs_);
}

// Bytes of one pass share its time. A line starts with the first byte of the
// hunting buffer, or with the marker that began its packet.
void PacketMonitor::Feed(std::uint8_t byte, std::int64_t now) {
    byteMs_ = now;
    const bool hunting = !framer_.InPacket();
    const bool marker = hunting && byte == PacketFramer::MarkerByte;
    if (marker && !lastWasMarker_) markerMs_ = now;
    lastWasMarker_ = marker;
    if (hunting && framer_.Count() == 0) huntStartMs_ = now;
    const int shownBefore = shown_;
    framer_.Feed(byte);
    // A line shown meanwhile leaves a hunting buffer that starts afresh with
    // this byte, or with the marker half kept before it.
    if (shown_ != shownBefore && !framer_.InPacket() && framer_.Count() > 0)
        huntStartMs_ = framer_.Count() == 2 ? markerMs_ : now;
}

void PacketMonitor::Dating::ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) {
    PacketMonitor& m = monitor_;
    const std::int64_t start = cls == PacketClass::BAD ? m.huntStartMs_ : m.markerMs_;
    m.lineTime_ = {start, m.previousEndMs_ < 0 ? -1 : start - m.previousEndMs_};
    m.previousEndMs_ = m.byteMs_;
    ++m.shown_;
    m.screen_.ClassifyAndShow(bytes, length, cls);
}

void PacketMonitor::Unwatch() {
    follower_.Unwatch();
    watchPaused_ = false;
}
