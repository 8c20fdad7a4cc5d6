// Tells when a descriptor has bytes to read: a socket notifier that can be
// pointed at another descriptor at any time, also from inside its own
// signal, and keeps its enabled state across the change. On Windows, where a
// COM handle offers the event loop nothing to watch, a thread looks at the
// port's input queue (InputWatch) and its wake arrives as a queued call.
#pragma once
#include <QObject>
#include <memory>

class QSocketNotifier;
class InputWatch;

class DescriptorWatch : public QObject {
    Q_OBJECT
public:
    explicit DescriptorWatch(QObject* parent = nullptr);
    ~DescriptorWatch() override;

    // Watches `fd` from now on; -1: nothing.
    void Watch(int fd);
    // Whether Readable may be signalled (kept across Watch).
    void SetEnabled(bool enabled);
    // Whether a descriptor is being watched.
    bool Armed() const;

signals:
    // The descriptor has bytes waiting (or reports a hang-up or an error).
    void Readable();

private:
    QSocketNotifier* notifier_ = nullptr;
    bool enabled_ = true;
#ifdef _WIN32
    // The thread that looks at the port, and the descriptor it looks at.
    std::unique_ptr<InputWatch> input_;
    int fd_ = -1;
    void Woken();
#endif
};
