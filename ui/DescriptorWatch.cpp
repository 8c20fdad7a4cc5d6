#include "ui/DescriptorWatch.h"

#include <QSocketNotifier>

DescriptorWatch::DescriptorWatch(QObject* parent) : QObject(parent) {}

DescriptorWatch::~DescriptorWatch() = default;

bool DescriptorWatch::Armed() const {
    return notifier_ != nullptr;
}

void DescriptorWatch::Watch(int fd) {
    if (notifier_) {
        // May run inside the notifier's own signal: disable now, free later.
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    notifier_->setEnabled(enabled_);
    connect(notifier_, &QSocketNotifier::activated, this, &DescriptorWatch::Readable);
}

void DescriptorWatch::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (notifier_ && notifier_->isEnabled() != enabled) notifier_->setEnabled(enabled);
}
