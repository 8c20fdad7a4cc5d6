// Tells when the serial port has bytes to read: a socket notifier on the
// duplicate descriptor a PortFollower keeps, so that it never polls a
// descriptor the port has closed meanwhile. Follow() re-arms it for another
// port.
#pragma once
#include "serial/PortFollower.h"

#include <QObject>

class QSocketNotifier;
class Rs232Port;

class PortWatch : public QObject {
    Q_OBJECT
public:
    explicit PortWatch(QObject* parent = nullptr);
    ~PortWatch() override;

    // Watches `port` from now on. Re-arms only when it differs from the port
    // watched: another object, another descriptor, or a descriptor that now
    // names another file. No port, or one that is not open: nothing watched.
    void Follow(const Rs232Port* port) { follower_.Follow(port); }
    // Whether Readable may be signalled (kept across re-arming).
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    // Whether a port is being watched, and which.
    bool Armed() const { return notifier_ != nullptr; }
    const Rs232Port* Watched() const { return follower_.Port(); }

signals:
    // The watched port has bytes waiting (or reports a hang-up or an error).
    void Readable();

private:
    void Watch(int fd);

    QSocketNotifier* notifier_ = nullptr;
    bool enabled_ = true;
    PortFollower follower_{[this](int fd) { Watch(fd); }};
};
