#include "pybridge/PythonIO.h"

#include "PaneLines.h"
#include "ScriptedDialogs.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <thread>

#include <gtest/gtest.h>

using namespace pybridge;

namespace {

struct Recorder {
    QStringList lines;
    QList<QByteArray> bytes;
    void Attach(TPythonInputOutput& io)
    {
        io.OnSendUniData = [this](TComponent*, const QString& s) { lines << s; };
        io.OnSendData = [this](TComponent*, const QByteArray& s) { bytes << s; };
    }
};


} // namespace

TEST(PythonInputOutput, CutsTextIntoLinesAndDropsControlCharacters)
{
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    Recorder rec;
    rec.Attach(io);

    io.Write(QStringLiteral("a"));
    EXPECT_TRUE(rec.lines.isEmpty()); // unfinished until a line feed
    io.Write(QStringLiteral("\n"));
    EXPECT_EQ(rec.lines, QStringList{"a"});

    rec.lines.clear();
    io.Write(QStringLiteral("a\r\nb\n"));
    EXPECT_EQ(rec.lines, (QStringList{"a", "b"}));

    rec.lines.clear();
    io.Write(QString::fromUtf16(u"x\ty\x01\x1b" "z\x7f\n"));
    EXPECT_EQ(rec.lines, QStringList{QString::fromUtf16(u"x\tyz\x7f")});

    rec.lines.clear();
    io.WriteLine(QStringLiteral("日本"));
    EXPECT_EQ(rec.lines, QStringList{QStringLiteral("日本")});
}

TEST(PythonInputOutput, LongLinesAreCutAfterMaxLineLength)
{
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    Recorder rec;
    rec.Attach(io);
    io.Write(QString(600, u'x') + u'\n');
    ASSERT_EQ(rec.lines.size(), 3);
    EXPECT_EQ(rec.lines[0].size(), 257);
    EXPECT_EQ(rec.lines[1].size(), 257);
    EXPECT_EQ(rec.lines[2].size(), 86);

    // A million characters without a line feed never make one unbounded line.
    rec.lines.clear();
    io.Write(QString(1000000, u'y'));
    EXPECT_EQ(rec.lines.size(), 1000000 / 257);
}

TEST(PythonInputOutput, RawOutputDeliversEachWriteWhole)
{
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    io.SetRawOutput(true);
    Recorder rec;
    rec.Attach(io);
    io.Write(QStringLiteral("a\nb"));
    EXPECT_EQ(rec.lines, QStringList{"a\nb"});
}

TEST(PythonInputOutput, EightBitPathWhenNotUnicode)
{
    TPythonInputOutput io;
    Recorder rec;
    rec.Attach(io);
    io.Write(QStringLiteral("é\n"));
    EXPECT_TRUE(rec.lines.isEmpty());
    EXPECT_EQ(rec.bytes, QList<QByteArray>{QByteArray("\xC3\xA9")});
}

TEST(PythonInputOutput, ThreadsKeepTheirOwnUnfinishedLines)
{
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    Recorder rec;
    rec.Attach(io);
    io.Write(QStringLiteral("main-"));
    std::thread other([&] { io.Write(QStringLiteral("other-")); });
    other.join();
    io.Write(QStringLiteral("done\n"));
    EXPECT_EQ(rec.lines, QStringList{"main-done"});
}

TEST(PythonInputOutput, QueueKeepsTheNewestMaxLines)
{
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    io.SetDelayWrites(true);
    io.SetMaxLines(3);
    for (int i = 0; i < 5; ++i)
        io.WriteLine(QString::number(i));
    EXPECT_EQ(io.QueuedLines(), (QStringList{"2", "3", "4"}));
}

