// The editor control's mouse: selecting, dragging text and files, the
// context menu and the wheel.
#include "widgets/CodeEditorControl.h"

#include "editor/EditTransaction.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDrag>
#include <QMenu>
#include <QMimeData>

#include <algorithm>

using editor::TBufferCoord;

namespace {

// How often a drag past the edge scrolls the text.
constexpr int kDragScrollMs = 50;

// Where a position ends up once the text between from and to is removed.
TBufferCoord AfterRemoval(TBufferCoord pos, TBufferCoord from, TBufferCoord to)
{
    if (pos <= from)
        return pos;
    if (pos <= to)
        return from;
    if (pos.Line == to.Line)
        return {from.Char + (pos.Char - to.Char), from.Line};
    return {pos.Char, pos.Line - (to.Line - from.Line)};
}

} // namespace

// --- mouse -----------------------------------------------------------------

void TCustomCodeEditorControl::SelectTo(TBufferCoord pos)
{
    TBufferCoord anchor = FSelectAnchor;
    TBufferCoord end = pos;
    if (FLineSelecting) {
        const int count = FEngine->Lines().Count();
        auto lineEnd = [&](int line) {
            return line < count ? TBufferCoord{1, line + 1}
                                : TBufferCoord{int(FEngine->Lines().GetRef(line - 1).size()) + 1, line};
        };
        if (pos.Line >= FSelectAnchor.Line) {
            anchor = {1, FSelectAnchor.Line};
            end = lineEnd(pos.Line);
        } else {
            anchor = lineEnd(FSelectAnchor.Line);
            end = {1, pos.Line};
        }
    } else if (FWordSelecting) {
        // Whole words: the end moves to the word edge on its side.
        const QString& text = FEngine->Lines().GetRef(pos.Line - 1);
        auto ident = [](QChar c) { return c.isLetterOrNumber() || c == u'_' || c.isMark(); };
        int i = std::min<int>(pos.Char - 1, int(text.size()));
        if (pos < FSelectAnchor) {
            anchor = FWordAnchorEnd;
            while (i > 0 && ident(text[i - 1]))
                --i;
        } else {
            while (i < text.size() && ident(text[i]))
                ++i;
        }
        end = {i + 1, pos.Line};
    }
    FEngine->SetSelection(anchor, end);
}

void TCustomCodeEditorControl::mousePressEvent(QMouseEvent* e)
{
    FinishScan();
    setFocus(Qt::MouseFocusReason);
    const QPoint at = e->position().toPoint();
    RunMouseChain(e, true);
    const TBufferCoord pos = PositionAt(at);
    if (e->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection() && !FEngine->ReadOnly()) {
            const QString text = clipboard->text(QClipboard::Selection);
            FEngine->SetCaretXY(pos);
            if (!text.isEmpty())
                Run(ecImeStr, text);
        }
        return;
    }
    if (e->button() != Qt::LeftButton) {
        if (e->button() == Qt::RightButton && FEngine->HasOption(editor::eoRightMouseMovesCursor)
            && !FEngine->SelAvail())
            FEngine->SetCaretXY(pos);
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool triple = FClickCount == 2 && now - FLastClickTime < QApplication::doubleClickInterval()
        && (at - FLastClickPoint).manhattanLength() < QApplication::startDragDistance();
    FClickCount = triple ? 3 : 1;
    FLastClickTime = now;
    FLastClickPoint = at;
    FWordSelecting = false;
    FLineSelecting = false;

    if (at.x() < TextLeft()) {
        const int line = pos.Line;
        int index;
        if (FGutter.BandAt(at.x()) == widgets::TEditorGutter::gbFold && FEngine->CodeFoldingActive()
            && FEngine->AllFoldRanges().FoldStartAtLine(line, &index)) {
            if (FEngine->AllFoldRanges().Ranges()[size_t(index)].Collapsed)
                FEngine->Uncollapse(index);
            else
                FEngine->Collapse(index);
            UpdateScrollBars();
            viewport()->update();
            return;
        }
        // A click on a line number selects the line; dragging selects lines.
        FLineSelecting = true;
        FSelectAnchor = {1, line};
        SelectTo({1, line});
        FDrag = TDragState::Selecting;
        return;
    }
    if (triple) {
        FLineSelecting = true;
        FSelectAnchor = {1, pos.Line};
        SelectTo(pos);
        FDrag = TDragState::Selecting;
        return;
    }
    const bool alt = e->modifiers() & Qt::AltModifier;
    if (e->modifiers() & Qt::ShiftModifier) {
        FSelectAnchor = FEngine->SelAvail() ? FEngine->SelectionAnchor() : FEngine->CaretXY();
        SelectTo(pos);
        FDrag = TDragState::Selecting;
        return;
    }
    if (!alt && FEngine->HasOption(editor::eoDragDropEditing) && FEngine->SelAvail()
        && FEngine->SelectionMode() == editor::smNormal && pos >= FEngine->BlockBegin() && pos < FEngine->BlockEnd()) {
        FDrag = TDragState::MaybeDragText;
        FPressPoint = at;
        return;
    }
    const editor::TSelectionMode mode = alt ? editor::smColumn : editor::smNormal;
    if (FEngine->SelectionMode() != mode)
        FEngine->SetSelectionMode(mode);
    FEngine->SetCaretXY(PositionAt(at));
    FSelectAnchor = FEngine->CaretXY();
    FDrag = TDragState::Selecting;
    RestartCaret();
}

