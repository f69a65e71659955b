#pragma once
// A file's bytes as they stand on disk, without any text decoding.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// Empty when the file cannot be read.
inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
