#include "app/DefaultScript.h"

QStringList DefaultScriptLines()
{
    QStringList lines = {
        QStringLiteral("import datetime"),
        QStringLiteral("def func1(group_name, topic, descriription, time_stamp, datas):"),
        QStringLiteral("    print( datetime.datetime.fromtimestamp( time_stamp ) )"),
        QStringLiteral("    dt = datetime.datetime.fromtimestamp(time_stamp)"),
        QStringLiteral("#   print( dt )"),
        QStringLiteral("    str1 = '{'"),
        QStringLiteral("    str1 = str1 + '\"GroupName\":\"'+ group_name + '\",'"),
        QStringLiteral("    str1 = str1 + '\"topic\":\"'+ topic + '\",'"),
        QStringLiteral("    str1 = str1 + '\"timestamp\":\"'+ str( time_stamp ) + '\",'"),
        QStringLiteral("    str1 = str1 + '[';"),
        QStringLiteral("    for dat in datas:"),
        QStringLiteral("        print( dat )"),
        QStringLiteral("        str1 = str1 + '\"item\":\"' + dat[0] + '\"'"),
        QStringLiteral("#        str1 = str1 + dat"),
        QStringLiteral("    str1 = str1 + ']';"),
        QStringLiteral("    str1 = str1 + '}'"),
        QStringLiteral("    return str1"),
    };
    for (int n = 2; n <= 8; ++n) {
        lines << QStringLiteral("def func%1():").arg(n);
        lines << QStringLiteral("    return 'func%1'").arg(n);
    }
    for (int i = 0; i < 7; ++i)
        lines << QString();
    return lines;
}
