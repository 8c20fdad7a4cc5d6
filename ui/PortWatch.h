// Tells when the serial port has bytes to read: a socket notifier on a
// duplicate of the port's descriptor, so that it never polls a descriptor
// the port has closed meanwhile. Follow() re-arms it for another port.
#pragma once
#include <QObject>
#include <sys/types.h>

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
    void Follow(const Rs232Port* port);
    // Whether Readable may be signalled (kept across re-arming).
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    // Whether a port is being watched, and which.
    bool Armed() const { return notifier_ != nullptr; }
    const Rs232Port* Watched() const { return port_; }

signals:
    // The watched port has bytes waiting (or reports a hang-up or an error).
    void Readable();

private:
    bool SameFile(int fd) const;
    void Unwatch();

    QSocketNotifier* notifier_ = nullptr;
    bool enabled_ = true;
    int fd_ = -1; // our duplicate
    const Rs232Port* port_ = nullptr;
    int handle_ = -1; // the port's descriptor when armed
    dev_t dev_ = 0, rdev_ = 0;
    ino_t ino_ = 0;
};
