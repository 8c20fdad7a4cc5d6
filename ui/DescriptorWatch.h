// Tells when a descriptor has bytes to read: a socket notifier that can be
// pointed at another descriptor at any time, also from inside its own
// signal, and keeps its enabled state across the change.
#pragma once
#include <QObject>

class QSocketNotifier;

class DescriptorWatch : public QObject {
    Q_OBJECT
public:
    explicit DescriptorWatch(QObject* parent = nullptr) : QObject(parent) {}

    // Watches `fd` from now on; -1: nothing.
    void Watch(int fd);
    // Whether Readable may be signalled (kept across Watch).
    void SetEnabled(bool enabled);
    // Whether a descriptor is being watched.
    bool Armed() const { return notifier_ != nullptr; }

signals:
    // The descriptor has bytes waiting (or reports a hang-up or an error).
    void Readable();

private:
    QSocketNotifier* notifier_ = nullptr;
    bool enabled_ = true;
};
