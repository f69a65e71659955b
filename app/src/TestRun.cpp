#include "app/TestRun.h"

#include <QFileInfo>
#include <QStringList>

QString RuntimeFolder(const QString& executableFolder, int minor)
{
    QString folder = executableFolder;
    if (folder.endsWith(u'/') && folder.size() > 1)
        folder.chop(1);
    return folder + QStringLiteral("/python3-linux-3.%1/").arg(minor);
}

QString RuntimeLibraryName(int minor) { return QStringLiteral("libpython3.%1.so.1.0").arg(minor); }

QList<pybridge::TLibraryCandidate> RuntimeCandidates(const QString& executableFolder, int onlyMinor)
{
    QList<int> minors;
    for (int minor = pybridge::NewestSupportedMinor; minor >= pybridge::OldestSupportedMinor; --minor)
        if (onlyMinor == 0 || onlyMinor == minor)
            minors << minor;
    QList<pybridge::TLibraryCandidate> found;
    for (int minor : minors) {
        const QString folder = RuntimeFolder(executableFolder, minor);
        if (QFileInfo(folder).isDir())
            found.append({folder, RuntimeLibraryName(minor), QStringLiteral("3.%1").arg(minor)});
    }
    for (int minor : minors)
        found.append({QString(), RuntimeLibraryName(minor), QStringLiteral("3.%1").arg(minor)});
    return found;
}

QString SampleDataAssignment()
{
    QStringList records;
    for (int i = 1; i <= 5; ++i) {
        // The fourth field is quoted for the first two records only.
        const QString format = i <= 2 ? QStringLiteral("('Item%1', 'Desc%1', 'JSON%1', '%1', 'ETC%1')")
                                      : QStringLiteral("('Item%1', 'Desc%1', 'JSON%1', %1, 'ETC%1')");
        records << format.arg(i);
    }
    return QStringLiteral("datas=[") + records.join(u',') + u']';
}

QString CallExpression(qint64 n, qint64 timeStamp)
{
    return QStringLiteral("func%1('gn','topic','desc',%2, datas)").arg(n).arg(timeStamp);
}
