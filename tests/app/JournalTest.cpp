// The user's script survives: the recovery journal's format, its life beside
// the window, the real program killed or crashed in a child process and
// started again, and saving and opening that never lose or hang.
#include "app/LineSnapshot.h"
#include "app/RecoveryJournal.h"
#include "editor/LineBuffer.h"
#include "app/SDIMain.h"
#include "app/ScriptFile.h"
#include "history/OpnFilHs.h"
#include "widgets/CodeEditorControl.h"

#include "ChildWorkbench.h"
#include "FileBytes.h"
#include "TempStore.h"

#include <QAction>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::ModalResult;

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// --- the format -------------------------------------------------------------

QString RandomLine(QRandomGenerator& rng)
{
    static const char16_t pool[] = u"abc def()=:'\"\t#\\日本語のテキスト한국어😀\u00e9\u0301\u2028";
    QString line;
    const int n = int(rng.bounded(12));
    for (int i = 0; i < n; ++i) {
        const quint32 pick = rng.bounded(40);
        if (pick == 0)
            line += QChar(char16_t(0xD800 + rng.bounded(0x800))); // a lone surrogate
        else
            line += QChar(pool[rng.bounded(quint32(std::size(pool) - 1))]);
    }
    return line;
}

TEST(JournalFormat, RoundTripsAnyTextAndNoticesEveryDamage)
{
    QRandomGenerator rng(20261209);
    for (int round = 0; round < 300; ++round) {
        TJournalSnapshot s;
        const int lines = int(rng.bounded(20));
        for (int i = 0; i < lines; ++i)
            s.lines.push_back(RandomLine(rng));
        s.meta.fileName = round % 3 ? QStringLiteral("/tmp/変換 %1\n.py").arg(round) : QString();
        s.meta.modified = round % 2;
        s.meta.caretLine = int(rng.bounded(1000)) + 1;
        s.meta.caretChar = int(rng.bounded(80)) + 1;
        s.meta.written = QDateTime::fromMSecsSinceEpoch(qint64(rng.bounded(1u << 31)) * 1000).toUTC();
        const QByteArray bytes = EncodeJournal(s);

        const TJournalRecord back = DecodeJournal(bytes);
        QStringList expected(s.lines.begin(), s.lines.end());
        ASSERT_EQ(back.text, expected.join(QStringLiteral("\r\n"))) << round;
        EXPECT_EQ(back.meta.fileName, s.meta.fileName);
        EXPECT_EQ(back.meta.modified, s.meta.modified);
        EXPECT_EQ(back.meta.caretLine, s.meta.caretLine);
        EXPECT_EQ(back.meta.caretChar, s.meta.caretChar);
        EXPECT_EQ(back.meta.written, s.meta.written);

        // Any one changed byte and any cut is noticed, never read as a text.
        QByteArray flipped = bytes;
        const qsizetype at = rng.bounded(quint32(bytes.size()));
        flipped[at] = char(flipped[at] ^ char(1 + rng.bounded(255)));
        EXPECT_THROW(DecodeJournal(flipped), EJournalDamaged) << "byte " << at << " of round " << round;
        EXPECT_THROW(DecodeJournal(bytes.left(rng.bounded(quint32(bytes.size())))), EJournalDamaged);
    }
    TJournalSnapshot baseline;
    baseline.lines = {QStringLiteral("a"), QStringLiteral("b")};
    baseline.meta.written = QDateTime::currentDateTimeUtc();
    baseline.baseline = QStringLiteral("a\r\nb");
    EXPECT_FALSE(DecodeJournal(EncodeJournal(baseline)).meta.modified);
    baseline.baseline = QStringLiteral("a\r\nb\r\n");
    EXPECT_TRUE(DecodeJournal(EncodeJournal(baseline)).meta.modified);
}

