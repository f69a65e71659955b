#include "app/RecoveryJournal.h"

#include "editor/EditorCore.h"
#include "editor/LineBuffer.h"
#include "platform/ExclusiveFile.h"
#include "platform/Process.h"
#include "platform/FileIO.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <cstring>

namespace {

const QByteArray kMagic = QByteArrayLiteral("QUORBEL-RECOVERY 1");
const QString kJournalSuffix = QStringLiteral(".journal");
const QString kLockSuffix = QStringLiteral(".lock");

quint64 Fnv1a64(QByteArrayView bytes, quint64 h = 14695981039346656037ULL)
{
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

// The lines joined by CR LF, as UTF-16 bytes in the machine's order.
QByteArray JoinedUtf16(const std::vector<QString>& lines)
{
    qsizetype units = lines.empty() ? 0 : 2 * qsizetype(lines.size() - 1);
    for (const QString& line : lines)
        units += line.size();
    QByteArray bytes(units * 2, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(bytes.data());
    bool first = true;
    for (const QString& line : lines) {
        if (!first) {
            *out++ = u'\r';
            *out++ = u'\n';
        }
        first = false;
        std::memcpy(out, line.utf16(), size_t(line.size()) * 2);
        out += line.size();
    }
    return bytes;
}

QString LockPathOf(const QString& journalPath)
{
    return journalPath.left(journalPath.size() - kJournalSuffix.size()) + kLockSuffix;
}

} // namespace

QByteArray EncodeJournal(const TJournalSnapshot& snapshot)
{
    QByteArray text = JoinedUtf16(snapshot.lines);
    TJournalMeta m = snapshot.meta;
    if (snapshot.baseline) {
        const QByteArrayView base(reinterpret_cast<const char*>(snapshot.baseline->utf16()), snapshot.baseline->size() * 2);
        m.modified = m.modified || QByteArrayView(text) != base;
    }
    if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        qToLittleEndian<char16_t>(text.constData(), text.size() / 2, text.data());
    QByteArray out;
    out.reserve(text.size() + 512);
    out += kMagic + '\n';
    out += "written: " + m.written.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '\n';
    out += "file: " + QUrl::toPercentEncoding(m.fileName) + '\n';
    out += "modified: " + QByteArray(m.modified ? "1" : "0") + '\n';
    out += "caret: " + QByteArray::number(m.caretLine) + ' ' + QByteArray::number(m.caretChar) + '\n';
    out += "text-utf16le: " + QByteArray::number(text.size()) + '\n';
    // The sum covers the header too: a changed flag or file name is damage.
    out += "fnv1a64: " + QByteArray::number(Fnv1a64(text, Fnv1a64(out)), 16) + '\n';
    out += '\n';
    out += text;
    return out;
}

TJournalRecord DecodeJournal(QByteArrayView bytes)
{
    auto damaged = [](const char* what) { throw EJournalDamaged(QString::fromUtf8(what)); };
    qsizetype at = 0;
    auto nextLine = [&]() -> QByteArrayView {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            damaged("見出しが途中で切れています");
        QByteArrayView line = bytes.sliced(at, end - at);
        at = end + 1;
        return line;
    };
    if (nextLine() != kMagic)
        damaged("復元用の記録ではありません");
    QList<QByteArray> fields;
    const QList<QByteArray> names{"written", "file", "modified", "caret", "text-utf16le", "fnv1a64"};
    qsizetype summed = 0;
    for (const QByteArray& name : names) {
        summed = at;
        const QByteArrayView line = nextLine();
        if (!line.startsWith(name + ": "))
            damaged("見出しの項目が足りません");
        fields << line.sliced(name.size() + 2).toByteArray();
    }
    if (!nextLine().isEmpty())
        damaged("見出しが終わっていません");
    TJournalRecord record;
    TJournalMeta& m = record.meta;
    m.written = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
    m.fileName = QUrl::fromPercentEncoding(fields[1]);
    m.modified = fields[2] == "1";
    const QList<QByteArray> caret = fields[3].split(' ');
    bool okLine = false, okChar = false, okSize = false, okSum = false;
    if (caret.size() == 2) {
        m.caretLine = caret[0].toInt(&okLine);
        m.caretChar = caret[1].toInt(&okChar);
    }
    const qsizetype size = fields[4].toLongLong(&okSize);
    const quint64 sum = fields[5].toULongLong(&okSum, 16);
    if (!m.written.isValid() || !okLine || !okChar || !okSize || !okSum || size % 2 != 0)
        damaged("見出しの項目が正しくありません");
    if (bytes.size() - at != size)
        damaged("本文の長さが合いません");
    const QByteArrayView text = bytes.sliced(at);
    if (Fnv1a64(text, Fnv1a64(bytes.first(summed))) != sum)
        damaged("本文がチェックサムと合いません");
    record.text.resize(size / 2);
    qFromLittleEndian<char16_t>(text.data(), size / 2, record.text.data());
    return record;
}

QString RecoveryFolder() { return platform::UserStateFolder() + QStringLiteral("/recovery"); }

TRecoveryJournal::TRecoveryJournal(const QString& folder, QObject* parent) : QObject(parent), FFolder(folder)
{
    // Process ids are reused; the start time keeps two programs' names apart.
    const QString id = QString::number(QCoreApplication::applicationPid()) + u'-'
        + QString::number(QDateTime::currentMSecsSinceEpoch());
    FPath = QDir(folder).filePath(id + kJournalSuffix);
    FLockPath = QDir(folder).filePath(id + kLockSuffix);
    FTimer.setObjectName(QStringLiteral("journal-delay"));
    FTimer.setSingleShot(true);
    FTimer.setInterval(WriteDelayMs());
    connect(&FTimer, &QTimer::timeout, this, &TRecoveryJournal::Due);
    // Input and painting come between the slices.
    FSliceTimer.setObjectName(QStringLiteral("journal-slice"));
    FSliceTimer.setSingleShot(true);
    FSliceTimer.setInterval(0);
    connect(&FSliceTimer, &QTimer::timeout, this, &TRecoveryJournal::Slice);
}

TRecoveryJournal::~TRecoveryJournal()
{
    FTimer.stop();
    FSliceTimer.stop();
    {
        std::unique_lock lock(FMutex);
        FPending.reset();
        FQuit = true;
    }
    FWake.notify_all();
    if (FWriter.joinable())
        FWriter.join();
    if (FKeep) {
        if (FLock)
            FLock->Rewrite({});
        return;
    }
    // Also a journal whose write report had not arrived yet.
    QFile::remove(FPath);
    if (FLock)
        FLock->RemoveAndClose();
}

bool TRecoveryJournal::EnsureOwned()
{
    if (FLock)
        return true;
    if (!QDir().mkpath(FFolder)) {
        Report(QStringLiteral("フォルダー \"%1\" を作成できません").arg(FFolder));
        return false;
    }
    // The text is the user's own: nobody else reads it.
    QFile::setPermissions(FFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QString error;
    FLock = platform::TExclusiveFile::TryLock(FLockPath, &error);
    if (!FLock) {
        Report(QStringLiteral("\"%1\": %2").arg(FLockPath, error));
        return false;
    }
    return true;
}

void TRecoveryJournal::SetLines(const editor::TLineBuffer* lines)
{
    FSliceTimer.stop();
    if (FTaking)
        Recycle(FTaking->Abandon());
    FLines = lines;
    FTaking = lines ? std::make_unique<TLineSnapshot>(*lines) : nullptr;
}

void TRecoveryJournal::LinePut(int index)
{
    if (FTaking)
        FTaking->Put(index);
}

void TRecoveryJournal::LinesInserted(int index, int count)
{
    if (FTaking)
        FTaking->Inserted(index, count);
}

void TRecoveryJournal::LinesDeleted(int index, int count)
{
    if (FTaking)
        FTaking->Deleted(index, count);
}

void TRecoveryJournal::NoteEdit()
{
    ++FGeneration;
    // Started by the first edit after a write, not restarted by later ones:
    // a user who types without a pause is journaled all the same.
    if (!FTimer.isActive() && !FSliceTimer.isActive()) {
        FTimer.start();
        if (FLines)
            PrepareRoom(FLines->Count());
    }
}

void TRecoveryJournal::PrepareRoom(int lines)
{
    {
        std::unique_lock lock(FMutex);
        // A little more, for the lines typed until the snapshot.
        FRoomWanted = lines + lines / 16 + 64;
        if (int(FRoom.size()) >= FRoomWanted)
            return;
        if (!FWriter.joinable())
            FWriter = std::thread([this] { WriterLoop(); });
    }
    FWake.notify_all();
}

void TRecoveryJournal::StartTaking()
{
    if (!FTaking || FTaking->Active())
        return;
    std::unique_lock lock(FMutex);
    FTaking->Start(std::move(FRoom));
    FRoom = {};
    FRoomWanted = 0; // this array comes back as the next room
}

TJournalSnapshot TRecoveryJournal::FinishTaking()
{
    TJournalSnapshot s;
    if (FTaking) {
        StartTaking();
        FTaking->Step(std::numeric_limits<qsizetype>::max());
        s.lines = FTaking->Finish();
    }
    if (MetaSource)
        MetaSource(s);
    s.meta.written = QDateTime::currentDateTimeUtc();
    return s;
}

void TRecoveryJournal::Due()
{
    if (FWrittenGeneration == FGeneration && FOnDisk)
        return;
    if (!EnsureOwned())
        return;
    StartTaking();
    Slice();
}

void TRecoveryJournal::Slice()
{
    // Edits between the slices reach the copy through the forwarded events.
    if (FTaking && !FTaking->Step(SliceLines())) {
        FSliceTimer.start();
        return;
    }
    TJob job{FinishTaking(), FGeneration, FEpoch};
    {
        std::unique_lock lock(FMutex);
        // A job still waiting is older than this one: it is replaced.
        FPending = std::move(job);
        if (!FWriter.joinable())
            FWriter = std::thread([this] { WriterLoop(); });
    }
    FWake.notify_all();
}

void TRecoveryJournal::WriterLoop()
{
    // Journaling must never take the processor from the user's typing.
    platform::SetCurrentThreadBackground();
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FQuit || FPending || int(FRoom.size()) < FRoomWanted; });
        if (FQuit)
            return;
        if (!FPending) {
            // Made here, not on the main thread: a million fresh references
            // are thousands of page faults.
            std::vector<QString> room = std::move(FRoom);
            const int wanted = FRoomWanted;
            lock.unlock();
            room.resize(size_t(wanted));
            lock.lock();
            FRoom = std::move(room);
            continue;
        }
        TJob job = std::move(*FPending);
        FPending.reset();
        FBusy = true;
        lock.unlock();
        std::optional<QString> failure = Write(job.snapshot);
        Recycle(std::move(job.snapshot.lines));
        job.snapshot = {};
        lock.lock();
        FBusy = false;
        FDoneGeneration = job.generation;
        FDoneFailure = failure;
        FWake.notify_all();
        QMetaObject::invokeMethod(this, [this, failure, generation = job.generation, epoch = job.epoch] {
            // A report from before a discard tells nothing about the file now.
            if (epoch != FEpoch)
                return;
            if (!failure) {
                FOnDisk = true;
                FWrittenGeneration = std::max(FWrittenGeneration, generation);
            }
            Report(failure);
        }, Qt::QueuedConnection);
    }
}

