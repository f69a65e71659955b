#include "platform/OutputCapture.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Present only in sanitizer builds: their reports must not vanish into the pipe.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace platform {

namespace {

// What the pipe's owner is signalled with when anything is written to it.
int WrittenSignal() { return SIGRTMIN + 6; }

// Shared with the signal handler, hence plain atomics.
std::atomic<int> gAsyncFd{-1};
std::atomic<int> gAsyncFlags{0};
std::atomic<bool> gWritten{false};
std::atomic<bool> gCaptureActive{false};
std::atomic<int> gDiagnosticsFd{2};
QtMessageHandler gPreviousQtHandler = nullptr;

void OnWritten(int)
{
    const int saved = errno;
    gWritten.store(true, std::memory_order_relaxed);
    // One signal is enough until the main thread catches up: a child that
    // prints in small pieces must not flood it with signals.
    const int fd = gAsyncFd.load(std::memory_order_relaxed);
    if (fd >= 0)
        fcntl(fd, F_SETFL, gAsyncFlags.load(std::memory_order_relaxed) & ~O_ASYNC);
    errno = saved;
}

void WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= std::size_t(n);
    }
}

void QtMessageToOriginalStderr(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray text = (qFormatLogMessage(type, context, message) + u'\n').toLocal8Bit();
    WriteAll(gDiagnosticsFd.load(), text.constData(), std::size_t(text.size()));
    if (type == QtFatalMsg)
        abort();
}

void SetSanitizerReportFd(int fd)
{
    if (__sanitizer_set_report_fd)
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
}

// Descriptor d duplicated above the standard ones, closed on exec; -1 when
// the program was started without it.
int SaveDescriptor(int d) { return fcntl(d, F_DUPFD_CLOEXEC, 3); }

void RestoreDescriptor(int saved, int d)
{
    if (saved >= 0) {
        dup2(saved, d);
        close(saved);
    } else {
        close(d);
    }
}

} // namespace

struct TOutputCapture::TState {
    TSink sink;
    std::mutex lock; // one delivery at a time, in pipe order
    int readFd = -1;
    int wakeFd = -1;
    int savedOut = -1;
    int savedErr = -1;
    bool active = false;
    std::thread reader;
    std::vector<char> buffer = std::vector<char>(1 << 16);

    // Reads and delivers up to `limit` bytes (all that is there when limit
    // is negative); the lock is held.
    void Drain(long limit)
    {
        while (limit != 0) {
            const std::size_t want = limit < 0 ? buffer.size() : std::min<std::size_t>(buffer.size(), std::size_t(limit));
            const ssize_t n = read(readFd, buffer.data(), want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return; // empty (EAGAIN), or every writer gone
            if (limit > 0)
                limit -= n;
            sink(buffer.data(), std::size_t(n));
        }
    }

    void ReaderLoop()
    {
        pollfd fds[2] = {{readFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                std::lock_guard guard(lock);
                // A bounded share per turn, so a catch-up on the main thread
                // never waits long behind a flood.
                Drain(1 << 20);
            }
            if ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN))
                return;
        }
    }
};

TOutputCapture::TOutputCapture(TSink sink) : F(std::make_unique<TState>()) { F->sink = std::move(sink); }

TOutputCapture::~TOutputCapture() { Stop(); }

bool TOutputCapture::Active() const { return F->active; }

int TOutputCapture::OriginalStderr() const { return F->active && F->savedErr >= 0 ? F->savedErr : 2; }

bool TOutputCapture::Start()
{
    if (F->active || gCaptureActive.exchange(true))
        return false;
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) {
        gCaptureActive = false;
        return false;
    }
    F->wakeFd = eventfd(0, EFD_CLOEXEC);
    if (F->wakeFd < 0) {
        close(p[0]);
        close(p[1]);
        gCaptureActive = false;
        return false;
    }
    // A larger pipe means fewer turns of the reader for a chatty child.
    (void)fcntl(p[1], F_SETPIPE_SZ, 1 << 20);
    F->readFd = p[0];
    fflush(stdout);
    fflush(stderr);
    F->savedOut = SaveDescriptor(1);
    F->savedErr = SaveDescriptor(2);

    gDiagnosticsFd = F->savedErr >= 0 ? F->savedErr : 2;
    gPreviousQtHandler = qInstallMessageHandler(&QtMessageToOriginalStderr);
    SetSanitizerReportFd(gDiagnosticsFd);

    struct sigaction action {};
    action.sa_handler = &OnWritten;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(WrittenSignal(), &action, nullptr);
    // Every write signals this (the main) thread, before the writer's call returns.
    f_owner_ex owner{F_OWNER_TID, gettid()};
    fcntl(F->readFd, F_SETSIG, WrittenSignal());
    fcntl(F->readFd, F_SETOWN_EX, &owner);
    const int flags = fcntl(F->readFd, F_GETFL) | O_NONBLOCK;
    gAsyncFlags = flags;
    gAsyncFd = F->readFd;
    gWritten = false;
    fcntl(F->readFd, F_SETFL, flags | O_ASYNC);

    dup2(p[1], 1);
    dup2(p[1], 2);
    close(p[1]);
    // C-level printing behaves as on a terminal: each line is written when it ends.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // The reader takes no signal: those meant for the process go elsewhere.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    F->reader = std::thread([s = F.get()] { s->ReaderLoop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    F->active = true;
    return true;
}

void TOutputCapture::Pump()
{
    if (!F->active)
        return;
    // C-level printing of this process waits in its buffers until flushed.
    fflush(stdout);
    fflush(stderr);
    std::lock_guard guard(F->lock);
    // Exactly what is there now: a child writing without pause cannot keep
    // the caller here.
    int available = 0;
    if (ioctl(F->readFd, FIONREAD, &available) == 0 && available > 0)
        F->Drain(available);
}

void TOutputCapture::CatchUp()
{
    if (!gWritten.load(std::memory_order_relaxed) || !F->active)
        return;
    // Cleared before the signal is armed again, and the pipe read after: a
    // write in between is then either read now or signalled again.
    gWritten = false;
    fcntl(F->readFd, F_SETFL, gAsyncFlags.load() | O_ASYNC);
    Pump();
}

void TOutputCapture::Stop()
{
    if (!F->active)
        return;
    Pump();
    const std::uint64_t one = 1;
    WriteAll(F->wakeFd, reinterpret_cast<const char*>(&one), sizeof one);
    F->reader.join();

    gAsyncFd = -1;
    fcntl(F->readFd, F_SETFL, gAsyncFlags.load());
    signal(WrittenSignal(), SIG_IGN);
    gWritten = false;

    SetSanitizerReportFd(2);
    qInstallMessageHandler(gPreviousQtHandler);
    gDiagnosticsFd = 2;
    RestoreDescriptor(F->savedOut, 1);
    RestoreDescriptor(F->savedErr, 2);
    F->savedOut = F->savedErr = -1;
    close(F->readFd);
    close(F->wakeFd);
    F->readFd = F->wakeFd = -1;
    F->active = false;
    gCaptureActive = false;
}

} // namespace platform
