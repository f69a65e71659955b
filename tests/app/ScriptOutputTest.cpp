// What a script prints reaches "Python Output" as python3 shows it: every
// case runs twice in the real window (one interpreter, as in a user's
// session) and is compared with the system's interpreter of the same version running the same text
// with its output and errors in one pipe.
#include "app/SDIMain.h"

#include "PaneLines.h"
#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using platform::ModalResult;

namespace {

class ScriptOutput : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        store = new TempStore;
        form = new TSDIAppForm;
        // The test's own report keeps going to the terminal: descriptor 1
        // belongs to the capture from here on.
        fflush(stdout);
        report = fdopen(dup(1), "w");
        testStdout = stdout;
        stdout = report;
        captured = form->SetProcessOutputCapture(true);
    }
    static void TearDownTestSuite()
    {
        delete form;
        stdout = testStdout;
        fclose(report);
        delete store;
    }
    void SetUp() override { ASSERT_TRUE(captured); }

    // Runs the script in the window, answering every box; the pane's text.
    static QString RunInWindow(const QString& script, const QStringList& inputs = {})
    {
        ScriptedDialogs dialogs;
        for (int i = 0; i < 4; ++i)
            dialogs.AnswerMessage(ModalResult::mrOk);
        for (const QString& input : inputs)
            dialogs.AnswerInput(input);
        dialogs.AnswerInput(std::nullopt);
        form->SetEditorText(script);
        form->SpinEdit1->setValue(1);
        form->ToolButton5->click();
        return PaneLines(*form->mePythonOutput).join(u'\n');
    }

    // What python3 shows for the same text, its file named as the window names it.
    static QString RunInPython3(const QString& script)
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("script.py"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script.toUtf8());
        file.close();
        QProcess python;
        python.setProcessChannelMode(QProcess::MergedChannels);
        python.setStandardInputFile(QProcess::nullDevice());
        python.setWorkingDirectory(dir.path());
        // Unbuffered: a terminal shows each line as it is written.
        python.start(QStringLiteral(QUORBEL_TEST_PYTHON), {QStringLiteral("-E"), QStringLiteral("-u"), path});
        EXPECT_TRUE(python.waitForFinished(30000));
        QString out = QString::fromUtf8(python.readAll());
        out.replace(path, QStringLiteral("<string>"));
        while (out.endsWith(u'\n'))
            out.chop(1);
        return out;
    }

    static TempStore* store;
    static TSDIAppForm* form;
    static FILE* report;
    static FILE* testStdout;
    static bool captured;
};

TempStore* ScriptOutput::store = nullptr;
TSDIAppForm* ScriptOutput::form = nullptr;
FILE* ScriptOutput::report = nullptr;
FILE* ScriptOutput::testStdout = nullptr;
bool ScriptOutput::captured = false;

struct TCase {
    const char* name;
    const char* script;
    // Empty: what python3 shows. Set where the window differs by design
    // (no descriptor behind its streams, UTF-8 only, answers from a box).
    const char* expected = nullptr;
    QStringList inputs = {};
};

