// The packet monitor's receive loop: passes over the port, silence, and the
// watched duplicate of the port's descriptor.
#include "monitor/PacketMonitor.h"

PacketMonitor::~PacketMonitor() {
    if (receiving_) PortReadByMonitor = false;
}

void PacketMonitor::Start() {
    framer_.Start(tickCount_);
    lastWasMarker_ = false;
    receiving_ = true;
    PortReadByMonitor = true;
    Pass(false);
}

void PacketMonitor::Stop() {
    if (receiving_) PortReadByMonitor = false;
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
    Rs232Port* port = Port();
    const int waiting = port ? port->InQueue() : 0;
    if (waiting > 0) {
        const std::int64_t now = clock_ ? clock_() : 0;
        for (int i = 0; i < waiting; ++i) {
            port = Port();
            if (!port) break;
            std::uint8_t byte = 0;
            std::uint32_t got = 0;
            port->ReadBlock(&byte, 1, got);
            if (got == 1) Feed(byte, now); // a byte that did not come is skipped
        }
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
