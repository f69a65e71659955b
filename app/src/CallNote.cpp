#include "app/CallNote.h"

#include <QRegularExpression>

QString CallConventionNote(const QString& name, const QString& value)
{
    if (name != QStringLiteral("TypeError"))
        return {};
    // Python's wording for a call with too many, too few or unknown arguments.
    static const QRegularExpression argumentError(
        QStringLiteral("^(func[1-8])\\(\\) (takes |missing |got an unexpected keyword)"));
    const QRegularExpressionMatch m = argumentError.match(value);
    if (!m.hasMatch())
        return {};
    const QString f = m.captured(1);
    return QStringLiteral(u"%1 は %1(group_name, topic, descriription, time_stamp, datas) の 5 つの引数で呼ばれます")
        .arg(f);
}