std::optional<QString> TRecoveryJournal::Write(const TJournalSnapshot& snapshot)
{
    try {
        platform::WriteFileAtomically(FPath, EncodeJournal(snapshot));
        return std::nullopt;
    } catch (const platform::Exception& e) {
        return QStringLiteral("\"%1\": %2").arg(FPath, e.Message());
    }
}

void TRecoveryJournal::WaitIdle(std::unique_lock<std::mutex>& lock)
{
    FWake.wait(lock, [this] { return !FBusy && !FPending; });
}

bool TRecoveryJournal::WriteNow()
{
    FTimer.stop();
    FSliceTimer.stop(); // a copy in hand is finished below
    {
        std::unique_lock lock(FMutex);
        FPending.reset();
        WaitIdle(lock);
        // A job the writer finished whose report has not arrived yet.
        if (!FDoneFailure && FDoneGeneration > FWrittenGeneration) {
            FWrittenGeneration = FDoneGeneration;
            FOnDisk = true;
        }
    }
    if (FOnDisk && FWrittenGeneration == FGeneration)
        return true;
    if (!EnsureOwned())
        return false;
    TJournalSnapshot snapshot = FinishTaking();
    const std::optional<QString> failure = Write(snapshot);
    Recycle(std::move(snapshot.lines));
    if (!failure) {
        FOnDisk = true;
        FWrittenGeneration = FGeneration;
    }
    Report(failure);
    return !failure;
}