// The copy taken a slice at a time, with edits coming between the slices,
// always ends equal to the buffer's lines as they are when it ends.
TEST(LineSnapshot, SlicedCopyWithEditsBetweenEqualsTheBufferAtTheEnd)
{
    QRandomGenerator rng(4711);
    editor::TLineBuffer buffer;
    TLineSnapshot copy(buffer);
    editor::ChainEvent(buffer.OnPut, [&](editor::TLineBuffer*, int index, const QString&) { copy.Put(index); });
    editor::ChainEvent(buffer.OnInserted, [&](editor::TLineBuffer*, int index, int count) { copy.Inserted(index, count); });
    editor::ChainEvent(buffer.OnDeleted, [&](editor::TLineBuffer*, int index, int count) { copy.Deleted(index, count); });
    int serial = 0;
    auto line = [&] { return QStringLiteral("line %1").arg(++serial); };
    for (int round = 0; round < 400; ++round) {
        const int start = int(rng.bounded(60));
        QStringList initial;
        for (int i = 0; i < start; ++i)
            initial << line();
        buffer.SetText(initial.join(QStringLiteral("\r\n")));
        std::vector<QString> room(rng.bounded(2) ? rng.bounded(80) : 0);
        copy.Start(std::move(room));
        bool done = false;
        while (!done) {
            for (int edits = int(rng.bounded(4)); edits > 0; --edits) {
                const int n = buffer.Count();
                switch (rng.bounded(6)) {
                case 0:
                    if (n > 0)
                        buffer.Put(int(rng.bounded(n)), line());
                    break;
                case 1:
                    buffer.Insert(int(rng.bounded(n + 1)), line());
                    break;
                case 2:
                    buffer.InsertStrings(int(rng.bounded(n + 1)), {line(), line(), line()});
                    break;
                case 3:
                    if (n > 0)
                        buffer.Delete(int(rng.bounded(n)));
                    break;
                case 4:
                    if (n > 0)
                        buffer.DeleteLines(int(rng.bounded(n)), int(rng.bounded(6)) + 1);
                    break;
                case 5:
                    if (rng.bounded(10) == 0)
                        buffer.SetText(line() + QStringLiteral("\r\n") + line());
                    break;
                }
            }
            done = copy.Step(qsizetype(rng.bounded(7)));
        }
        const std::vector<QString> got = copy.Finish();
        std::vector<QString> expected;
        for (int i = 0; i < buffer.Count(); ++i)
            expected.push_back(buffer.Get(i));
        ASSERT_EQ(got, expected) << "round " << round;
    }
}

// --- the journal beside a window -------------------------------------------

class JournalWindow : public ::testing::Test {
protected:
    TempStore store;
    QTemporaryDir files;
    std::unique_ptr<ScriptedDialogs> dialogs = std::make_unique<ScriptedDialogs>();
    std::unique_ptr<TSDIAppForm> form = std::make_unique<TSDIAppForm>();

    QString Folder() const { return RecoveryFolder(); }
    QStringList Files(const QString& pattern) const { return QDir(Folder()).entryList({pattern}, QDir::Files); }
    // Leaves a journal as a program that has ended would.
    QString LeaveOrphan(const QString& text, const QString& fileName, const QString& running = {})
    {
        QDir().mkpath(Folder());
        TJournalSnapshot s;
        for (const QString& line : text.split(QStringLiteral("\r\n")))
            s.lines.push_back(line);
        s.meta.fileName = fileName;
        s.meta.modified = true;
        s.meta.caretLine = 3;
        s.meta.caretChar = 3;
        s.meta.written = QDateTime::currentDateTimeUtc();
        const QString path = QDir(Folder()).filePath(QStringLiteral("99999-1.journal"));
        WriteBytes(path, EncodeJournal(s));
        if (!running.isEmpty())
            WriteBytes(QDir(Folder()).filePath(QStringLiteral("99999-1.lock")), TRecoveryJournal::RunMarker(running));
        return path;
    }
};

TEST_F(JournalWindow, IsWrittenForEditsAndGoesWithSaveNewAndANormalEnd)
{
    form->SetEditorText(QStringLiteral("x = 1\r\ny = 'テスト'"));
    ASSERT_TRUE(form->Journal().WriteNow());
    const QString path = form->Journal().Path();
    TJournalRecord r = DecodeJournal(ReadBytes(path));
    EXPECT_EQ(r.text, QStringLiteral("x = 1\r\ny = 'テスト'"));
    EXPECT_TRUE(r.meta.modified);

    // A second running copy's journal is never taken by this one; the lock
    // file of a program that ended after its journal went is cleared away.
    const QString stale = QDir(Folder()).filePath(QStringLiteral("12345-1.lock"));
    WriteBytes(stale, {});
    EXPECT_FALSE(ClaimOrphanJournal(Folder(), {}));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(form->Journal().LockPath()));
    EXPECT_FALSE(QFile::exists(stale));

    dialogs->AnswerFile(files.filePath(QStringLiteral("a.py")));
    form->FileSave1->trigger();
    EXPECT_FALSE(QFile::exists(path)) << "saved: nothing to recover";

    form->SetEditorText(QStringLiteral("edited"));
    ASSERT_TRUE(form->Journal().WriteNow());
    dialogs->AnswerMessage(ModalResult::mrNo);
    form->FileNew1->trigger();
    EXPECT_FALSE(QFile::exists(path)) << "discarded by the user";

    // Written in the background about two seconds after an edit.
    form->SetEditorText(QStringLiteral("typed"));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(path); }, 5000));
    EXPECT_EQ(DecodeJournal(ReadBytes(path)).text, QStringLiteral("typed"));

    form.reset();
    EXPECT_TRUE(Files(QStringLiteral("*.journal")).isEmpty());
    EXPECT_TRUE(Files(QStringLiteral("*.lock")).isEmpty());
}

