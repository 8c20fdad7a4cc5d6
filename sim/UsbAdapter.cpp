// The USB-serial adapter's hand-over rule, its thread, and a fake sysfs tree
// that stands for the adapter's driver.
#include "sim/UsbAdapter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace sim {

UsbHandOver::Clock::time_point UsbHandOver::NextTick(Clock::time_point now) const {
    if (latency_.count() <= 0 || now <= last_) return std::max(now, last_ + latency_);
    const auto since = now - last_;
    const auto ticks = (since + latency_ - Clock::duration(1)) / latency_; // rounded up, at least 1
    return last_ + ticks * latency_;
}

void UsbHandOver::Put(const std::uint8_t* bytes, std::size_t count, Clock::time_point now,
                      std::chrono::milliseconds latency) {
    if (count == 0) return;
    if (waiting_.empty()) {
        latency_ = latency;
        due_ = NextTick(now);
    }
    const std::size_t before = waiting_.size();
    waiting_.insert(waiting_.end(), bytes, bytes + count);
    // A packet filled goes at once.
    if (before / UsbPacketBytes != waiting_.size() / UsbPacketBytes) due_ = std::min(*due_, now);
}

std::vector<std::uint8_t> UsbHandOver::Take(Clock::time_point now) {
    if (!due_ || now < *due_) return {};
    const auto tick = NextTick(*due_);
    std::size_t count = waiting_.size();
    if (now < tick && *due_ < tick) {
        // Due because packets filled, before the timer ran out: the full
        // packets go, the rest waits for the timer counted from now.
        count -= count % UsbPacketBytes;
        last_ = now;
    } else {
        last_ = tick;
    }
    std::vector<std::uint8_t> out(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
    due_.reset();
    if (!waiting_.empty()) due_ = NextTick(now);
    return out;
}

void UsbHandOver::Clear() {
    waiting_.clear();
    due_.reset();
}

UsbAdapter::UsbAdapter(HandOver hand, LatencySource latency)
    : hand_(std::move(hand)), latency_(std::move(latency)), thread_([this] { Run(); }) {}

UsbAdapter::~UsbAdapter() {
    {
        std::lock_guard lock(m_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void UsbAdapter::Put(const std::uint8_t* bytes, std::size_t count) {
    {
        std::lock_guard lock(m_);
        // The driver's setting is looked at when a wait starts.
        const int ms = rule_.Waiting() == 0 ? latency_() : 0;
        rule_.Put(bytes, count, UsbHandOver::Clock::now(), std::chrono::milliseconds(std::max(ms, 0)));
    }
    wake_.notify_all();
}

bool UsbAdapter::Empty() const {
    std::lock_guard lock(m_);
    return rule_.Waiting() == 0 && !handing_;
}

void UsbAdapter::Clear() {
    std::lock_guard lock(m_);
    rule_.Clear();
}

void UsbAdapter::Run() {
    std::unique_lock lock(m_);
    while (!stop_) {
        const auto due = rule_.Due();
        if (!due) {
            wake_.wait(lock);
            continue;
        }
        if (UsbHandOver::Clock::now() < *due) {
            wake_.wait_until(lock, *due);
            continue;
        }
        const std::vector<std::uint8_t> bytes = rule_.Take(UsbHandOver::Clock::now());
        if (bytes.empty()) continue;
        handing_ = true;
        lock.unlock();
        hand_(bytes);
        lock.lock();
        handing_ = false;
    }
}

std::string MakeFakeAdapterSysfs(const std::string& root, const std::string& devicePath, int latencyMs) {
    namespace fs = std::filesystem;
    struct stat st {};
    if (stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        throw std::runtime_error(devicePath + " is no character device");
    const fs::path base = fs::absolute(root);
    const std::string name = "ttyUSB" + std::to_string(minor(st.st_rdev));
    const fs::path bus = base / "bus" / "usb-serial";
    const fs::path port = bus / "devices" / name;
    const fs::path node =
        base / "dev" / "char" / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    fs::create_directories(port);
    fs::create_directories(node);
    std::error_code ignored;
    fs::remove(port / "subsystem", ignored);
    fs::create_directory_symlink("../..", port / "subsystem");
    fs::remove(node / "device", ignored);
    fs::create_directory_symlink(port, node / "device");
    const fs::path timer = port / "latency_timer";
    std::ofstream(timer) << latencyMs << "\n";
    fs::permissions(timer, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    if (!fs::exists(timer)) throw std::runtime_error("cannot write " + timer.string());
    return timer.string();
}

int ReadLatencyFile(const std::string& path, int fallback) {
    std::ifstream in(path);
    int ms = 0;
    if (in >> ms && ms >= 0) return ms;
    return fallback;
}

} // namespace sim