TEST(PythonGUIInputOutput, ShowsLinesInThePaneBoundedByMaxLines)
{
    QPlainTextEdit pane;
    TPythonGUIInputOutput io;
    EXPECT_TRUE(io.UnicodeIO());
    io.SetOutput(&pane);
    io.SetMaxLines(3);
    for (int i = 1; i <= 5; ++i)
        io.WriteLine(QStringLiteral("line %1").arg(i));
    QCoreApplication::processEvents(); // the pane catches up on the next round
    EXPECT_EQ(PaneLines(pane), (QStringList{"line 3", "line 4", "line 5"}));
    EXPECT_EQ(pane.textCursor().blockNumber(), 2); // caret on the last line
}

TEST(PythonGUIInputOutput, DelayedWritesFromAnotherThreadArriveThroughTheEventLoop)
{
    QPlainTextEdit pane;
    TPythonGUIInputOutput io;
    io.SetOutput(&pane);
    io.SetDelayWrites(true);
    std::thread writer([&] {
        for (int i = 0; i < 1005; ++i)
            io.WriteLine(QString::number(i));
    });
    writer.join();
    EXPECT_TRUE(PaneLines(pane).isEmpty()); // nothing before the drain
    QCoreApplication::processEvents();
    io.FlushDisplay();
    const QStringList lines = PaneLines(pane);
    ASSERT_EQ(lines.size(), 1000);
    EXPECT_EQ(lines.first(), QStringLiteral("5"));
    EXPECT_EQ(lines.last(), QStringLiteral("1004"));
}

TEST(PythonGUIInputOutput, PaneGoneMeansOutputIsDropped)
{
    TPythonGUIInputOutput io;
    {
        QPlainTextEdit pane;
        io.SetOutput(&pane);
    }
    EXPECT_EQ(io.Output(), nullptr);
    io.WriteLine(QStringLiteral("lost")); // must not crash
}

TEST(PythonGUIInputOutput, InputComesFromTheInputBox)
{
    ScriptedDialogs dialogs;
    TPythonGUIInputOutput io;
    dialogs.AnswerInput(QStringLiteral("typed"));
    dialogs.AnswerInput(std::nullopt);
    QString data = QStringLiteral("stale");
    io.ReceiveUniData(data);
    EXPECT_EQ(data, QStringLiteral("typed"));
    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_EQ(dialogs.inputs[0].caption, QStringLiteral("Query from Python"));
    EXPECT_EQ(dialogs.inputs[0].prompt, QStringLiteral("Enter text"));
    EXPECT_TRUE(dialogs.inputs[0].value.isEmpty());
    io.ReceiveUniData(data);
    EXPECT_TRUE(data.isEmpty()); // cancelled

    io.OnReceiveUniData = [](TComponent*, QString& d) { d = QStringLiteral("from handler"); };
    io.ReceiveUniData(data);
    EXPECT_EQ(data, QStringLiteral("from handler"));
    EXPECT_EQ(dialogs.inputs.size(), 2u);
}

// Lines reach the pane in batches; the result must be what appending them one
// at a time gives, whatever the pane held before and whatever MaxLines is.
TEST(PythonGUIInputOutput, BatchedDisplayEqualsLineByLineAppending)
{
    for (int maxLines : {0, 1, 3, 1000}) {
        for (int before : {0, 1, 2, 3, 5}) {
            for (int added : {0, 1, 2, 4, 7}) {
                QStringList expected;
                for (int i = 0; i < before; ++i)
                    expected << QStringLiteral("old %1").arg(i);
                QPlainTextEdit pane;
                pane.setPlainText(expected.join(u'\n'));
                TPythonGUIInputOutput io;
                io.SetOutput(&pane);
                io.SetMaxLines(maxLines);
                for (int i = 0; i < added; ++i) {
                    const QString line = i == 1 ? QString() : QStringLiteral("new %1").arg(i);
                    if (!expected.isEmpty() && expected.size() >= maxLines)
                        expected.removeFirst();
                    expected << line;
                    io.DisplayString(line);
                }
                io.FlushDisplay();
                // An empty pane given one empty line still reads as empty.
                if (expected == QStringList{QString()})
                    expected.clear();
                EXPECT_EQ(PaneLines(pane), expected) << maxLines << " " << before << " " << added;
            }
        }
    }
}
