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

    TSendDataEvent OnSendData;
    TReceiveDataEvent OnReceiveData;
    TSendUniDataEvent OnSendUniData;
    TReceiveUniDataEvent OnReceiveUniData;

    void Write(const QString& S);
    void WriteLine(const QString& S);
    // Ends the calling thread's unfinished line, if any, so that it is shown
    // now and never joined to later output.
    void FlushUnfinishedLine();

    virtual void SendData(const QByteArray& Data);
    virtual void ReceiveData(QByteArray& Data);
    virtual void SendUniData(const QString& Data);
    virtual void ReceiveUniData(QString& Data);
    virtual void PendingWriteAdded();

    // Lines waiting in the queue (tests and the drain).
    QStringList QueuedLines() const;

protected:
    void UpdateCurrentThreadLine();
    void FlushLine();
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

private:
    qsizetype CurrentThreadEntry();
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

private:
    QString AskForInput();

    QPointer<QPlainTextEdit> FCustomMemo;
    QStringList FPending;        // the newest lines not yet in the pane
    qsizetype FPendingTotal = 0; // lines displayed since the last flush
    qsizetype FPendingLimit = 0;
    bool FDisplayScheduled = false;
    int FDisplayInterval = 0;
    std::unique_ptr<QObject> FWinHandle; // receives the flush requests on the main thread
};

} // namespace pybridge
