#include "platform/Process.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

QString ExecutablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ExecutableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(ExecutablePath()).absolutePath();
}

QString ApplicationTitleOf(const QString& exePath)
{
    QString name = exePath.mid(exePath.lastIndexOf(u'/') + 1);
    qsizetype dot = name.indexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString ApplicationTitle() { return ApplicationTitleOf(ExecutablePath()); }

QString UserStateFolder()
{
    // A relative XDG path is invalid and is ignored, as the base-directory rules say.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/quorbel"));
}

void SetCurrentThreadBackground()
{
    // On Linux a thread id names one thread here; the nice value is per thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
}

bool IsMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    static const std::thread::id first = std::this_thread::get_id();
    return std::this_thread::get_id() == first;
}

qint64 UniversalSecondsNow()
{
    return QDateTime::currentDateTimeUtc().toSecsSinceEpoch();
}

QByteArray ToAnsi(const QString& text) { return text.toUtf8(); }

QString FromAnsi(const QByteArray& bytes) { return QString::fromUtf8(bytes); }

} // namespace platform
