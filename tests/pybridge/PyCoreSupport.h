#pragma once
// Shared pieces of the bridge tests: one engine per test process, started on
// first use, and a runner for cases that need an interpreter of their own.
#include "pybridge/PythonEngine.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace pycore {

// The runtime under test: PYCORE_LIBPYTHON from the environment (one run per
// installed runtime), else the one found at configure time.
QString LibPython();
QString LibPythonFolder();
QString LibPythonName();
// Its version as "3.X", read from the library's own file name.
QString TestedVersion();

// The process's engine, loaded from the system runtime on first call.
pybridge::TPythonEngine& Engine();

struct ChildResult {
    int exitCode = -1;
    QString output; // standard output and error
};
// Runs the test FreshInterpreter.<name> in a new process of this program.
ChildResult RunChild(const QString& name);
// True inside such a process.
bool InChild();

// Message boxes of a child, printed as "BOX|caption|type|modal|text" lines
// (the process may end inside the loader).
QStringList BoxLines(const QString& output);

// The message of the host error f raises, or "<no exception>".
QString MessageOf(const std::function<void()>& f);

} // namespace pycore