// A large text is copied in slices while the user goes on typing: the
// journal holds the text as it was when the copy ended.
TEST_F(JournalWindow, ALargeTextIsCopiedInSlicesWithTypingBetween)
{
    QStringList lines;
    for (int i = 0; i < 3 * TRecoveryJournal::SliceLines(); ++i)
        lines << QStringLiteral("x%1 = %1").arg(i);
    form->SetEditorText(lines.join(QStringLiteral("\r\n")));
    TRecoveryJournal& journal = form->Journal();
    const auto meta = journal.MetaSource;
    QString atEnd;
    journal.MetaSource = [&](TJournalSnapshot& s) {
        meta(s);
        atEnd = form->EditorText();
    };
    editor::TCustomCodeEditor& engine = form->sePythonCode->Engine();
    QTimer typing;
    int typed = 0;
    QObject::connect(&typing, &QTimer::timeout, [&] {
        const int line = 1 + (typed * 7919) % engine.LineCount();
        engine.InsertTextAt({1, line}, typed % 5 ? QStringLiteral("#") : QStringLiteral("new\r\n"));
        if (typed % 11 == 0)
            engine.DeleteTextRange({1, line + 1}, {1, line + 2});
        ++typed;
    });
    typing.start(0);
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(journal.Path()); }, 10000));
    typing.stop();
    EXPECT_GT(typed, 0);
    ASSERT_FALSE(atEnd.isEmpty());
    EXPECT_TRUE(DecodeJournal(ReadBytes(journal.Path())).text == atEnd);
}

TEST_F(JournalWindow, RecoveryRestoresDiscardsOrAsksAgain)
{
    const QString text = QStringLiteral("import json\r\n\r\ndef func1(*a):\r\n    return 'é'");
    const QString saved = files.filePath(QStringLiteral("conv.py"));
    WriteBytes(saved, ScriptFileBytes(QStringLiteral("old")));
    const QString orphan = LeaveOrphan(text, saved, QStringLiteral("func3"));

    dialogs->AnswerMessage(ModalResult::mrCancel); // closed without choosing
    form->OfferRecovery();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    const QString question = dialogs->messages.back().text;
    EXPECT_TRUE(question.contains(saved)) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("func3"))) << question.toStdString();
    EXPECT_TRUE(QFile::exists(orphan));
    EXPECT_FALSE(form->IsModified());

    dialogs->AnswerMessage(ModalResult::mrYes);
    form->OfferRecovery();
    EXPECT_EQ(form->EditorText(), text);
    EXPECT_TRUE(form->IsModified());
    EXPECT_EQ(form->FilePath(), saved);
    EXPECT_EQ(form->sePythonCode->Engine().CaretXY(), (editor::TBufferCoord{3, 3}));
    EXPECT_FALSE(QFile::exists(orphan));
    EXPECT_EQ(ReadBytes(saved), ScriptFileBytes(QStringLiteral("old"))) << "recovery never writes the file";
    EXPECT_EQ(DecodeJournal(ReadBytes(form->Journal().Path())).text, text) << "now in this program's journal";

    LeaveOrphan(QStringLiteral("unwanted"), {});
    dialogs->AnswerMessage(ModalResult::mrNo);
    form->OfferRecovery();
    EXPECT_EQ(form->EditorText(), text);
    EXPECT_FALSE(QFile::exists(orphan));
    EXPECT_TRUE(dialogs->AllAnswersUsed());
}

