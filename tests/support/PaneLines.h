#pragma once
// The lines a text pane shows; an empty pane has none (its document still
// holds one empty block).
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextBlock>

inline QStringList PaneLines(const QPlainTextEdit& pane)
{
    QStringList out;
    if (pane.document()->isEmpty())
        return out;
    for (QTextBlock b = pane.document()->begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}
