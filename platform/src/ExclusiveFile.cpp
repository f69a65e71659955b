#include "platform/ExclusiveFile.h"
#include "platform/Exception.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<TExclusiveFile> TExclusiveFile::TryLock(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](int fd) -> std::unique_ptr<TExclusiveFile> {
        if (error)
            *error = SystemErrorText(errno);
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    };
    // Another process may remove a lock file it could lock (a stale one)
    // between our open and our lock: a lock on a removed file holds nothing,
    // so the path must still name the locked file afterwards.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return fail(-1);
        int rc;
        do
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        while (rc != 0 && errno == EINTR);
        if (rc != 0)
            return fail(fd);
        struct stat opened {}, named {};
        if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 && opened.st_dev == named.st_dev
            && opened.st_ino == named.st_ino)
            return std::unique_ptr<TExclusiveFile>(new TExclusiveFile(path, fd));
        ::close(fd);
    }
    errno = EAGAIN;
    return fail(-1);
}

TExclusiveFile::~TExclusiveFile()
{
    if (FFd >= 0)
        ::close(FFd);
}

QByteArray TExclusiveFile::ReadAll() const
{
    QByteArray bytes;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(FFd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
        at += n;
    }
    return bytes;
}

bool TExclusiveFile::Rewrite(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(FFd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return ::ftruncate(FFd, off_t(bytes.size())) == 0;
}

void TExclusiveFile::RemoveAndClose()
{
    ::unlink(QFile::encodeName(FPath).constData());
    ::close(FFd);
    FFd = -1;
}

} // namespace platform
