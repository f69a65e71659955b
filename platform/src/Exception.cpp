#include "platform/Exception.h"

#include <cstring>

namespace platform {

Exception::Exception(QString message) { SetMessage(message); }

QString SystemErrorText(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

void Exception::SetMessage(const QString& message)
{
    FMessage = message;
    FUtf8 = message.toUtf8();
}

QString Format(QString pattern, std::initializer_list<QString> args)
{
    QString out;
    out.reserve(pattern.size() + 64);
    auto arg = args.begin();
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        QChar c = pattern.at(i);
        if (c == u'%' && i + 1 < pattern.size()) {
            QChar n = pattern.at(i + 1);
            if (n == u's' || n == u'd') {
                if (arg != args.end())
                    out += *arg++;
                ++i;
                continue;
            }
            if (n == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace platform