TEST_F(JournalWindow, ADamagedJournalIsReportedAndSetAside)
{
    const QString orphan = LeaveOrphan(QStringLiteral("text"), {});
    QByteArray bytes = ReadBytes(orphan);
    bytes.chop(3);
    WriteBytes(orphan, bytes);
    dialogs->AnswerMessage(ModalResult::mrOk);
    form->OfferRecovery();
    ASSERT_EQ(dialogs->messages.size(), 1u) << "one report, no question";
    EXPECT_TRUE(dialogs->messages[0].text.contains(orphan));
    EXPECT_FALSE(QFile::exists(orphan));
    const QStringList aside = Files(QStringLiteral("*.damaged-*"));
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadBytes(QDir(Folder()).filePath(aside[0])), bytes) << "kept as it was";
}

TEST_F(JournalWindow, AFolderThatCannotBeWrittenIsReportedOnceAndEditingGoesOn)
{
    QDir().mkpath(QFileInfo(Folder()).path());
    WriteBytes(Folder(), "a file where the folder should be");
    form->SetEditorText(QStringLiteral("one"));
    EXPECT_FALSE(form->Journal().WriteNow());
    const QString shown = form->statusBar()->currentMessage();
    EXPECT_TRUE(shown.contains(QStringLiteral("復元用の記録"))) << shown.toStdString();
    form->statusBar()->clearMessage();
    form->SetEditorText(QStringLiteral("two"));
    EXPECT_FALSE(form->Journal().WriteNow());
    EXPECT_TRUE(form->statusBar()->currentMessage().isEmpty()) << "reported once";
    EXPECT_EQ(form->EditorText(), QStringLiteral("two"));
}

// --- saving and opening -----------------------------------------------------

TEST_F(JournalWindow, SaveOnAFullDiskKeepsTheFileAndTheEdits)
{
    const QString disk = files.filePath(QStringLiteral("disk"));
    QDir().mkpath(disk);
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        QString at;
        ~Unmount() { ::umount2(QFile::encodeName(at).constData(), MNT_DETACH); }
    } unmount{disk};
    const QString path = disk + QStringLiteral("/conv.py");
    WriteBytes(path, ScriptFileBytes(QStringLiteral("original")));
    WriteBytes(disk + QStringLiteral("/filler"), QByteArray(40 * 1024, 'x'));
    form->SetEditorText(QStringLiteral("# 長い行\r\n").repeated(4000));

    dialogs->AnswerFile(path);
    dialogs->AnswerMessage(ModalResult::mrOk);
    form->FileSave1->trigger();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_TRUE(dialogs->messages[0].text.contains(path)) << dialogs->messages[0].text.toStdString();
    EXPECT_TRUE(dialogs->messages[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    EXPECT_EQ(ReadBytes(path), ScriptFileBytes(QStringLiteral("original")));
    EXPECT_TRUE(form->IsModified());
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no temporary file left";
}

TEST_F(JournalWindow, WhatIsNotARegularFileIsRefusedAtOnce)
{
    const QString fifo = files.filePath(QStringLiteral("pipe.py"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        QElapsedTimer t;
        t.start();
        EXPECT_THROW(form->OpenScript(path), EScriptFileError) << path.toStdString();
        EXPECT_LT(t.elapsed(), 2000) << path.toStdString();
    }
    EXPECT_FALSE(form->IsModified());
}

TEST(DamagedStore, IsReportedOnceOverTheWindowAndTheNextSaveWorks)
{
    TempStore store;
    QTemporaryDir files;
    const QString storeFile = store.UserRoot() + QStringLiteral("/Software/OpnFilHs/OFH/values.reg");
    QDir().mkpath(QFileInfo(storeFile).path());
    WriteBytes(storeFile, QByteArray("\x00\xff damaged \x01", 12));
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(ModalResult::mrOk);
    TSDIAppForm form;
    EXPECT_TRUE(dialogs.messages.empty()) << "nothing before the window";
    form.show();
    WaitUntil([&] { return !dialogs.messages.empty(); }, 2000);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(storeFile)) << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(QDir(QFileInfo(storeFile).path()).entryList({QStringLiteral("values.reg.damaged-*")}).size(), 1);

    const QString saved = files.filePath(QStringLiteral("a.py"));
    dialogs.AnswerFile(saved);
    form.FileSave1->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.messages.size(), 1u) << "no second report";
    EXPECT_EQ(form.OpenFileHistories1->List(), QStringList{saved});
}

// --- the real program, killed or crashed, and started again -----------------

