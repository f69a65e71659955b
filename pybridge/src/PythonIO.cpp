#include "pybridge/PythonIO.h"

#include "platform/Dialogs.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <algorithm>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

namespace pybridge {

TPythonInputOutput::TPythonInputOutput(TComponent* AOwner) : TComponent(AOwner) {}

TPythonInputOutput::~TPythonInputOutput() = default;

namespace {

quintptr CurrentThreadWriter() { return reinterpret_cast<quintptr>(QThread::currentThreadId()); }

} // namespace

qsizetype TPythonInputOutput::WriterEntry(quintptr Writer)
{
    for (qsizetype i = 0; i < FLinesPerThread.size(); ++i)
        if (FLinesPerThread.at(i).ThreadId == Writer)
            return i;
    FLinesPerThread.append({QString(), Writer});
    return FLinesPerThread.size() - 1;
}

void TPythonInputOutput::UpdateWriterLine(quintptr Writer) { FLinesPerThread[WriterEntry(Writer)].Text = FLine_Buffer; }

bool TPythonInputOutput::ThreadWriteQueued()
{
    if (!platform::IsMainThread())
        return QueuesForeignWrites();
    CatchUp();
    return false;
}

void TPythonInputOutput::Write(const QString& S)
{
    const bool queued = ThreadWriteQueued();
    WriteText(S, CurrentThreadWriter(), queued);
}

void TPythonInputOutput::WriteFrom(const QString& S, quintptr Writer) { WriteText(S, Writer, QueuesForeignWrites()); }

void TPythonInputOutput::WriteText(const QString& S, quintptr Writer, bool Queued)
{
    FWriteCount.fetch_add(1, std::memory_order_relaxed);
    QMutexLocker lock(&FLock);
    FLine_Buffer = FLinesPerThread.at(WriterEntry(Writer)).Text;
    if (FRawOutput) {
        FLine_Buffer += S;
        FlushLine(Writer, Queued);
    } else {
        // Runs of plain characters are appended at once; a line is cut as
        // soon as it grows past the maximum length, as if added one by one.
        const qsizetype n = S.size();
        const QChar* p = S.constData();
        qsizetype i = 0;
        while (i < n) {
            const char16_t u = p[i].unicode();
            if (u == 10) {
                FlushLine(Writer, Queued);
                ++i;
                continue;
            }
            if (u < 32 && u != 9) {
                ++i; // other control characters are dropped
                continue;
            }
            qsizetype end = i + 1;
            while (end < n) {
                const char16_t v = p[end].unicode();
                if (v == 10 || (v < 32 && v != 9))
                    break;
                ++end;
            }
            while (i < end) {
                const qsizetype room = std::max<qsizetype>(FMaxLineLength + 1 - FLine_Buffer.size(), 1);
                const qsizetype take = std::min(room, end - i);
                FLine_Buffer.append(p + i, take);
                i += take;
                if (FLine_Buffer.size() > FMaxLineLength)
                    FlushLine(Writer, Queued);
            }
        }
    }
    UpdateWriterLine(Writer);
}

void TPythonInputOutput::WriteLine(const QString& S) { Write(S + QChar(10)); }

void TPythonInputOutput::FlushUnfinishedLine()
{
    const bool queued = ThreadWriteQueued();
    FlushWriterLine(CurrentThreadWriter(), queued);
}

void TPythonInputOutput::FlushUnfinishedLine(quintptr Writer) { FlushWriterLine(Writer, QueuesForeignWrites()); }

void TPythonInputOutput::FlushWriterLine(quintptr Writer, bool Queued)
{
    QMutexLocker lock(&FLock);
    FLine_Buffer = FLinesPerThread.at(WriterEntry(Writer)).Text;
    if (!FLine_Buffer.isEmpty())
        FlushLine(Writer, Queued);
}

void TPythonInputOutput::FlushLine(quintptr Writer, bool Queued)
{
    if (FDelayWrites || Queued)
        AddPendingWrite();
    else if (FUnicodeIO)
        SendUniData(FLine_Buffer);
    else
        SendData(platform::ToAnsi(FLine_Buffer));
    FLine_Buffer.clear();
    UpdateWriterLine(Writer);
}

void TPythonInputOutput::AddPendingWrite()
{
    FQueue.append(FLine_Buffer);
    if (FQueue.size() > FMaxLines) {
        FQueue.removeFirst();
    } else {
        FQueuedCount.store(FQueue.size(), std::memory_order_relaxed);
        PendingWriteAdded();
    }
}

QStringList TPythonInputOutput::QueuedLines() const
{
    QMutexLocker lock(&FLock);
    return FQueue;
}

void TPythonInputOutput::SendData(const QByteArray& Data)
{
    if (OnSendData)
        OnSendData(this, Data);
}

void TPythonInputOutput::ReceiveData(QByteArray& Data)
{
    Data.clear();
    if (OnReceiveData)
        OnReceiveData(this, Data);
}

void TPythonInputOutput::SendUniData(const QString& Data)
{
    if (OnSendUniData)
        OnSendUniData(this, Data);
}

void TPythonInputOutput::ReceiveUniData(QString& Data)
{
    Data.clear();
    if (OnReceiveUniData)
        OnReceiveUniData(this, Data);
}

void TPythonInputOutput::PendingWriteAdded() {}

TPythonGUIInputOutput::TPythonGUIInputOutput(TComponent* AOwner)
    : TPythonInputOutput(AOwner), FWinHandle(std::make_unique<QObject>())
{
    FUnicodeIO = true;
    // The flush requests must run on the user-interface thread.
    if (QCoreApplication* app = QCoreApplication::instance())
        FWinHandle->moveToThread(app->thread());
}

TPythonGUIInputOutput::~TPythonGUIInputOutput() = default;

QPlainTextEdit* TPythonGUIInputOutput::Output() const { return FCustomMemo.data(); }

void TPythonGUIInputOutput::SetOutput(QPlainTextEdit* Value) { FCustomMemo = Value; }

namespace {

int PaneLineCount(QPlainTextEdit* pane)
{
    // An empty pane holds no lines, though the document keeps one empty block.
    return pane->document()->isEmpty() ? 0 : pane->document()->blockCount();
}

} // namespace

// Lines are collected and reach the pane in one edit per round of the event
// loop (or at FlushDisplay): the pane ends up exactly as if each line had been
// appended alone, with the first line dropped whenever the pane held MaxLines
// or more, but without laying the text out once per line.
void TPythonGUIInputOutput::DisplayString(const QString& S)
{
    QPlainTextEdit* pane = FCustomMemo.data();
    if (!pane)
        return;
    if (FPendingTotal == 0)
        FPendingLimit = std::max({PaneLineCount(pane), FMaxLines, 1});
    FPending.append(S);
    ++FPendingTotal;
    if (FPending.size() > FPendingLimit)
        FPending.removeFirst();
    if (!FDisplayScheduled) {
        FDisplayScheduled = true;
        if (FDisplayInterval > 0)
            QTimer::singleShot(FDisplayInterval, FWinHandle.get(), [this] { FlushDisplay(); });
        else
            QMetaObject::invokeMethod(FWinHandle.get(), [this] { FlushDisplay(); }, Qt::QueuedConnection);
    }
}

void TPythonGUIInputOutput::FlushDisplay()
{
    FDisplayScheduled = false;
    QPlainTextEdit* pane = FCustomMemo.data();
    const qsizetype added = FPendingTotal;
    QStringList pending;
    pending.swap(FPending);
    FPendingTotal = 0;
    if (!pane || added == 0)
        return;

    const qsizetype before = PaneLineCount(pane);
    const qsizetype after = (before > 0 && before >= FMaxLines)
                                ? before
                                : std::min<qsizetype>(before + added, std::max(FMaxLines, 1));
    const qsizetype keepOld = std::max<qsizetype>(0, after - added);
    const qsizetype keepNew = std::min<qsizetype>(after - keepOld, pending.size());

    // The user's selection and view stay while output arrives (the text is
    // changed through a cursor of its own); the view follows the output only
    // when it showed the end.
    QScrollBar* bar = pane->verticalScrollBar();
    const bool follow = bar->value() >= bar->maximum();
    const int top = bar->value();
    QTextDocument* doc = pane->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    const qsizetype removed = before - keepOld;
    if (keepOld == 0) {
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
    } else if (before > keepOld) {
        cursor.movePosition(QTextCursor::Start);
        cursor.setPosition(doc->findBlockByNumber(int(before - keepOld)).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    QString text = QStringList(pending.mid(pending.size() - keepNew)).join(u'\n');
    // Only a line feed ends a pane line; the pane would take these as breaks.
    text.replace(QChar::ParagraphSeparator, u' ').replace(QChar::LineSeparator, u' ');
    cursor.movePosition(QTextCursor::End);
    if (keepOld > 0)
        text.prepend(u'\n');
    cursor.insertText(text);
    cursor.endEditBlock();
    bar->setValue(follow ? bar->maximum() : std::max<int>(0, top - int(removed)));
}

void TPythonGUIInputOutput::SendUniData(const QString& Data)
{
    if (OnSendUniData)
        TPythonInputOutput::SendUniData(Data);
    else
        DisplayString(Data);
}

void TPythonGUIInputOutput::SendData(const QByteArray& Data)
{
    if (OnSendData)
        TPythonInputOutput::SendData(Data);
    else
        DisplayString(platform::FromAnsi(Data));
}

QString TPythonGUIInputOutput::AskForInput()
{
    // The prompt the script wrote is in the pane before the box opens.
    FlushDisplay();
    platform::InputRequest request;
    request.owner = nullptr;
    request.caption = QStringLiteral("Query from Python");
    request.prompt = QStringLiteral("Enter text");
    return platform::CurrentDialogs().InputBox(request).value_or(QString());
}

void TPythonGUIInputOutput::ReceiveUniData(QString& Data)
{
    if (OnReceiveUniData)
        TPythonInputOutput::ReceiveUniData(Data);
    else
        Data = AskForInput();
}

void TPythonGUIInputOutput::ReceiveData(QByteArray& Data)
{
    if (OnReceiveData)
        TPythonInputOutput::ReceiveData(Data);
    else
        Data = platform::ToAnsi(AskForInput());
}

void TPythonGUIInputOutput::PendingWriteAdded()
{
    // One request drains every line queued until it runs: a thread printing
    // fast must not post one event per line.
    if (!FDrainPosted.exchange(true))
        QMetaObject::invokeMethod(FWinHandle.get(), [this] { FlushPendingWrites(); }, Qt::QueuedConnection);
}

void TPythonGUIInputOutput::FlushPendingWrites()
{
    FDrainPosted = false;
    // The emptiness test runs under the lock too: writers on other threads
    // change the queue at any time.
    QMutexLocker lock(&FLock);
    QStringList lines;
    lines.swap(FQueue);
    FQueuedCount.store(0, std::memory_order_relaxed);
    for (const QString& line : std::as_const(lines))
        DisplayString(line);
}

void TPythonGUIInputOutput::CatchUp()
{
    if (OnCatchUp)
        OnCatchUp();
    if (QueuedCount() > 0)
        FlushPendingWrites();
}

} // namespace pybridge
