#pragma once
// The texts a test run hands to the interpreter, and where it finds the runtime.
#include "pybridge/DynamicDll.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The runtime folder of one version beside the executable
// ("<folder>/python3-linux-3.<minor>/"), and the library in it.
QString RuntimeFolder(const QString& executableFolder, int minor);
QString RuntimeLibraryName(int minor);

// Where a run looks for its runtime, in this order: the runtime folders
// beside the program that exist, newest supported version first; then the
// system's libraries through the dynamic loader, newest first. With
// onlyMinor (a virtual environment's version), that version alone.
QList<pybridge::TLibraryCandidate> RuntimeCandidates(const QString& executableFolder, int onlyMinor = 0);

// datas=[('Item1', 'Desc1', 'JSON1', '1', 'ETC1'),...] as one line.
QString SampleDataAssignment();

// func<n>('gn','topic','desc',<timeStamp>, datas)
QString CallExpression(qint64 n, qint64 timeStamp);