// A long Japanese script with CR LF line ends whose func1 never returns to
// Python (or crashes in C), opened from its file and edited.
QString LongScript(const QString& body)
{
    QString s;
    for (int i = 0; i < 100000; ++i)
        s += QStringLiteral("# 変換スクリプトの行 %1：データを整える\r\n").arg(i);
    return s + QStringLiteral("def func1(*a):\r\n    ") + body + QStringLiteral("\r\n");
}

struct KillCase {
    const char* name;
    const char* body;
    bool kill; // else it crashes by itself
};

class KilledProgram : public ::testing::TestWithParam<KillCase> {};

TEST_P(KilledProgram, GivesTheTextBackByteForByte)
{
    QTemporaryDir home;
    const QString file = home.filePath(QStringLiteral("変換.py"));
    const QString original = LongScript(QString::fromUtf8(GetParam().body));
    WriteBytes(file, ScriptFileBytes(original));
    // What the editor makes of the file, with the child's edit on top.
    TCodeEditor reference;
    reference.SetText(LoadScriptFile(file));
    const QString edited = QStringLiteral("# 編集した行\r\n") + reference.Text();

    ChildWorkbench first(home.path());
    first.Start(QStringLiteral("open-edit-run"), {{QStringLiteral("QUORBEL_CHILD_FILE"), file}});
    ASSERT_TRUE(first.WaitForRun()) << first.Output().toStdString();
    if (GetParam().kill)
        first.Signal(SIGKILL);
    ASSERT_TRUE(first.Finish());
    EXPECT_NE(first.ExitCode(), 0);

    ChildWorkbench second(home.path());
    second.Start(QStringLiteral("recover-save"), {{QStringLiteral("QUORBEL_CHILD_ANSWER"), QStringLiteral("yes")}});
    const QString question = second.WaitFor(QStringLiteral("BOX "));
    EXPECT_TRUE(question.contains(QStringLiteral("func1"))) << question.toStdString();
    EXPECT_TRUE(question.contains(file)) << question.toStdString();
    EXPECT_FALSE(second.WaitFor(QStringLiteral("MODIFIED 1")).isEmpty()) << second.Output().toStdString();
    ASSERT_TRUE(second.Finish());
    EXPECT_EQ(second.ExitCode(), 0) << second.Output().toStdString();
    EXPECT_TRUE(ReadBytes(file) == ScriptFileBytes(edited)) << "saved back where it came from, byte for byte";
    EXPECT_TRUE(second.Journals().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Journal, KilledProgram,
                         ::testing::Values(KillCase{"KilledInACCall", "return sum(range(10**12))", true},
                                           KillCase{"CrashedInACCall", "import ctypes; return ctypes.string_at(0)", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JournalProgram, AClosedProgramLeavesNoJournal)
{
    QTemporaryDir home;
    ChildWorkbench child(home.path());
    child.Start(QStringLiteral("edit-wait-close"), {{QStringLiteral("QUORBEL_CHILD_ANSWER"), QStringLiteral("no")}});
    ASSERT_FALSE(child.WaitFor(QStringLiteral("JOURNALED")).isEmpty()) << child.Output().toStdString();
    ASSERT_TRUE(child.Finish());
    EXPECT_EQ(child.ExitCode(), 0) << child.Output().toStdString();
    EXPECT_TRUE(child.Journals().isEmpty());
    EXPECT_TRUE(QDir(child.RecoveryDir()).entryList(QDir::Files).isEmpty());
}

} // namespace

int main(int argc, char** argv)
{
    std::map<QString, TScenario> scenarios{
        {QStringLiteral("open-edit-run"),
         [](TSDIAppForm& form) {
             form.OpenScript(ChildEnv("QUORBEL_CHILD_FILE"));
             form.sePythonCode->Engine().InsertTextAt({1, 1}, QStringLiteral("# 編集した行\r\n"));
             form.ToolButton5->click(); // never returns
         }},
        {QStringLiteral("recover-save"),
         [](TSDIAppForm& form) {
             Tell(QStringLiteral("MODIFIED %1").arg(form.IsModified() ? 1 : 0));
             qputenv("QUORBEL_CHILD_SAVE_AS", form.FilePath().toUtf8());
             form.FileSave1->trigger();
             form.close();
         }},
        {QStringLiteral("edit-wait-close"),
         [](TSDIAppForm& form) {
             form.SetEditorText(QStringLiteral("unsaved"));
             WhenJournaled(form, [&form] {
                 Tell(QStringLiteral("JOURNALED"));
                 form.close(); // "no" to saving
             });
         }},
    };
    return ChildWorkbenchMain(argc, argv, scenarios);
}
