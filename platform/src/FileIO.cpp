#include "platform/FileIO.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const QString SNotRegular = QStringLiteral("通常のファイルではありません（%s）");
const QString STooLarge = QStringLiteral("ファイルが大きすぎます（%s バイト。開けるのは %s バイトまでです）");
const QString SGrewTooLarge = QStringLiteral("ファイルが大きすぎます（%s バイト以上。開けるのは %s バイトまでです）");
const QString SReplaced = QStringLiteral("読み込む間にファイルが置き換えられました");
const QString SCopyKept = QStringLiteral("%s (新しい内容は \"%s\" に残してあります)");

[[noreturn]] void ThrowSystemError(int err) { throw Exception(SystemErrorText(err)); }

QString Grouped(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

QString KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("名前付きパイプ");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("デバイス");
    if (S_ISSOCK(mode))
        return QStringLiteral("ソケット");
    if (S_ISDIR(mode))
        return QStringLiteral("フォルダー");
    return QStringLiteral("種類の分からないもの");
}

void RefuseUnlessFits(const struct stat& st, qint64 maxBytes)
{
    if (!S_ISREG(st.st_mode))
        throw ENotRegularFile(Format(SNotRegular, {KindOf(st.st_mode)}));
    if (st.st_size > maxBytes)
        throw EFileTooLarge(Format(STooLarge, {Grouped(st.st_size), Grouped(maxBytes)}));
}

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray NameOf(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

// Saving through a link writes the file it names, as editors do, rather than
// replacing the link with a file of its own.
QByteArray ResolveLinks(QByteArray path)
{
    for (int depth = 0; depth < 40; ++depth) {
        char target[4096];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n < 0 || n == sizeof target)
            break;
        const QByteArray next(target, n);
        path = next.startsWith('/') ? next : FolderOf(path) + '/' + next;
    }
    return path;
}

struct TNewFile {
    int fd = -1;
    QByteArray path;
};

// Like mkstemp, but with the mode a new file gets (umask applied).
TNewFile CreateExclusive(const QByteArray& prefix, mode_t mode, int& err)
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray path = prefix;
        for (int i = 0; i < 8; ++i)
            path += kChars[QRandomGenerator::system()->bounded(int(sizeof kChars - 1))];
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0)
            return {fd, path};
        if (errno != EEXIST) {
            err = errno;
            return {};
        }
    }
    err = EEXIST;
    return {};
}

// 0, or the errno of the write that failed; retries interrupted and short writes.
int WriteAll(int fd, QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        p += n;
        left -= n;
    }
    return 0;
}

// Syncs (unless err already tells of a failure) and closes fd; the first error.
int SyncAndClose(int fd, int err)
{
    if (!err && ::fsync(fd) != 0)
        err = errno;
    // After EINTR Linux has closed fd all the same, and the data is synced.
    if (::close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    return err;
}

int KeepModeAndOwner(int fd, const struct stat& old)
{
    // Owner first: a change of owner clears the set-id bits the mode restores.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
        return errno;
    return ::fchmod(fd, old.st_mode & 07777) == 0 ? 0 : errno;
}

// Best effort: the rename has happened, and the file holds the new bytes
// whatever a folder sync reports.
void SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int MakeFolders(const QByteArray& folder)
{
    for (qsizetype slash = folder.indexOf('/', 1); slash > 0; slash = folder.indexOf('/', slash + 1))
        ::mkdir(folder.left(slash).constData(), 0700);
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// For a writable file in a folder that refuses new files: the copy in
// fallbackFolder keeps the new bytes safe while the file itself is rewritten.
void WriteInPlace(const QByteArray& target, QByteArrayView bytes, const QString& fallbackFolder)
{
    const QByteArray folder = QFile::encodeName(fallbackFolder);
    int err = MakeFolders(folder);
    TNewFile copy;
    if (!err)
        copy = CreateExclusive(folder + '/' + NameOf(target) + '.', 0600, err);
    if (!err && (err = SyncAndClose(copy.fd, WriteAll(copy.fd, bytes))) != 0)
        ::unlink(copy.path.constData());
    if (err)
        ThrowSystemError(err);

    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    err = fd < 0 ? errno : WriteAll(fd, bytes);
    if (!err && ::ftruncate(fd, bytes.size()) != 0)
        err = errno;
    if (fd >= 0)
        err = SyncAndClose(fd, err);
    if (err)
        throw Exception(Format(SCopyKept, {SystemErrorText(err), QFile::decodeName(copy.path)}));
    ::unlink(copy.path.constData());
}

} // namespace

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Exception(file.errorString());
    return bytes;
}

