#pragma once
// SIGTERM and SIGHUP (logout, `kill`, a service manager) turned into a Qt
// signal on the main thread, so the program can keep the user's work and end
// cleanly. A second such signal ends the process at once: the first one may
// not be answered while the main thread is stuck in a long call.
#include <QObject>

class QSocketNotifier;

namespace platform {

class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    // One instance per process; it owns the handlers until destroyed.
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;

    // Exit status used when a second signal ends the process at once.
    static int ImmediateExitStatus(int signo) { return 128 + signo; }

signals:
    void Requested(int signo);

private:
    void Drain();
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace platform
