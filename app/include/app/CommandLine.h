#pragma once
// What the workbench takes from its command line. Every parameter still goes
// on to the script's sys.argv; only these few are read here as well.
#include <QString>
#include <QStringList>

#include <optional>

enum class TStartAction { saRun, saHelp, saVersion };

// "--help" or "-h" prints the usage, "--version" the version; both end the
// program before any window. Options after "--" are the script's.
TStartAction StartActionOf(const QStringList& arguments);

// The file to open at start: the first parameter before "--" that is not an
// option, as an absolute path; a file: address counts as its local path.
// arguments[0] is the program.
std::optional<QString> StartupFileOf(const QStringList& arguments, const QString& workingFolder);

// The virtual environment named by "--python PATH" (or "--python=PATH"), the
// last one given before "--"; an empty value when PATH is missing.
std::optional<QString> PythonOptionOf(const QStringList& arguments);

QString UsageText(const QString& program);
QString VersionText();
