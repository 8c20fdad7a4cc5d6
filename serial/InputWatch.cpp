#include "serial/InputWatch.h"

#include "base/Timing.h"

#include <chrono>
#include <utility>

InputWatch::InputWatch(Wake wake) : wake_(std::move(wake)), thread_([this] { Run(); }) {}

InputWatch::~InputWatch() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void InputWatch::Watch(int fd) {
    {
        const std::lock_guard lock(mutex_);
        watching_ = fd >= 0;
        if (watching_) source_ = InputSourceOf(fd);
        armed_ = false;
        ++generation_;
    }
    changed_.notify_all();
}

void InputWatch::Arm() {
    {
        const std::lock_guard lock(mutex_);
        armed_ = true;
    }
    changed_.notify_all();
}

void InputWatch::Disarm() {
    const std::lock_guard lock(mutex_);
    armed_ = false;
}

bool InputWatch::Waiting() {
    InputSource source;
    {
        const std::lock_guard lock(mutex_);
        if (!watching_) return false;
        source = source_;
    }
    return InputWaiting(source);
}

// The look itself runs unlocked, so that Watch, Arm and Disarm never wait for
// the port; what it found counts only if nothing changed meanwhile.
void InputWatch::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!armed_ || !watching_) {
            changed_.wait(lock);
            continue;
        }
        const InputSource source = source_;
        const unsigned generation = generation_;
        lock.unlock();
        const bool waiting = InputWaiting(source);
        lock.lock();
        if (waiting && armed_ && generation == generation_ && !stop_) {
            armed_ = false;
            lock.unlock();
            wake_();
            lock.lock();
            continue;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(Timing().InputWatchMs));
    }
}
