#pragma once
// What the editor needs of the control that shows it. The painted control
// implements this; THeadlessView stands in for it in tests and benchmarks.
#include <QString>

namespace editor {

// Changes of the editor's state that a view shows.
enum TStatusChange : unsigned {
    scCaretX = 1 << 0,
    scCaretY = 1 << 1,
    scLeftChar = 1 << 2,
    scTopLine = 1 << 3,
    scInsertMode = 1 << 4,
    scModified = 1 << 5,
    scSelection = 1 << 6,
    scReadOnly = 1 << 7,
    scOptions = 1 << 8,
};
using TStatusChanges = unsigned;

class TEditorView {
public:
    virtual ~TEditorView() = default;
    // Whole rows and display columns that fit in the text area.
    virtual int LinesInWindow() const = 0;
    virtual int CharsInWindow() const = 0;
    // Buffer lines to repaint, 1-based; lastLine -1: to the end of the text.
    virtual void InvalidateLines(int firstLine, int lastLine) = 0;
    virtual void InvalidateGutter() = 0;
    // Caret, selection, scroll position (TopLine, LeftChar) or modes changed;
    // sent once per command.
    virtual void StatusChanged(TStatusChanges changes) = 0;
    // The platform clipboard as plain text.
    virtual QString ClipboardText() const = 0;
    virtual void SetClipboardText(const QString& text) = 0;
};

class THeadlessView final : public TEditorView {
public:
    int Lines = 20;
    int Chars = 80;
    QString Clipboard;
    TStatusChanges Changes = 0;
    int StatusCalls = 0;
    int InvalidatedFirst = 0;
    int InvalidatedLast = 0;
    int Invalidations = 0;

    int LinesInWindow() const override { return Lines; }
    int CharsInWindow() const override { return Chars; }
    void InvalidateLines(int firstLine, int lastLine) override
    {
        InvalidatedFirst = firstLine;
        InvalidatedLast = lastLine;
        ++Invalidations;
    }
    void InvalidateGutter() override {}
    void StatusChanged(TStatusChanges changes) override
    {
        Changes |= changes;
        ++StatusCalls;
    }
    QString ClipboardText() const override { return Clipboard; }
    void SetClipboardText(const QString& text) override { Clipboard = text; }
};

} // namespace editor
