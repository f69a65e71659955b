#pragma once
// What a screen reader sees of the script editor control: an editable,
// multi-line text with caret, selection and geometry, and the events that
// tell it of caret moves, selections and edits.
//
// Offsets are UTF-16 positions in the whole text with its lines joined by
// LF (what assistive technology expects), whatever breaks the file has.
#include <QAccessible>
#include <QAccessibleWidget>

#include "editor/EditorView.h"

class TCustomCodeEditorControl;

namespace widgets {

class TCodeEditorAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface {
public:
    explicit TCodeEditorAccessible(TCustomCodeEditorControl* control);
    ~TCodeEditorAccessible() override;

    // QAccessibleInterface
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // QAccessibleTextInterface; the selection is one range (index 0).
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    using QAccessibleWidget::text;
    // Char, word and line pieces are found within the line at the offset
    // (the LF ending a line belongs to it), never by copying the whole text.
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface: each call is one undo step; nothing
    // happens while the editor is read-only.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    TCustomCodeEditorControl* Control() const;
    // Bounds [start, end) of the piece of the given kind that holds offset.
    void PieceAt(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const;
    bool PieceAround(int offset, QAccessible::TextBoundaryType type, int* startOffset, int* endOffset, int* start,
                     int* end) const;

    QAccessible::Id FGutterId = 0; // the gutter's child interface, made when first asked for
};

// Installs the factory (once per process) and follows the control's text
// changes, so that assistive technology is told of each edit. Called from the
// control's constructor.
void AttachCodeEditorAccessible(TCustomCodeEditorControl* control);

// Tells assistive technology of caret and selection changes; does nothing
// (and costs a flag test) while none listens.
void SendCodeEditorStatus(TCustomCodeEditorControl* control, editor::TStatusChanges changes);
inline void NotifyCodeEditorStatus(TCustomCodeEditorControl* control, editor::TStatusChanges changes)
{
    if (QAccessible::isActive())
        SendCodeEditorStatus(control, changes);
}

} // namespace widgets
