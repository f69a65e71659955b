#pragma once
// Captures what the process writes to its standard output and error
// descriptors (1 and 2): both become the write end of one pipe, so child
// processes, direct descriptor writes and C-level printing are caught in the
// order the kernel received them. A reader thread empties the pipe as soon
// as anything arrives, so no writer ever waits on a full pipe; the bytes go
// to a sink. The program's own diagnostics (Qt's messages, sanitizer
// reports) keep going to the standard error it was started with.
//
// One capture per process: descriptors 1 and 2 are process-wide.
#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

class TOutputCapture {
public:
    // Called with the bytes read, in order, never concurrently with itself;
    // from the reader thread or from the thread that calls Pump or CatchUp.
    using TSink = std::function<void(const char* data, std::size_t size)>;

    explicit TOutputCapture(TSink sink);
    // Stops the capture (see Stop).
    ~TOutputCapture();
    TOutputCapture(const TOutputCapture&) = delete;
    TOutputCapture& operator=(const TOutputCapture&) = delete;

    // Points descriptors 1 and 2 at the pipe and starts the reader. False,
    // with the descriptors untouched, when the system refuses (the program
    // then simply runs without capture), or when another capture is active.
    bool Start();
    // Delivers what is left in the pipe, puts the original descriptors back
    // and ends the reader.
    void Stop();
    bool Active() const;

    // Delivers everything written to the descriptors before this call.
    void Pump();
    // On the main thread: like Pump, but only when something was written
    // since the last catch-up; otherwise it costs a memory read. A write to
    // the pipe signals the main thread before the writer's call returns, so
    // output a script caused (a child it waited for, a descriptor write) is
    // never overtaken by what it prints next.
    void CatchUp();

    // The standard error the program was started with (2 when not active).
    int OriginalStderr() const;

private:
    struct TState;
    std::unique_ptr<TState> F;
};

} // namespace platform
