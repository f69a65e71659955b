#pragma once
// The benchmark text: Debian's python3.X standard library (the runtime's version), every .py file in
// path order, each ended by a line break.
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include "editor/LineBuffer.h"

namespace bench {

inline constexpr char kCorpusRoot[] = "/usr/lib/python" QUORBEL_BENCH_PYTHON_VERSION;

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

// The corpus as the editor's line buffer splits it.
inline const QStringList& CorpusLines()
{
    static const QStringList lines = [] {
        editor::TLineBuffer b;
        b.SetText(ReadCorpus());
        QStringList out;
        out.reserve(b.Count());
        for (int i = 0; i < b.Count(); ++i)
            out << b.Get(i);
        return out;
    }();
    return lines;
}

// The corpus repeated up to one million lines, joined by CR LF.
inline const QString& MillionLineText()
{
    static const QString text = [] {
        const QStringList& lines = CorpusLines();
        QStringList out;
        out.reserve(1000000);
        while (out.size() < 1000000)
            for (qsizetype i = 0; i < lines.size() && out.size() < 1000000; ++i)
                out << lines[i];
        return out.join(QStringLiteral("\r\n"));
    }();
    return text;
}

} // namespace bench
