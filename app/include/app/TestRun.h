#pragma once
// The texts a test run hands to the interpreter.
#include <QByteArray>
#include <QString>

// Runtime folder beside the executable and the library in it.
QString RuntimeFolder(const QString& executableFolder);
inline const QString RuntimeLibraryName = QStringLiteral("libpython3.11.so.1.0");

// datas=[('Item1', 'Desc1', 'JSON1', '1', 'ETC1'),...] as one line.
QString SampleDataAssignment();

// func<n>('gn','topic','desc',<timeStamp>, datas)
QString CallExpression(qint64 n, qint64 timeStamp);
