#include "ui/PortWatch.h"

#include <QSocketNotifier>

PortWatch::PortWatch(QObject* parent) : QObject(parent) {}

PortWatch::~PortWatch() {
    follower_.Unwatch();
}

void PortWatch::Watch(int fd) {
    if (notifier_) {
        // May run inside the notifier's own signal: disable now, free later.
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    notifier_->setEnabled(enabled_);
    connect(notifier_, &QSocketNotifier::activated, this, &PortWatch::Readable);
}

void PortWatch::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (notifier_ && notifier_->isEnabled() != enabled) notifier_->setEnabled(enabled);
}
