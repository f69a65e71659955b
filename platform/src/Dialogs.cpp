#include "platform/Dialogs.h"

#include <QFileInfo>
#include <QStringList>

namespace platform {

namespace {
Dialogs* gOverride = nullptr;
}

Dialogs& CurrentDialogs()
{
    if (gOverride)
        return *gOverride;
    static QtDialogs qt;
    return qt;
}

Dialogs* SetDialogs(Dialogs* dialogs)
{
    Dialogs* previous = gOverride;
    gOverride = dialogs;
    return previous;
}

QString ApplyDefaultExt(const QString& fileName, const QString& defaultExt)
{
    if (fileName.isEmpty() || defaultExt.isEmpty())
        return fileName;
    if (!QFileInfo(fileName).suffix().isEmpty() || fileName.endsWith(u'.'))
        return fileName;
    QString ext = defaultExt.startsWith(u'.') ? defaultExt.mid(1) : defaultExt;
    if (ext.isEmpty())
        return fileName;
    return fileName + u'.' + ext;
}

QString ToQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(u';', u' ');
        const QString& description = parts.at(i);
        // A description that already ends with its patterns in brackets is
        // shown as it is; Qt reads the patterns from those brackets.
        if (description.endsWith(u'(' + patterns + u')'))
            out << description;
        else
            out << description + QStringLiteral(" (") + patterns + u')';
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace platform
