#include "platform/TextLines.h"

namespace platform {

QStringList SplitLines(QStringView text, TLineBreaks breaks, TFinalBreak final)
{
    QStringList lines;
    ForEachLine(text, breaks, final, [&](QStringView line, QStringView) { lines.append(line.toString()); });
    return lines;
}

QString JoinLines(const QStringList& lines, QStringView separator, bool breakAfterLast)
{
    return JoinLines(lines.size(), [&](qsizetype i) -> const QString& { return lines.at(i); }, separator, breakAfterLast);
}

} // namespace platform
