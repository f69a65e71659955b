#include "app/CommandLine.h"

#include <QDir>
#include <QUrl>

namespace {

const QString SEndOfOptions = QStringLiteral("--");

const QString SPythonOption = QStringLiteral("--python");

bool IsOption(const QString& argument) { return argument.startsWith(u'-'); }

} // namespace

TStartAction StartActionOf(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == SEndOfOptions)
            break;
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return TStartAction::saHelp;
        if (a == QLatin1String("--version"))
            return TStartAction::saVersion;
    }
    return TStartAction::saRun;
}

std::optional<QString> StartupFileOf(const QStringList& arguments, const QString& workingFolder)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == SEndOfOptions)
            break;
        if (a == SPythonOption) {
            ++i; // its value is no file to open
            continue;
        }
        if (IsOption(a) || a.isEmpty())
            continue;
        QString path = a;
        if (a.startsWith(QLatin1String("file:"))) {
            const QUrl url(a);
            if (!url.isLocalFile())
                continue;
            path = url.toLocalFile();
        }
        // The recent-file list and the caption need the full path; a relative
        // one would mean another file once the working folder differs.
        return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
    }
    return std::nullopt;
}

std::optional<QString> PythonOptionOf(const QStringList& arguments)
{
    std::optional<QString> chosen;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == SEndOfOptions)
            break;
        if (a == SPythonOption)
            chosen = arguments.value(++i);
        else if (a.startsWith(SPythonOption + u'='))
            chosen = a.mid(SPythonOption.size() + 1);
    }
    return chosen;
}

QString UsageText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [--python PATH] [FILE] [ARGUMENT...]\n"
               "A workbench for writing and trying out Python conversion scripts.\n"
               "\n"
               "  FILE        the script to open at start (.py, UTF-8)\n"
               "  ARGUMENT    handed on to the script as sys.argv[1:], like FILE\n"
               "  --python PATH  run scripts in this virtual environment (its folder\n"
               "              or its python) for this session\n"
               "  --          what follows is only for the script\n"
               "  -h, --help  show this text and exit\n"
               "  --version   show the version and exit\n")
        .arg(program);
}

QString VersionText() { return QStringLiteral("quorbel %1\n").arg(QStringLiteral(QUORBEL_VERSION)); }
