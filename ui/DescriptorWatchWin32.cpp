// The descriptor watch on Windows: an InputWatch thread looks at the port's
// input queue while the watch is enabled and wakes the GUI thread with a
// queued call; Readable is signalled there, and the watch arms again after
// it, as a socket notifier fires again while bytes are left; a wake whose
// bytes are gone by then is dropped.
#include "serial/InputWatch.h"
#include "ui/DescriptorWatch.h"

#include <QMetaObject>
#include <QPointer>

// The thread is stopped in the body, while the object can still take the
// queued call a last wake may have posted (its destruction drops it).
DescriptorWatch::DescriptorWatch(QObject* parent)
    : QObject(parent), input_(std::make_unique<InputWatch>([this] {
          QMetaObject::invokeMethod(
              this, [this] { Woken(); }, Qt::QueuedConnection);
      })) {}

DescriptorWatch::~DescriptorWatch() {
    input_.reset();
}

bool DescriptorWatch::Armed() const {
    return fd_ >= 0;
}

void DescriptorWatch::Watch(int fd) {
    fd_ = fd;
    input_->Watch(fd);
    if (fd >= 0 && enabled_) input_->Arm();
}

void DescriptorWatch::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (fd_ >= 0 && enabled)
        input_->Arm();
    else
        input_->Disarm();
}

void DescriptorWatch::Woken() {
    if (fd_ < 0 || !enabled_) return;
    // A wake taken after other code (a gateway exchange) has read the bytes
    // is no news: as a socket notifier, tell only of bytes that wait now.
    if (!input_->Waiting()) {
        input_->Arm();
        return;
    }
    const QPointer<DescriptorWatch> self(this); // a reader may close its window
    emit Readable();
    if (self && fd_ >= 0 && enabled_) input_->Arm();
}
