#pragma once
// The main of a benchmark program that measures one workbench window
// (offscreen), its settings and recovery journal in a temporary folder.
#include "app/SDIMain.h"
#include "app/Startup.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

inline int RunWorkbenchBenchmarks(int argc, char** argv, TSDIAppForm*& form, QTemporaryDir** folder = nullptr)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    if (folder)
        *folder = &dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    // The window's recovery journal is written here rather than in the user's
    // state folder (the temporary folder is on the normal disk).
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8());
    QApplication app(argc, argv);
    PrepareApplication(app);
    form = CreateWorkbench();
    form->show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete form;
    form = nullptr;
    return 0;
}
