// The scripted far end of the fuzz targets' port.
#include "support/ScriptedPort.h"

#include "base/Timing.h"

#include <cerrno>

namespace {
// The program's time constants, whatever a test has set for the real port.
const TimingConstants RealTiming{};
} // namespace

ScriptedPort::ScriptedPort() {
    Handle = -1;
    Ok = true;
}

void ScriptedPort::Reset(FuzzInput* script) {
    script_ = script;
    queue_.clear();
    hungUp_ = false;
    failWriteAfter_ = -1;
    Writes.clear();
    Reads = Purges = Timeouts = 0;
    ElapsedMs = 0;
    Ok = true;
    LastError = 0;
}

void ScriptedPort::Deliver(const std::string& bytes) {
    queue_.insert(queue_.end(), bytes.begin(), bytes.end());
}

bool ScriptedPort::Failed(int error) {
    Ok = false;
    LastError = error;
    return false;
}

bool ScriptedPort::Arrive() {
    if (!script_ || script_->Empty()) return false;
    const std::uint8_t event = script_->Byte();
    switch (event) {
    case 0x00:
        return false;
    case 0xFF:
        hungUp_ = true;
        return false;
    case 0xFE:
        failWriteAfter_ = script_->Byte() % 8;
        return true; // nothing arrived, but the read may look again
    default:
        Deliver(script_->Bytes(event));
        return true;
    }
}

void ScriptedPort::ReadBlock(void* buffer, int count, std::uint32_t& bytesRead) {
    ++Reads;
    bytesRead = 0;
    if (hungUp_) {
        Failed(EIO);
        return;
    }
    Ok = true;
    if (count <= 0) return;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (bytesRead < static_cast<std::uint32_t>(count)) {
        if (queue_.empty()) {
            if (Arrive()) continue;
            if (hungUp_) {
                Failed(EIO);
                return;
            }
            // The total time-out runs out: not a failure.
            ++Timeouts;
            ElapsedMs += static_cast<long long>(RealTiming.ReadTimeoutPerByteMs) * count +
                         RealTiming.ReadTimeoutBaseMs;
            return;
        }
        out[bytesRead++] = queue_.front();
        queue_.pop_front();
    }
}

void ScriptedPort::WriteBlock(const void* buffer, std::uint32_t count, std::int32_t& bytesWritten) {
    bytesWritten = 0;
    if (count == 0) return;
    if (hungUp_) {
        Failed(EIO);
        return;
    }
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t taken = count;
    if (failWriteAfter_ >= 0 && static_cast<std::uint32_t>(failWriteAfter_) < count)
        taken = static_cast<std::uint32_t>(failWriteAfter_);
    failWriteAfter_ = -1;
    Writes.emplace_back(reinterpret_cast<const char*>(in), count);
    bytesWritten = static_cast<std::int32_t>(taken);
    if (taken < count) {
        ++Timeouts;
        ElapsedMs += RealTiming.WriteTimeoutPerByteMs + RealTiming.ReadTimeoutBaseMs;
        Failed(ETIMEDOUT);
        return;
    }
    Ok = true;
}

bool ScriptedPort::Purge() {
    ++Purges;
    ElapsedMs += RealTiming.PurgePauseMs;
    queue_.clear();
    return !hungUp_;
}

int ScriptedPort::InQueue() {
    return hungUp_ ? 0 : static_cast<int>(queue_.size());
}