void TRecoveryJournal::Recycle(std::vector<QString>&& lines)
{
    // The references go, the room stays for the next snapshot.
    std::fill(lines.begin(), lines.end(), QString());
    std::unique_lock lock(FMutex);
    if (lines.size() > FRoom.size())
        FRoom = std::move(lines);
}

QByteArray TRecoveryJournal::RunMarker(const QString& functionName) { return "run: " + functionName.toUtf8() + '\n'; }

QString TRecoveryJournal::RunningFunctionOf(const QByteArray& lockContent)
{
    if (!lockContent.startsWith("run: "))
        return {};
    return QString::fromUtf8(lockContent.mid(5).trimmed());
}

bool TRecoveryJournal::BeginRun(const QString& functionName)
{
    const bool written = WriteNow();
    if (FLock)
        FLock->Rewrite(RunMarker(functionName));
    return written;
}

void TRecoveryJournal::EndRun()
{
    if (FLock)
        FLock->Rewrite({});
}

void TRecoveryJournal::Discard()
{
    FTimer.stop();
    FSliceTimer.stop();
    if (FTaking && FTaking->Active())
        Recycle(FTaking->Abandon());
    {
        std::unique_lock lock(FMutex);
        FPending.reset();
        WaitIdle(lock);
        FDoneGeneration = 0;
    }
    QFile::remove(FPath);
    FOnDisk = false;
    FWrittenGeneration = 0;
    ++FEpoch;
}

