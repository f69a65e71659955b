#pragma once
// Where Python's standard streams go: written text is cut into lines per
// writing thread and handed to the host at once or through a bounded queue.
// The GUI variant shows the lines in a text pane on the main thread.
#include "pybridge/Component.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QObject;
class QPlainTextEdit;

namespace pybridge {

using TSendDataEvent = std::function<void(TComponent* Sender, const QByteArray& Data)>;
using TReceiveDataEvent = std::function<void(TComponent* Sender, QByteArray& Data)>;
using TSendUniDataEvent = std::function<void(TComponent* Sender, const QString& Data)>;
using TReceiveUniDataEvent = std::function<void(TComponent* Sender, QString& Data)>;

class TPythonInputOutput : public TComponent {
public:
    explicit TPythonInputOutput(TComponent* AOwner = nullptr);
    ~TPythonInputOutput() override;

    // The class's own name: "write" lets only the base class take text from
    // threads other than the main one.
    virtual const char* ClassName() const { return "TPythonInputOutput"; }

    int MaxLines() const { return FMaxLines; }
    void SetMaxLines(int Value) { FMaxLines = Value; }
    int MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int Value) { FMaxLineLength = Value; }
    bool DelayWrites() const { return FDelayWrites; }
    void SetDelayWrites(bool Value) { FDelayWrites = Value; }
    bool UnicodeIO() const { return FUnicodeIO; }
    void SetUnicodeIO(bool Value) { FUnicodeIO = Value; }
    bool RawOutput() const { return FRawOutput; }
    void SetRawOutput(bool Value) { FRawOutput = Value; }

    // Standard input reads as an empty file (as python3 < /dev/null):
    // nothing asks the user, and input() raises EOFError.
    bool InputClosed() const { return FInputClosed; }
    void SetInputClosed(bool Value) { FInputClosed = Value; }
    // Writes so far, counted per call: a caller sees whether something was
    // written while it waited.
    quint64 WriteCount() const { return FWriteCount.load(std::memory_order_relaxed); }

    TSendDataEvent OnSendData;
    TReceiveDataEvent OnReceiveData;
    TSendUniDataEvent OnSendUniData;
    TReceiveUniDataEvent OnReceiveUniData;

    // Text written by the calling thread.
    void Write(const QString& S);
    void WriteLine(const QString& S);
    // Text from a source that is not a Python thread (the process's captured
    // descriptors): its unfinished line is kept apart under `Writer`, and its
    // lines are delivered as if written by a thread other than the main one.
    void WriteFrom(const QString& S, quintptr Writer);
    // Ends the calling thread's (or the writer's) unfinished line, if any, so
    // that it is shown now and never joined to later output.
    void FlushUnfinishedLine();
    void FlushUnfinishedLine(quintptr Writer);

    virtual void SendData(const QByteArray& Data);
    virtual void ReceiveData(QByteArray& Data);
    virtual void SendUniData(const QString& Data);
    virtual void ReceiveUniData(QString& Data);
    virtual void PendingWriteAdded();

    // Lines waiting in the queue (tests and the drain).
    QStringList QueuedLines() const;

protected:
    // Whether lines written outside the main thread must take the queue
    // (a class that touches the user interface); the base class delivers
    // them on the writing thread.
    virtual bool QueuesForeignWrites() const { return false; }
    // Called on the main thread before it writes, outside the lock: lets
    // earlier output from elsewhere go first.
    virtual void CatchUp() {}
    // Lines on the queue; readable without the lock.
    qsizetype QueuedCount() const { return FQueuedCount.load(std::memory_order_relaxed); }

    // Whether the calling thread's lines take the queue; on the main thread,
    // lets earlier output go first (CatchUp).
    bool ThreadWriteQueued();
    void WriteText(const QString& S, quintptr Writer, bool Queued);
    void FlushWriterLine(quintptr Writer, bool Queued);
    void UpdateWriterLine(quintptr Writer);
    void FlushLine(quintptr Writer, bool Queued);
    void AddPendingWrite();

    int FMaxLines = 1000;
    QString FLine_Buffer;
    struct TThreadLine {
        QString Text;
        quintptr ThreadId;
    };
    QList<TThreadLine> FLinesPerThread;
    mutable QRecursiveMutex FLock;
    QStringList FQueue;
    bool FDelayWrites = false;
    int FMaxLineLength = 256;
    bool FUnicodeIO = false;
    bool FRawOutput = false;
    bool FInputClosed = false;
    std::atomic<quint64> FWriteCount{0};

    std::atomic<qsizetype> FQueuedCount{0};

private:
    qsizetype WriterEntry(quintptr Writer);
};

class TPythonGUIInputOutput : public TPythonInputOutput {
public:
    explicit TPythonGUIInputOutput(TComponent* AOwner = nullptr);
    ~TPythonGUIInputOutput() override;

    const char* ClassName() const override { return "TPythonGUIInputOutput"; }

    // The pane; it becomes none when the pane is destroyed.
    QPlainTextEdit* Output() const;
    void SetOutput(QPlainTextEdit* Value);

    void DisplayString(const QString& S);
    // Brings the pane up to date with every line displayed so far (it is
    // otherwise updated on the next round of the event loop, or after the
    // display interval).
    void FlushDisplay();
    // Milliseconds that lines may wait before the pane is updated (0: the
    // next round of the event loop). A script printing fast then costs one
    // layout of the pane per interval rather than one per round.
    int DisplayInterval() const { return FDisplayInterval; }
    void SetDisplayInterval(int Value) { FDisplayInterval = Value; }

    void SendData(const QByteArray& Data) override;
    void ReceiveData(QByteArray& Data) override;
    void SendUniData(const QString& Data) override;
    void ReceiveUniData(QString& Data) override;
    void PendingWriteAdded() override;

    // Delivers every queued line to the pane (what the posted flush request runs).
    void FlushPendingWrites();

    // Run on the main thread before each of its writes (the host pumps the
    // captured descriptors here), so that output caused before a print is
    // shown before it.
    std::function<void()> OnCatchUp;

protected:
    bool QueuesForeignWrites() const override { return true; }
    void CatchUp() override;

private:
    QString AskForInput();

    QPointer<QPlainTextEdit> FCustomMemo;
    QStringList FPending;        // the newest lines not yet in the pane
    qsizetype FPendingTotal = 0; // lines displayed since the last flush
    qsizetype FPendingLimit = 0;
    bool FDisplayScheduled = false;
    std::atomic<bool> FDrainPosted{false}; // one flush request waits at a time
    int FDisplayInterval = 0;
    std::unique_ptr<QObject> FWinHandle; // receives the flush requests on the main thread
};

} // namespace pybridge
