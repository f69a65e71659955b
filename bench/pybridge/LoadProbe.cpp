// The bridge's road: LoadDll until the interpreter is ready. Prints the
// nanoseconds LoadDll took (the process start itself is not counted).
#include "pybridge/PythonEngine.h"

#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main()
{
    const QFileInfo lib(QStringLiteral(PYBENCH_LIBPYTHON));
    const auto start = std::chrono::steady_clock::now();
    auto* engine = new pybridge::TPythonEngine;
    engine->SetUseLastKnownVersion(false);
    engine->SetDllPath(lib.absolutePath());
    engine->SetDllName(lib.fileName());
    engine->LoadDll();
    const auto end = std::chrono::steady_clock::now();
    if (!engine->Initialized())
        return 2;
    std::printf("%lld\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()));
    std::fflush(stdout);
    std::_Exit(0);
}
