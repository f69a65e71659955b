#include "app/PythonEnvironment.h"

#include "app/TestRun.h"

#include "platform/DynamicLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString SNotEnvironment = QStringLiteral("「%1」は仮想環境ではありません（%2 がありません）。");
const QString SNoVersion = QStringLiteral("仮想環境「%1」の pyvenv.cfg に Python のバージョンがありません。");
const QString SUnsupported =
    QStringLiteral("仮想環境「%1」は Python %2 です。使える Python は 3.%3 から 3.%4 までです。");
const QString SNoInterpreter = QStringLiteral("仮想環境「%1」に python がありません（%2）。");
const QString SNoRuntime =
    QStringLiteral("仮想環境「%1」は Python %2 ですが、その実行時ライブラリ %3 が見つかりません。");

bool RuntimeExists(const QString& executableFolder, int minor)
{
    for (const pybridge::TLibraryCandidate& c : RuntimeCandidates(executableFolder, minor)) {
        const bool found = c.Folder.isEmpty() ? platform::SystemLibraryExists(c.FileName)
                                              : QFileInfo::exists(c.Folder + c.FileName);
        if (found)
            return true;
    }
    return false;
}

} // namespace

QString StatedEnvironmentVersion(const QString& pyvenvCfgText)
{
    static const QRegularExpression line(QStringLiteral("^\\s*(version|version_info)\\s*=\\s*(\\S+)\\s*$"),
                                         QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(pyvenvCfgText);
    return m.hasMatch() ? m.captured(2) : QString();
}

TEnvironmentCheck CheckPythonEnvironment(const QString& folderOrPython, const QString& executableFolder)
{
    TEnvironmentCheck r;
    const QFileInfo given(QDir::cleanPath(folderOrPython));
    // An interpreter lives in <environment>/bin; the link is kept as given,
    // since its folder, not its target's, makes it the environment's.
    TPythonEnvironment env;
    env.Folder = given.isDir() ? given.absoluteFilePath() : QFileInfo(given.absolutePath()).absolutePath();
    const QString cfgPath = QDir(env.Folder).filePath(QStringLiteral("pyvenv.cfg"));
    QFile cfg(cfgPath);
    if (folderOrPython.trimmed().isEmpty() || !cfg.open(QIODevice::ReadOnly)) {
        r.Problem = SNotEnvironment.arg(folderOrPython, cfgPath);
        return r;
    }
    env.Version = StatedEnvironmentVersion(QString::fromUtf8(cfg.readAll()));
    if (env.Version.isEmpty()) {
        r.Problem = SNoVersion.arg(env.Folder);
        return r;
    }
    const QStringList parts = env.Version.split(u'.');
    env.Minor = parts.size() >= 2 && parts[0] == QLatin1String("3") ? parts[1].toInt() : 0;
    if (env.Minor < pybridge::OldestSupportedMinor || env.Minor > pybridge::NewestSupportedMinor) {
        r.Problem = SUnsupported.arg(env.Folder, env.Version)
                        .arg(pybridge::OldestSupportedMinor)
                        .arg(pybridge::NewestSupportedMinor);
        return r;
    }
    if (given.isDir()) {
        for (const char* name : {"bin/python3", "bin/python"}) {
            const QString candidate = QDir(env.Folder).filePath(QLatin1String(name));
            if (QFileInfo(candidate).isExecutable()) {
                env.PythonExe = candidate;
                break;
            }
        }
    } else if (given.isExecutable() && given.isFile()) {
        env.PythonExe = given.absoluteFilePath();
    }
    if (env.PythonExe.isEmpty()) {
        r.Problem = SNoInterpreter.arg(env.Folder, given.isDir() ? QStringLiteral("bin/python3") : given.filePath());
        return r;
    }
    if (!RuntimeExists(executableFolder, env.Minor)) {
        r.Problem = SNoRuntime.arg(env.Folder, env.Version, RuntimeLibraryName(env.Minor));
        return r;
    }
    r.Environment = env;
    return r;
}
