#pragma once
// What the main window's source files share: the run's hints and the
// script's file name.
#include <QAction>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>

// "caption|status text" of the run button and the stop command.
inline const QString SRunHint = QStringLiteral("実行|スクリプトを実行");
inline const QString SStopHint = QStringLiteral("中止|実行中のスクリプトを中止");

// The file name the script runs under, which tracebacks show.
inline const QString SScriptFile = QStringLiteral("<string>");

// Sets a widget's tool tip and status text from "caption|status text".
inline void SetHint(QWidget* w, const QString& hint)
{
    const qsizetype bar = hint.indexOf(u'|');
    w->setToolTip(hint.left(bar));
    w->setStatusTip(hint.mid(bar + 1));
    w->setAccessibleName(hint.left(bar)); // a screen reader's name follows the hint (実行, 中止)
}

// Checks or unchecks a menu item without running its command.
inline void ShowChecked(QAction* action, bool on)
{
    const QSignalBlocker quiet(action);
    action->setChecked(on);
}