QByteArray ReadRegularFile(const QString& path, qint64 maxBytes)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat named;
    if (::stat(name.constData(), &named) != 0)
        ThrowSystemError(errno);
    RefuseUnlessFits(named, maxBytes);
    // Non-blocking, should a pipe have taken the file's place since.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        ThrowSystemError(errno);
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{fd};
    struct stat opened;
    if (::fstat(fd, &opened) != 0)
        ThrowSystemError(errno);
    RefuseUnlessFits(opened, maxBytes);
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        throw Exception(SReplaced);

    // One byte of room past the size shows end of file in the first pass; a
    // file that grows meanwhile is read on up to one byte past the limit.
    QByteArray bytes(qsizetype(opened.st_size) + 1, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (total == bytes.size())
            bytes.resize(qsizetype(std::min(maxBytes + 1, total + std::max<qint64>(total, 65536))));
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowSystemError(errno);
        if (n == 0)
            break;
        total += n;
        if (total > maxBytes)
            throw EFileTooLarge(Format(SGrewTooLarge, {Grouped(total), Grouped(maxBytes)}));
    }
    bytes.truncate(qsizetype(total));
    return bytes;
}

QString SetFileAside(const QString& path)
{
    const QFileInfo info(path);
    QDir dir = info.dir();
    const QString stem = info.fileName() + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? stem : stem + u'-' + QString::number(n);
        if (dir.exists(name))
            continue;
        // The rename never replaces a file: it fails when the name is taken.
        if (dir.rename(info.fileName(), name))
            return dir.filePath(name);
        if (!dir.exists(name)) // not taken by someone else meanwhile
            return {};
    }
}

qint64 AvailableMemoryBytes()
{
    const int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[8192];
    size_t size = 0;
    while (size < sizeof text - 1) {
        const ssize_t n = ::read(fd, text + size, sizeof text - 1 - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += size_t(n);
    }
    ::close(fd);
    text[size] = 0;
    const char* line = std::strstr(text, "MemAvailable:");
    long long kib = 0;
    if (!line || std::sscanf(line, "MemAvailable: %lld kB", &kib) != 1)
        return -1;
    return kib * 1024;
}

qint64 EditableFileLimit()
{
    constexpr qint64 kOneGiB = qint64(1) << 30;
    const qint64 available = AvailableMemoryBytes();
    return available < 0 ? kOneGiB : std::min(kOneGiB, available);
}

void WriteFileAtomically(const QString& path, QByteArrayView bytes, const QString& fallbackFolder)
{
    const QByteArray target = ResolveLinks(QFile::encodeName(path));
    struct stat old;
    const bool exists = ::stat(target.constData(), &old) == 0;
    int err = 0;
    // Private until its mode is that of the old file.
    const TNewFile temp = CreateExclusive(FolderOf(target) + "/." + NameOf(target) + '.', exists ? 0600 : 0666, err);
    if (temp.fd < 0) {
        if ((err == EACCES || err == EPERM) && exists && S_ISREG(old.st_mode) && !fallbackFolder.isEmpty()
            && ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) == 0)
            return WriteInPlace(target, bytes, fallbackFolder);
        ThrowSystemError(err);
    }
    if (exists)
        err = KeepModeAndOwner(temp.fd, old);
    if (!err)
        err = WriteAll(temp.fd, bytes);
    err = SyncAndClose(temp.fd, err);
    if (!err && ::rename(temp.path.constData(), target.constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.path.constData());
        ThrowSystemError(err);
    }
    SyncFolder(FolderOf(target));
}

} // namespace platform
