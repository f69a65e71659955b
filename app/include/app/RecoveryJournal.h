#pragma once
// The recovery journal: a copy of the script document kept on disk while the
// program runs, so that a crash, a kill or a script that never returns costs
// at most the last seconds of typing. One journal per running program, in the
// user's state folder; the program holds a lock beside it for its lifetime,
// which tells other copies that the journal is not theirs to take.
#include "app/LineSnapshot.h"
#include "platform/Exception.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {
class TExclusiveFile;
}
namespace editor {
class TEditorCore;
class TLineBuffer;
}

// What a journal records besides the text.
struct TJournalMeta {
    QString fileName; // empty: untitled
    bool modified = false;
    int caretLine = 1;
    int caretChar = 1;
    QDateTime written; // UTC
};

// The document as the main thread hands it over: the editor's lines share
// their data with the editor, so taking them costs no text copy; the writer
// joins them on its own thread.
struct TJournalSnapshot {
    std::vector<QString> lines;
    TJournalMeta meta;
    // When given, the text is also modified when it differs from this one
    // (compared by the writer, not by the main thread).
    std::optional<QString> baseline;
};

// A journal as read back: the text in the editor's form (lines joined by CR LF).
struct TJournalRecord {
    QString text;
    TJournalMeta meta;
};

class EJournalDamaged : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// The file format: a short text header, then the text as UTF-16 (every
// character survives, lone surrogates included) and its checksum.
QByteArray EncodeJournal(const TJournalSnapshot& snapshot);
// Throws EJournalDamaged naming what is wrong.
TJournalRecord DecodeJournal(QByteArrayView bytes);

class TRecoveryJournal : public QObject {
    Q_OBJECT
public:
    // The journal of this program in folder (created, mode 0700, on the first write).
    explicit TRecoveryJournal(const QString& folder, QObject* parent = nullptr);
    // A normal end: the journal and its lock go, unless Keep() was called.
    ~TRecoveryJournal() override;

    // The document's lines. The journal copies them a slice at a time
    // (references only) so that a large text never stops the main thread
    // for long; the owner forwards the buffer's change events below while
    // the buffer is set.
    void SetLines(const editor::TLineBuffer* lines);
    void LinePut(int index);
    void LinesInserted(int index, int count);
    void LinesDeleted(int index, int count);
    // Fills what a snapshot holds besides the lines (file name, caret, the
    // baseline); called on the main thread once the lines are copied.
    std::function<void(TJournalSnapshot& into)> MetaSource;
    // Lines copied per slice; a slice of a large text costs well under a millisecond.
    static int SliceLines() { return 32768; }
    // A write failed (reason); called once until a write succeeds again.
    std::function<void(const QString& reason)> OnWriteFailed;

    // The document changed: a write follows within WriteDelay(), however
    // often edits come (typing never waits for the disk).
    void NoteEdit();
    // Writes now unless the journal on disk is current; waits for the
    // background writer first. False when the write failed.
    bool WriteNow();
    // Before a run: the journal is current and records that functionName
    // runs, so a start after a crash can say so. After it: not running.
    bool BeginRun(const QString& functionName);
    void EndRun();
    // The document was saved or discarded: the journal goes until the next edit.
    void Discard();
    // An end by signal: the journal stays for the next start.
    void Keep();

    const QString& Path() const { return FPath; }
    const QString& LockPath() const { return FLockPath; }
    bool OnDisk() const { return FOnDisk; }
    static int WriteDelayMs() { return 2000; }
    // Content of the lock file while a function runs.
    static QByteArray RunMarker(const QString& functionName);
    static QString RunningFunctionOf(const QByteArray& lockContent);

private:
    struct TJob {
        TJournalSnapshot snapshot;
        quint64 generation;
        quint64 epoch;
    };
    void PrepareRoom(int lines);
    void Due();
    void Slice();
    bool EnsureOwned();
    // Begins a copy of the lines into the room the writer made, unless one is in hand.
    void StartTaking();
    // The copy of the lines in hand, finished now, with the rest of the document.
    TJournalSnapshot FinishTaking();
    // Keeps a written snapshot's array (references dropped) for the next one.
    void Recycle(std::vector<QString>&& lines);
    void WriterLoop();
    // Writes a job's journal; the reason on failure.
    std::optional<QString> Write(const TJournalSnapshot& snapshot);
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    void Report(const std::optional<QString>& failure);

    QString FFolder;
    QString FPath;
    QString FLockPath;
    std::unique_ptr<platform::TExclusiveFile> FLock;
    QTimer FTimer;
    QTimer FSliceTimer;
    const editor::TLineBuffer* FLines = nullptr;
    std::unique_ptr<TLineSnapshot> FTaking;
    bool FKeep = false;
    bool FOnDisk = false;   // the journal file exists and is ours
    bool FFailing = false;  // a failure was reported and no write succeeded since
    quint64 FGeneration = 1;
    quint64 FWrittenGeneration = 0; // what is on disk (main thread's view)
    quint64 FEpoch = 0;             // counts discards

    std::mutex FMutex;
    std::condition_variable FWake;
    std::optional<TJob> FPending;
    // Room for the next snapshot's lines (all null), kept between writes.
    std::vector<QString> FRoom;
    int FRoomWanted = 0;
    bool FBusy = false;
    bool FQuit = false;
    quint64 FDoneGeneration = 0; // last job the writer finished (under FMutex)
    std::optional<QString> FDoneFailure;
    std::thread FWriter;
};

// Gives the journal that `journal` returns the buffer's lines and forwards
// the buffer's changes to it (to none once it returns nothing), and notes
// every batch of changes of the editor as an edit.
void FollowEditor(editor::TEditorCore& editor, std::function<TRecoveryJournal*()> journal);

// A journal left by a program that is no longer running, claimed by this one
// (its lock is held) until the user decides.
struct TFoundJournal {
    QString path;
    TJournalRecord record;
    QString runningFunction; // the function that ran when it ended, if any
    std::unique_ptr<platform::TExclusiveFile> lock;
    TFoundJournal();
    TFoundJournal(TFoundJournal&&) noexcept;
    TFoundJournal& operator=(TFoundJournal&&) noexcept;
    ~TFoundJournal(); // releases the claim; the files stay
};

struct TJournalDamage {
    QString path;
    QString setAsideAs;
    QString reason;
};

// The newest journal in folder whose program has ended and that holds
// something to recover (a modified text, or a run that never ended).
// Journals of running copies are left alone; damaged ones are renamed aside
// and reported; ones with nothing to recover are removed.
std::optional<TFoundJournal> ClaimOrphanJournal(const QString& folder,
                                                const std::function<void(const TJournalDamage&)>& onDamaged);
// Removes a claimed journal and its lock file (restored or discarded).
void RemoveJournal(TFoundJournal& found);

// The folder journals live in.
QString RecoveryFolder();
