#pragma once
// A headless editor set up like the main window's, and key helpers.
#include "editor/CodeEditor.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"
#include "editor/TextColumns.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <string>

namespace editor::testing {

struct TestEditor {
    TPythonHighlighter highlighter;
    THeadlessView view;
    TCodeEditor e;
    TPythonEditBehaviour behaviour;

    explicit TestEditor(const QString& text = QString(), bool python = true)
    {
        e.SetView(&view);
        e.SetTabWidth(4);
        e.SetWantTabs(true);
        e.SetHighlighter(&highlighter);
        e.SetText(text);
        if (python)
            behaviour.SetEditor(&e);
    }
    ~TestEditor() { behaviour.SetEditor(nullptr); }

    // A key as the control delivers it: key-down, then the character the
    // platform makes of it (dropped when the key ran a command).
    void Key(quint16 key, TShiftState shift = ssNone, QChar ch = QChar())
    {
        e.KeyDown(key, shift);
        if (!ch.isNull())
            e.KeyPress(ch);
    }
    // Typing: the key-down of a character key runs no command.
    void Type(const QString& s)
    {
        for (QChar ch : s) {
            const char16_t u = ch.toUpper().unicode();
            e.KeyDown((u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ? quint16(u) : VK_PACKET, ssNone);
            e.KeyPress(ch);
        }
    }
    void Enter() { Key(VK_RETURN, ssNone, QChar(u'\r')); }
    QStringList Lines() const
    {
        QStringList out;
        for (int i = 0; i < e.Lines().Count(); ++i)
            out << e.Lines().Get(i);
        return out;
    }
};

inline std::string Where(const TBufferCoord& p) { return std::to_string(p.Char) + "," + std::to_string(p.Line); }

// Inside the text and on a character boundary.
inline ::testing::AssertionResult Valid(const TCustomCodeEditor& e, TBufferCoord p, bool pastEol)
{
    const int count = std::max(1, e.Lines().Count());
    if (p.Line < 1 || p.Line > count || p.Char < 1)
        return ::testing::AssertionFailure() << "outside the text: " << Where(p);
    const QString& line = e.LineAt(p.Line);
    if (!pastEol && p.Char > line.size() + 1)
        return ::testing::AssertionFailure() << "past the line end: " << Where(p);
    if (!text::IsCharBoundary(line, CharIndexOf(p)))
        return ::testing::AssertionFailure() << "inside a character: " << Where(p);
    return ::testing::AssertionSuccess();
}

} // namespace editor::testing
