#pragma once
// A main window over a fresh settings store, a folder for the test's files and
// scripted answers to its dialogs.
#include "app/SDIMain.h"

#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class WorkbenchFixture : public ::testing::Test {
protected:
    TempStore store;
    QTemporaryDir files;
    ScriptedDialogs dialogs;
    std::unique_ptr<TSDIAppForm> form = std::make_unique<TSDIAppForm>();

    QString File(const QString& name) const { return files.filePath(name); }
};
