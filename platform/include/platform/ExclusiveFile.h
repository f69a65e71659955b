#pragma once
// A small file that one process holds an exclusive advisory lock on for as
// long as it keeps it open. The system drops the lock when the process ends
// in any way (kill -9 and crashes included), so a lock that can be taken
// tells that its owner is gone.
#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

class TExclusiveFile {
public:
    // Opens (creating, mode 0600) and locks path without waiting; nothing when
    // another process holds the lock or the file cannot be opened (error says why).
    static std::unique_ptr<TExclusiveFile> TryLock(const QString& path, QString* error = nullptr);
    ~TExclusiveFile(); // closes, which releases the lock
    TExclusiveFile(const TExclusiveFile&) = delete;
    TExclusiveFile& operator=(const TExclusiveFile&) = delete;

    const QString& Path() const { return FPath; }
    // The file's whole content (small files only).
    QByteArray ReadAll() const;
    // Replaces the content in place: no new file, no rename, so it costs a
    // couple of system calls. False when the write failed.
    bool Rewrite(QByteArrayView bytes);
    // Removes the file while still holding it, then closes it.
    void RemoveAndClose();

private:
    TExclusiveFile(QString path, int fd) : FPath(std::move(path)), FFd(fd) {}
    QString FPath;
    int FFd;
};

} // namespace platform
