#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The self-pipe: the handler may only write to it (async-signal-safe).
int gPipe[2] = {-1, -1};
std::atomic<int> gReceived{0};
struct sigaction gPrevious[2];
constexpr int kSignals[2] = {SIGTERM, SIGHUP};

void OnSignal(int signo)
{
    if (gReceived.fetch_add(1) > 0)
        _exit(TTerminationSignals::ImmediateExitStatus(signo));
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    gReceived = 0;
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TTerminationSignals::Drain);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The pipe wakes the event loop; other calls just go on.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

TTerminationSignals::~TTerminationSignals()
{
    if (!FNotifier)
        return;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    delete FNotifier;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TTerminationSignals::Drain()
{
    char byte = 0;
    int last = 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        last = static_cast<unsigned char>(byte);
    if (last)
        emit Requested(last);
}

} // namespace platform
