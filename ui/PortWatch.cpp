#include "ui/PortWatch.h"

#include "serial/Rs232.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PortWatch::PortWatch(QObject* parent) : QObject(parent) {}

PortWatch::~PortWatch() {
    Unwatch();
}

bool PortWatch::SameFile(int fd) const {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    return st.st_dev == dev_ && st.st_ino == ino_ && st.st_rdev == rdev_;
}

void PortWatch::Follow(const Rs232Port* port) {
    const int fd = port ? port->Handle : -1;
    if (fd < 0) {
        Unwatch();
        return;
    }
    if (port == port_ && fd == handle_ && notifier_ && SameFile(fd)) return;
    Unwatch();
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        Unwatch(); // the caller's timer still reads the port
        return;
    }
    port_ = port;
    handle_ = fd;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    rdev_ = st.st_rdev;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    notifier_->setEnabled(enabled_);
    connect(notifier_, &QSocketNotifier::activated, this, &PortWatch::Readable);
}

void PortWatch::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (notifier_ && notifier_->isEnabled() != enabled) notifier_->setEnabled(enabled);
}

void PortWatch::Unwatch() {
    if (notifier_) {
        // May run inside the notifier's own signal: disable now, free later.
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    port_ = nullptr;
    handle_ = -1;
}