const TCase kCases[] = {
    {"threads",
     "import threading, logging\n"
     "def func1(*a): return 'ok'\n"
     "def work(n):\n"
     "    print('worker', n)\n"
     "    logging.warning('logged in %s', threading.current_thread().name)\n"
     "t = threading.Thread(target=work, args=(1,), name='w1'); t.start(); t.join()\n"
     "def fail():\n"
     "    raise ValueError('in thread')\n"
     "t = threading.Thread(target=fail, name='w2'); t.start(); t.join()\n"
     "print('main done')\n"},
    {"child processes and descriptor writes, in the order written",
     "import os, subprocess, sys\n"
     "def func1(*a): return 'ok'\n"
     "print('before')\n"
     "os.system('echo from system')\n"
     "subprocess.run(['echo', 'from run'])\n"
     "os.write(1, b'raw write\\n')\n"
     "print('after')\n"
     "os.write(2, 'd\\xc3'.encode('latin-1') + b'\\xa9j\\xc3 vu\\n')\n"
     "subprocess.run([sys.executable, '-c', 'import sys; print(\"child stderr\", file=sys.stderr)'])\n"
     "print('end')\n"},
    {"the text-stream interface",
     "import sys, io\n"
     "def func1(*a): return 'ok'\n"
     "sys.stdout.reconfigure(encoding='utf-8', errors='replace')\n"
     "print('日本語', sys.stdout.errors)\n"
     "n = sys.stdout.buffer.write('バイト\\n'.encode())\n"
     "sys.stdout.buffer.write(b'split \\xe3\\x81'); sys.stdout.buffer.write(b'\\x82 char\\n')\n"
     "sys.stdout.flush()\n"
     "print(n, isinstance(sys.stdout, io.TextIOBase), sys.stdout.encoding, sys.stderr.errors)\n"
     "print(sys.stdout.isatty(), sys.stdout.writable(), sys.stdout.readable(), sys.stdin.readable(), sys.stdin.writable())\n"
     "print(sys.stdout.line_buffering, sys.stdout.closed)\n"
     "wrapped = io.TextIOWrapper(sys.stdout.buffer, encoding='utf-8')\n"
     "wrapped.write('through a wrapper\\n')\n"
     "wrapped.flush()\n"
     "sys.stdout.writelines(['a', 'b\\n'])\n"},
    {"what differs from a terminal by design",
     "import sys, io\n"
     "def func1(*a): return 'ok'\n"
     "try:\n"
     "    sys.stdout.fileno()\n"
     "except io.UnsupportedOperation:\n"
     "    print('no descriptor')\n"
     "try:\n"
     "    sys.stdout.reconfigure(encoding='cp932')\n"
     "except ValueError as e:\n"
     "    print('ValueError', 'cp932' in str(e))\n"
     "print(list(sys.stdin))\n"
     "print(repr(sys.stdin.readline()), sys.stdin.readlines())\n"
     "print('para\\u2029graph')\n",
     "no descriptor\nValueError True\n['one', 'two']\n'three' []\npara graph",
     {QStringLiteral("one"), QStringLiteral("two"), QString(), QStringLiteral("three")}},
    {"streams replaced by the script",
     "import sys, io\n"
     "def func1(*a): return 'ok'\n"
     "print('shown')\n"
     "sys.stdout = io.StringIO()\n"
     "print('hidden')\n"
     "sys.stdout = sys.__stdout__\n"
     "print('back')\n"
     "sys.stderr = io.StringIO()\n"},
    {"traceback carets",
     "def func1(*a): return 'ok'\n"
     "data = {'a': [1, 2]}\n"
     "value = data['a'][5] + 1\n"},
    {"warnings",
     "import warnings\n"
     "def func1(*a): return 'ok'\n"
     "warnings.warn('old api', DeprecationWarning)\n"
     "warnings.warn('careful')\n"
     "warnings.warn('careful')\n"},
    // Compiled once while the text stays the same, but warned about at every run.
    {"a compile-time warning",
     "def func1(*a): return 'ok'\n"
     "x = 1\n"
     "if x is 1:\n"
     "    print('one')\n"},
    {"sys.exit with a message",
     "import sys\n"
     "print('checking')\n"
     "sys.exit('bad input')\n"},
};

} // namespace

TEST_F(ScriptOutput, PaneShowsWhatPython3Shows)
{
    for (const TCase& c : kCases) {
        const QString script = QString::fromUtf8(c.script);
        const QString expected = c.expected ? QString::fromUtf8(c.expected) : RunInPython3(script);
        for (int run = 1; run <= 2; ++run)
            EXPECT_EQ(RunInWindow(script, c.inputs).toStdString(), expected.toStdString())
                << c.name << ", run " << run;
    }
}

// The user selects and scrolls while a script prints for a second: both stay,
// and the selection can be copied.
TEST_F(ScriptOutput, SelectionAndViewStayWhileARunPrints)
{
    QPlainTextEdit* pane = form->mePythonOutput;
    form->resize(900, 700);
    form->show();
    QString selected;
    int top = -1;
    QTimer::singleShot(400, pane, [&] {
        QTextCursor cursor(pane->document());
        cursor.setPosition(pane->document()->findBlockByNumber(2).position());
        cursor.setPosition(pane->document()->findBlockByNumber(4).position(), QTextCursor::KeepAnchor);
        pane->setTextCursor(cursor);
        selected = cursor.selectedText();
        pane->verticalScrollBar()->setValue(1);
        top = pane->verticalScrollBar()->value();
    });
    RunInWindow(QStringLiteral("import time\n"
                               "def func1(*a): return 'ok'\n"
                               "for i in range(100):\n"
                               "    print('line', i)\n"
                               "    time.sleep(0.01)\n"));
    EXPECT_EQ(PaneLines(*pane).size(), 100);
    ASSERT_FALSE(selected.isEmpty());
    EXPECT_EQ(pane->textCursor().selectedText(), selected);
    EXPECT_EQ(pane->verticalScrollBar()->value(), top);
    pane->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("line 2\nline 3\n"));
    form->hide();
}

// A child printing 10 MB never waits on a full pipe, though the script only
// sleeps; the pane keeps its last lines.
TEST_F(ScriptOutput, ChildPrintingMegabytesFinishesWhileTheScriptSleeps)
{
    const QString out = RunInWindow(QStringLiteral(
        "import subprocess, sys, time\n"
        "def func1(*a): return 'ok'\n"
        "child = subprocess.Popen([sys.executable, '-c', 'import sys\\nfor i in range(131072): "
        "sys.stdout.write(\"%079d\\\\n\" % i)'])\n"
        "deadline = time.monotonic() + 20\n"
        "while child.poll() is None and time.monotonic() < deadline:\n"
        "    time.sleep(0.05)\n"
        "print('child finished' if child.poll() == 0 else 'child blocked')\n"));
    const QStringList lines = out.split(u'\n');
    EXPECT_EQ(lines.size(), 1000);
    EXPECT_EQ(lines.last(), QStringLiteral("child finished"));
    EXPECT_EQ(lines.value(lines.size() - 2), QStringLiteral("%1").arg(131071, 79, 10, QLatin1Char('0')));
}
