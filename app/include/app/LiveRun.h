#pragma once
// When live mode runs the script: a pause after the last edit, one run at a
// time, a time limit per run, and a pause of the whole mode after a run that
// outlived it. The window does the runs; this class only decides when.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

struct TLiveSettings {
    int DelayMs = 300;       // quiet time after the last edit before a run
    int TimeLimitMs = 2000;  // a live run still going after this is stopped
};

class TLiveSchedule : public QObject {
public:
    explicit TLiveSchedule(QObject* parent = nullptr);

    void SetSettings(const TLiveSettings& settings);
    const TLiveSettings& Settings() const { return FSettings; }

    // Off: nothing is pending and nothing runs; on: the next edit schedules a run.
    void SetEnabled(bool on);
    bool Enabled() const { return FEnabled; }
    // A run hit the limit: nothing runs until the next edit.
    bool Paused() const { return FPaused; }

    // The text changed or a key was pressed: the pause starts again, and a
    // paused mode resumes.
    void Edited();
    // The run could not start (another was in progress): try again after the pause.
    void Retry();
    // Brackets a live run: arms and disarms the time limit.
    void RunStarted();
    void RunEnded();
    bool Running() const { return FRunning; }
    // How long the current live run has gone on.
    qint64 RunMilliseconds() const { return FRunClock.elapsed(); }
    // Live runs started so far.
    int Started() const { return FStarted; }
    // The current (or last) live run outlived the time limit.
    bool LimitReached() const { return FLimitReached; }
    // Stops the mode until the next edit.
    void Pause();

    // The pause after the last edit has ended.
    std::function<void()> OnRunDue;
    // The run outlived the limit; again every second while it goes on, so a
    // script that catches the first stop is forced to end.
    std::function<void()> OnLimit;

private:
    TLiveSettings FSettings;
    QTimer FPause;
    QTimer FLimit;
    QElapsedTimer FRunClock;
    bool FEnabled = false;
    bool FPaused = false;
    bool FRunning = false;
    bool FLimitReached = false;
    int FStarted = 0;
};
