#pragma once
// Whole files in and out: reading only what is a regular file of a size that
// fits, and replacing a file so that no failure (a full disk included) leaves
// less than the old one.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "platform/Exception.h"

namespace platform {

// A pipe, device, socket or folder where a file was expected; the reason
// names which, e.g. "通常のファイルではありません（名前付きパイプ）".
class ENotRegularFile : public Exception {
public:
    using Exception::Exception;
};

// The reason names the size and the limit in bytes.
class EFileTooLarge : public Exception {
public:
    using Exception::Exception;
};

// The whole file, read through whatever path names; throws Exception(reason).
QByteArray ReadWholeFile(const QString& path);

// The whole file when path (or the file a link names) is a regular file of at
// most maxBytes. Anything else is refused before a byte is read and without
// waiting for a writer: ENotRegularFile, EFileTooLarge (also for a file that
// grows past maxBytes while read), Exception(system error text).
QByteArray ReadRegularFile(const QString& path, qint64 maxBytes);

// MemAvailable of /proc/meminfo in bytes; -1 when unknown.
qint64 AvailableMemoryBytes();
// The largest file the editor opens: 1 GiB, less when less memory is free.
qint64 EditableFileLimit();

// Renames path to "<name>.damaged-<local time>" in its folder, adding "-2",
// "-3" ... while that name is taken, so that a file the program cannot read
// is kept, never deleted or overwritten. The new path; empty when it cannot
// be renamed.
QString SetFileAside(const QString& path);

// Replaces the file at path (a link's target, when path is a link) with
// bytes: written and synced to a new file in the same folder that is then
// renamed over it, keeping the old file's permission bits and, where allowed,
// its owner. On any failure the old file is untouched, nothing is left behind
// and Exception(system error text) is thrown.
// When the folder refuses a new file but the existing regular file is
// writable and fallbackFolder is given, the bytes are first saved to a copy
// in fallbackFolder (created 0700), then written over the file in place; the
// copy is removed after success and kept after a failure, whose reason then
// names the copy's full path.
void WriteFileAtomically(const QString& path, QByteArrayView bytes, const QString& fallbackFolder = {});

} // namespace platform
