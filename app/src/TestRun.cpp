#include "app/TestRun.h"

#include <QStringList>

QString RuntimeFolder(const QString& executableFolder)
{
    QString folder = executableFolder;
    if (folder.endsWith(u'/') && folder.size() > 1)
        folder.chop(1);
    return folder + QStringLiteral("/python3-linux-3.11/");
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