void TCustomCodeEditorControl::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    if (FDrag == TDragState::Selecting && (e->buttons() & Qt::LeftButton)) {
        SelectTo(PositionAt(at));
        FDragPoint = at;
        if (at.y() < 0 || at.y() >= viewport()->height())
            FDragScrollTimer.start(kDragScrollMs, this);
        else
            FDragScrollTimer.stop();
        return;
    }
    if (FDrag == TDragState::MaybeDragText && (at - FPressPoint).manhattanLength() >= QApplication::startDragDistance()) {
        FDrag = TDragState::DraggingText;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setText(FEngine->SelText());
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        // Moved into another program or pane: the text leaves here.
        if (action == Qt::MoveAction && drag->target() != viewport() && !FEngine->ReadOnly())
            FEngine->SetSelText(QString());
        FDrag = TDragState::None;
        return;
    }
    if (e->buttons() == Qt::NoButton) {
        // The mouse-cursor handlers may choose another shape (a Qt::CursorShape).
        int cursor = at.x() < TextLeft() ? Qt::ArrowCursor : Qt::IBeamCursor;
        const TBufferCoord pos = PositionAt(at);
        FEngine->Keys().KbdHandler().ExecuteMouseCursor(pos.Line, pos.Char, cursor);
        viewport()->setCursor(Qt::CursorShape(std::clamp(cursor, 0, int(Qt::LastCursor))));
    }
}

void TCustomCodeEditorControl::RunMouseChain(const QMouseEvent* e, bool down)
{
    editor::TMouseButton button = editor::mbLeft;
    if (e->button() == Qt::RightButton)
        button = editor::mbRight;
    else if (e->button() == Qt::MiddleButton)
        button = editor::mbMiddle;
    else if (e->button() != Qt::LeftButton)
        return;
    const QPoint at = e->position().toPoint();
    const TShiftState shift = ShiftStateFromQtModifiers(e->modifiers());
    editor::TEditorKbdHandler& handlers = FEngine->Keys().KbdHandler();
    if (down)
        handlers.ExecuteMouseDown(button, shift, at.x(), at.y());
    else
        handlers.ExecuteMouseUp(button, shift, at.x(), at.y());
}

void TCustomCodeEditorControl::DragScrollTick()
{
    if (FDrag != TDragState::Selecting) {
        FDragScrollTimer.stop();
        return;
    }
    // One row past the edge: selecting it scrolls the view by that row.
    const QPoint at(FDragPoint.x(), FDragPoint.y() < 0 ? -1 : viewport()->height());
    SelectTo(PositionAt(at));
}

void TCustomCodeEditorControl::mouseReleaseEvent(QMouseEvent* e)
{
    RunMouseChain(e, false);
    FDragScrollTimer.stop();
    if (FDrag == TDragState::MaybeDragText) // a click into the selection
        FEngine->SetCaretXY(PositionAt(e->position().toPoint()));
    FDrag = TDragState::None;
    ExportPrimarySelection();
}

