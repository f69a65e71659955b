#pragma once
// The benchmark text: Debian's python3.11 standard library, every .py file in
// path order, each ended by a line break.
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

namespace bench {

inline constexpr char kCorpusRoot[] = "/usr/lib/python3.11";

inline QString ReadCorpus()
{
    QStringList files;
    QDirIterator it(QString::fromUtf8(kCorpusRoot), {"*.py"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QString all;
    for (const QString& path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        all += QString::fromUtf8(f.readAll());
        if (!all.endsWith(u'\n'))
            all += u'\n';
    }
    return all;
}

} // namespace bench
