// The bridge's road: LoadDll until the interpreter is ready. Prints the
// nanoseconds LoadDll took (the process start itself is not counted). With
// "search", the workbench's road instead: the system's supported runtimes
// through the dynamic loader, newest first, until one loads.
#include "pybridge/PythonEngine.h"

#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool search = argc > 1 && std::strcmp(argv[1], "search") == 0;
    const QFileInfo lib(QStringLiteral(PYBENCH_LIBPYTHON));
    const auto start = std::chrono::steady_clock::now();
    auto* engine = new pybridge::TPythonEngine;
    engine->SetUseLastKnownVersion(false);
    if (search) {
        QList<pybridge::TLibraryCandidate> candidates;
        for (int minor = pybridge::NewestSupportedMinor; minor >= pybridge::OldestSupportedMinor; --minor)
            candidates.append({QString(), QStringLiteral("libpython3.%1.so.1.0").arg(minor), QStringLiteral("3.%1").arg(minor)});
        engine->LoadFirstOf(candidates);
    } else {
        engine->SetDllPath(lib.absolutePath());
        engine->SetDllName(lib.fileName());
        engine->LoadDll();
    }
    const auto end = std::chrono::steady_clock::now();
    if (!engine->Initialized())
        return 2;
    std::printf("%lld\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()));
    std::fflush(stdout);
    std::_Exit(0);
}