void TCustomCodeEditorControl::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || e->position().x() < TextLeft()) {
        mousePressEvent(e);
        return;
    }
    FClickCount = 2;
    FLastClickTime = QDateTime::currentMSecsSinceEpoch();
    FLastClickPoint = e->position().toPoint();
    if (FEngine->SelectionMode() != editor::smNormal)
        FEngine->SetSelectionMode(editor::smNormal);
    FEngine->SetCaretXY(PositionAt(FLastClickPoint));
    Run(ecSelWord);
    if (FEngine->SelAvail()) {
        FWordSelecting = true;
        FSelectAnchor = FEngine->BlockBegin();
        FWordAnchorEnd = FEngine->BlockEnd();
        FDrag = TDragState::Selecting;
    }
    ExportPrimarySelection();
}

// --- drag and drop ---------------------------------------------------------

void TCustomCodeEditorControl::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasText() && !FEngine->ReadOnly() && FEngine->HasOption(editor::eoDragDropEditing)) {
        e->acceptProposedAction();
        return;
    }
    e->ignore();
}

void TCustomCodeEditorControl::dragMoveEvent(QDragMoveEvent* e)
{
    if (!e->mimeData()->hasText() || FEngine->ReadOnly()) {
        e->ignore();
        return;
    }
    FDropCaret = PositionAt(e->position().toPoint());
    FDropCaretShown = true;
    const bool internal = e->source() == this;
    e->setDropAction(internal && !(e->modifiers() & Qt::ControlModifier) ? Qt::MoveAction : Qt::CopyAction);
    if (!(e->possibleActions() & e->dropAction()))
        e->setDropAction(e->proposedAction());
    e->accept();
    viewport()->update();
}

void TCustomCodeEditorControl::dropEvent(QDropEvent* e)
{
    FinishScan();
    FDropCaretShown = false;
    viewport()->update();
    if (!e->mimeData()->hasText() || FEngine->ReadOnly()) {
        e->ignore();
        return;
    }
    TBufferCoord pos = PositionAt(e->position().toPoint());
    const QString text = e->mimeData()->text();
    const bool internalMove = e->source() == this && !(e->modifiers() & Qt::ControlModifier)
        && (e->possibleActions() & Qt::MoveAction) && FEngine->SelAvail();
    if (internalMove) {
        const TBufferCoord from = FEngine->BlockBegin(), to = FEngine->BlockEnd();
        if (pos > from && pos < to) { // dropped onto itself
            e->setDropAction(Qt::CopyAction);
            e->accept();
            return;
        }
        {
            editor::TEditTransaction transaction(*FEngine);
            FEngine->DeleteTextRange(from, to);
            pos = AfterRemoval(pos, from, to);
            const TBufferCoord end = FEngine->InsertTextAt(pos, text);
            FEngine->SetSelection(pos, end);
        }
        // The source must not delete the text once more.
        e->setDropAction(Qt::CopyAction);
        e->accept();
        return;
    }
    {
        editor::TEditTransaction transaction(*FEngine);
        const TBufferCoord end = FEngine->InsertTextAt(pos, text);
        FEngine->SetSelection(pos, end);
    }
    e->acceptProposedAction();
    setFocus(Qt::MouseFocusReason);
}

// --- context menu ------------------------------------------------------------

QMenu* TCustomCodeEditorControl::BuildContextMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool writable = !FEngine->ReadOnly();
    const bool sel = FEngine->SelAvail();
    struct Item {
        const char* text;
        TEditorCommand command;
        bool enabled;
    };
    const Item items[] = {
        {"元に戻す(&U)", ecUndo, FEngine->CanUndo()},
        {"やり直し(&R)", ecRedo, FEngine->CanRedo()},
        {nullptr, ecNone, false},
        {"切り取り(&T)", ecCut, writable && sel},
        {"コピー(&C)", ecCopy, sel},
        {"貼り付け(&P)", ecPaste, writable && !QGuiApplication::clipboard()->text().isEmpty()},
        {"削除(&D)", ecDeleteChar, writable && sel},
        {nullptr, ecNone, false},
        {"すべて選択(&A)", ecSelectAll, FEngine->Lines().Count() > 0},
    };
    for (const Item& item : items) {
        if (!item.text) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(QString::fromUtf8(item.text));
        a->setEnabled(item.enabled);
        const TEditorCommand command = item.command;
        connect(a, &QAction::triggered, this, [this, command] { Run(command); });
    }
    return menu;
}

void TCustomCodeEditorControl::contextMenuEvent(QContextMenuEvent* e)
{
    BuildContextMenu()->popup(e->globalPos());
}

void TCustomCodeEditorControl::wheelEvent(QWheelEvent* e) { QAbstractScrollArea::wheelEvent(e); }