void TRecoveryJournal::Keep()
{
    WriteNow();
    FKeep = true;
}

void TRecoveryJournal::Report(const std::optional<QString>& failure)
{
    if (!failure) {
        FFailing = false;
        return;
    }
    if (std::exchange(FFailing, true))
        return;
    if (OnWriteFailed)
        OnWriteFailed(*failure);
}

void FollowEditor(editor::TEditorCore& editor, std::function<TRecoveryJournal*()> journal)
{
    editor::TLineBuffer& lines = editor.Lines();
    if (TRecoveryJournal* j = journal())
        j->SetLines(&lines);
    editor::ChainEvent(lines.OnPut, [journal](editor::TLineBuffer*, int index, const QString&) {
        if (TRecoveryJournal* j = journal())
            j->LinePut(index);
    });
    editor::ChainEvent(lines.OnInserted, [journal](editor::TLineBuffer*, int index, int count) {
        if (TRecoveryJournal* j = journal())
            j->LinesInserted(index, count);
    });
    editor::ChainEvent(lines.OnDeleted, [journal](editor::TLineBuffer*, int index, int count) {
        if (TRecoveryJournal* j = journal())
            j->LinesDeleted(index, count);
    });
    editor::ChainEvent(editor.OnLinesInvalidated, [journal](editor::TEditorCore*, int, int) {
        if (TRecoveryJournal* j = journal())
            j->NoteEdit();
    });
}

TFoundJournal::TFoundJournal() = default;
TFoundJournal::TFoundJournal(TFoundJournal&&) noexcept = default;
TFoundJournal& TFoundJournal::operator=(TFoundJournal&&) noexcept = default;
TFoundJournal::~TFoundJournal() = default;

std::optional<TFoundJournal> ClaimOrphanJournal(const QString& folder,
                                                const std::function<void(const TJournalDamage&)>& onDamaged)
{
    QDir dir(folder);
    // Lock files of programs that ended after their journal went.
    for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*") + kLockSuffix}, QDir::Files | QDir::Hidden)) {
        const QString lockPath = info.absoluteFilePath();
        if (QFileInfo::exists(lockPath.chopped(kLockSuffix.size()) + kJournalSuffix))
            continue;
        if (auto stale = platform::TExclusiveFile::TryLock(lockPath))
            stale->RemoveAndClose();
    }
    const QFileInfoList journals =
        dir.entryInfoList({QStringLiteral("*") + kJournalSuffix}, QDir::Files | QDir::Hidden, QDir::Time);
    for (const QFileInfo& info : journals) {
        TFoundJournal found;
        found.path = info.absoluteFilePath();
        // Held by a running copy: not ours to take.
        found.lock = platform::TExclusiveFile::TryLock(LockPathOf(found.path));
        if (!found.lock)
            continue;
        found.runningFunction = TRecoveryJournal::RunningFunctionOf(found.lock->ReadAll());
        QString reason;
        try {
            // Twice the largest text the editor opens (UTF-16), and a header.
            const qint64 limit = 2 * platform::EditableFileLimit() + 65536;
            found.record = DecodeJournal(platform::ReadRegularFile(found.path, limit));
        } catch (const platform::Exception& e) {
            reason = e.Message();
        }
        if (!reason.isEmpty()) {
            const QString aside = platform::SetFileAside(found.path);
            if (!aside.isEmpty()) {
                found.lock->RemoveAndClose();
                found.lock.reset();
            }
            if (onDamaged)
                onDamaged({found.path, aside, reason});
            continue;
        }
        if (!found.record.meta.modified && found.runningFunction.isEmpty()) {
            RemoveJournal(found); // its text is the file's or the default script
            continue;
        }
        return found;
    }
    return std::nullopt;
}

void RemoveJournal(TFoundJournal& found)
{
    QFile::remove(found.path);
    if (found.lock)
        found.lock->RemoveAndClose();
    found.lock.reset();
}
