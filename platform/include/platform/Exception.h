#pragma once
// Root of every host-side error: a formatted message in host text.
#include <QString>
#include <QByteArray>
#include <exception>

namespace platform {

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

protected:
    void SetMessage(const QString& message);

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Replaces %s placeholders in order, as the host's format strings use them.
QString Format(QString pattern, std::initializer_list<QString> args);

// The system's text for an error number.
QString SystemErrorText(int code);

} // namespace platform
