#pragma once
// The script editor control: a scroll area that shows an editing engine
// (editor::TCustomCodeEditor) through its view interface and feeds it keys,
// typed and composed text, mouse actions and the clipboard.
#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>

#include <memory>
#include <optional>

#include "editor/CodeEditor.h"
#include "editor/ErrorMark.h"
#include "editor/HtmlExport.h"
#include "widgets/EditorGutter.h"
#include "widgets/TextGrid.h"

class QMenu;

class TCustomCodeEditorControl : public QAbstractScrollArea, private editor::TEditorView {
    Q_OBJECT
public:
    explicit TCustomCodeEditorControl(QWidget* parent = nullptr);
    ~TCustomCodeEditorControl() override;

    // The engine, with the background scan of a large text finished.
    editor::TCustomCodeEditor& Engine()
    {
        FinishScan();
        return *FEngine;
    }
    const editor::TCustomCodeEditor& Engine() const { return *FEngine; }

    // Whole text: lines joined by CR LF, no break after the last line.
    QString Text() const { return FEngine->Text(); }
    // Replaces the text as a fresh document: no undo history, unmodified,
    // caret at the start.
    void SetText(const QString& text);
    void SetLines(const QStringList& lines);
    QStringList Lines() const;

    void SetHighlighter(editor::TCustomHighlighter* highlighter);
    int TabWidth() const { return FEngine->TabWidth(); }
    void SetTabWidth(int value);
    bool WantTabs() const { return FEngine->WantTabs(); }
    void SetWantTabs(bool value) { FEngine->SetWantTabs(value); }
    void SetUseCodeFolding(bool value);
    // Long lines wrap at the window's edge (or, with eoWrapWithRightEdge, at
    // the right edge column, which is then painted). Folding turns it off.
    bool WordWrap() const { return FEngine->WordWrap(); }
    void SetWordWrap(bool value);
    int RightEdge() const { return FRightEdge; }
    // How an HTML copy or export of the text looks here: font, tabs, colours.
    editor::THtmlStyle HtmlStyle() const;
    void SetRightEdge(int column);
    void SetEditorFont(const QFont& font, const QFont& gutterFont);
    const widgets::TFontGrid& Grid() const { return FGrid; }
    widgets::TEditorGutter& Gutter() { return FGutter; }
    qreal SelectionAlpha() const { return FSelectionAlpha; }

    // The line where Python reported an error: a red marker in the gutter,
    // a wavy red underline under the marked characters and the message as
    // their tool tip. It stays on its text line while lines are inserted or
    // deleted above it, and goes with the line or a new text. Setting and
    // clearing repaint the rows concerned only; caret, selection and scroll
    // position stay as they are.
    void SetErrorMark(const editor::TErrorMark& mark) { FErrorMarker.Set(mark); }
    void ClearErrorMark() { FErrorMarker.Clear(); }
    std::optional<editor::TErrorMark> ErrorMark() const { return FErrorMarker.Mark(); }

    // Puts the caret at the start of a 1-based line and brings it into view.
    void GotoLine(int line);
    // Buffer position under a viewport point (past the line end allowed).
    editor::TBufferCoord PositionAt(QPoint viewportPoint) const;
    // Viewport point of the top-left corner of a buffer position's cell.
    QPoint PointOf(editor::TBufferCoord pos) const;
    // The text area's left edge in the viewport (the gutter's width).
    int TextLeft() const { return FGutter.Width(); }
    bool CaretShown() const { return FCaretShown && hasFocus(); }
    const QString& Preedit() const { return FPreedit; }

    // Shortcuts that stay the window's even though the editor binds them
    // (the window's menu commands); every other binding wins over the
    // window's shortcuts while the editor has the focus.
    void SetWindowShortcuts(const QList<QKeySequence>& keys) { FWindowShortcuts = keys; }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // The last hint shown while the vertical thumb was dragged.
    const QString& ScrollHint() const { return FScrollHint; }

protected:
    bool event(QEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    // The key handlers' mouse chains: down and up get the button, the shift
    // state and the viewport point; the cursor chain (on moves) gets the
    // position under the mouse and the shape to show, a Qt::CursorShape.
    void RunMouseChain(const QMouseEvent* e, bool down);
    void ApplyScrollOptions();
    void ShowScrollHint(int value);
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    // editor::TEditorView
    int LinesInWindow() const override;
    int CharsInWindow() const override;
    void InvalidateLines(int firstLine, int lastLine) override;
    void InvalidateGutter() override;
    void StatusChanged(editor::TStatusChanges changes) override;
    QString ClipboardText() const override;
    void SetClipboardText(const QString& text) override;

    void UpdateScrollBars();
    void RestartCaret();
    bool KeyBelongsToWindow(const QKeyEvent* e) const;
    bool EditorWantsKey(const QKeyEvent* e) const;
    void TypeText(const QString& text);
    void SelectTo(editor::TBufferCoord pos);
    void DragScrollTick();
    void ExportPrimarySelection();
    QMenu* BuildContextMenu();
    void Run(TEditorCommand command, const editor::TCommandData& data = {});
    int RowAt(int y) const;
    QRect CaretRect() const;
    void UpdateGutterWidth();
    // Repaints the rows of a 1-based line that are in view.
    void UpdateLineRows(int line);
    // The error mark's gutter marker or underlined cells under a viewport
    // point, and the area they take.
    bool ErrorMarkAt(QPoint viewportPoint, QRect* area) const;
    // Highlighter ranges of a large text: the lines on screen at once, the
    // rest in idle time; the engine gets the highlighter when all are done.
    void ScanUpTo(int lineIndex);
    void FinishScan();
    bool ScanPending() const { return FScanTimer.isActive(); }

    std::unique_ptr<editor::TCodeEditor> FEngine;
    // Follows the engine's lines, so it comes after the engine.
    editor::TErrorMarker FErrorMarker;
    widgets::TFontGrid FGrid;
    widgets::TEditorGutter FGutter;
    qreal FSelectionAlpha = 0.4;
    QList<QKeySequence> FWindowShortcuts;

    QBasicTimer FCaretTimer;
    bool FCaretShown = true;
    QString FPreedit;
    QString FScrollHint;
    int FRightEdge = 80;
    int FPreeditCursor = 0;
    bool FSyncingScroll = false;
    editor::TCustomHighlighter* FHighlighter = nullptr;
    QBasicTimer FScanTimer;
    int FScanNext = 0;
    int FScanWidest = 0;

    enum class TDragState { None, Selecting, MaybeDragText, DraggingText };
    TDragState FDrag = TDragState::None;
    QPoint FPressPoint;
    // Selecting with the mouse held past the top or bottom edge scrolls a
    // line per tick, as long as the button is down.
    QBasicTimer FDragScrollTimer;
    QPoint FDragPoint;
    editor::TBufferCoord FSelectAnchor;
    int FClickCount = 0;
    qint64 FLastClickTime = 0;
    QPoint FLastClickPoint;
    bool FLineSelecting = false;
    bool FWordSelecting = false;
    editor::TBufferCoord FWordAnchorEnd;
    editor::TBufferCoord FDropCaret;
    bool FDropCaretShown = false;
};

class TCodeEditor final : public TCustomCodeEditorControl {
    Q_OBJECT
public:
    using TCustomCodeEditorControl::TCustomCodeEditorControl;
};
