#include "widgets/CodeEditorControl.h"
#include "editor/WrapRows.h"

#include "editor/HtmlExport.h"
#include "editor/TextColumns.h"
#include "widgets/CodeEditorAccessible.h"
#include "widgets/TextPainter.h"

#include <climits>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QToolTip>
#include <QHelpEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <cmath>

using editor::TBufferCoord;

TCustomCodeEditorControl::TCustomCodeEditorControl(QWidget* parent)
    : QAbstractScrollArea(parent), FEngine(std::make_unique<editor::TCodeEditor>()), FErrorMarker(FEngine->Lines())
{
    FEngine->SetView(this);
    FErrorMarker.OnChanged = [this](int oldLine, int newLine) {
        UpdateLineRows(oldLine);
        UpdateLineRows(newLine);
    };
    widgets::AttachCodeEditorAccessible(this); // screen readers read and follow the text
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    // Moves without a button pick the cursor shape (gutter, text, handlers).
    viewport()->setMouseTracking(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, &TCustomCodeEditorControl::ShowScrollHint);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [] { QToolTip::hideText(); });
    ApplyScrollOptions();
    SetEditorFont(widgets::TFontGrid::EditorFont(13), widgets::TFontGrid::EditorFont(11));
    UpdateGutterWidth();
    UpdateScrollBars();
}

TCustomCodeEditorControl::~TCustomCodeEditorControl()
{
    // The engine may still report to its view while it goes.
    FEngine->SetView(nullptr);
}

// --- text and settings -----------------------------------------------------

namespace {

// Texts above this size are shown before their highlighter ranges are all
// known; a few screens of lines are scanned in each idle step.
constexpr qsizetype kBackgroundScanChars = 4 * 1024 * 1024;
constexpr int kScanStepLines = 30000;

} // namespace

void TCustomCodeEditorControl::SetText(const QString& text)
{
    FScanTimer.stop();
    const bool background = FHighlighter && !FEngine->UseCodeFolding() && text.size() > kBackgroundScanChars;
    if (background)
        FEngine->SetHighlighter(nullptr);
    else if (FEngine->Highlighter() != FHighlighter)
        FEngine->SetHighlighter(FHighlighter);
    // Pending before the text arrives, so the scroll bars set up while it
    // loads do not measure every line at once.
    if (background) {
        FScanNext = 0;
        FScanWidest = 0;
        FScanTimer.start(0, this);
    }
    // A fresh document: loading it is no edit to undo.
    FEngine->LockUndo();
    FEngine->SetText(text);
    FEngine->UnlockUndo();
    FEngine->ClearUndo();
    FEngine->SetModified(false);
    FEngine->SetCaretXY({1, 1});
    FEngine->SetTopLine(1);
    FEngine->SetLeftChar(1);
    UpdateGutterWidth();
    UpdateScrollBars();
    viewport()->update();
}

void TCustomCodeEditorControl::SetLines(const QStringList& lines) { SetText(lines.join(QStringLiteral("\r\n"))); }

QStringList TCustomCodeEditorControl::Lines() const
{
    QStringList out;
    const editor::TLineBuffer& lines = FEngine->Lines();
    out.reserve(lines.Count());
    for (int i = 0; i < lines.Count(); ++i)
        out << lines.GetRef(i);
    return out;
}

void TCustomCodeEditorControl::SetHighlighter(editor::TCustomHighlighter* highlighter)
{
    FScanTimer.stop();
    FHighlighter = highlighter;
    FEngine->SetHighlighter(highlighter);
    viewport()->update();
}

void TCustomCodeEditorControl::SetTabWidth(int value)
{
    FEngine->SetTabWidth(value);
    viewport()->update();
}

void TCustomCodeEditorControl::SetUseCodeFolding(bool value)
{
    FEngine->SetUseCodeFolding(value);
    ApplyScrollOptions();
    viewport()->update();
}

void TCustomCodeEditorControl::SetWordWrap(bool value)
{
    FEngine->SetWordWrap(value);
    FEngine->ViewResized();
    ApplyScrollOptions();
    viewport()->update();
}

void TCustomCodeEditorControl::SetRightEdge(int column)
{
    FRightEdge = std::max(1, column);
    FEngine->ViewResized();
    UpdateScrollBars();
    viewport()->update();
}

void TCustomCodeEditorControl::SetEditorFont(const QFont& font, const QFont& gutterFont)
{
    setFont(font);
    FGrid.SetFont(font);
    FGutter.SetFont(gutterFont);
    FEngine->ViewResized();
    UpdateScrollBars();
    viewport()->update();
}

void TCustomCodeEditorControl::GotoLine(int line)
{
    const int count = std::max(1, FEngine->Lines().Count());
    line = std::clamp(line, 1, count);
    // Unfold what hides the line, so the caret is seen there.
    FEngine->RevealLine(line);
    FEngine->SetCaretXY({1, line});
    // The line comes to the middle of the window when it was out of view.
    const int row = FEngine->DisplayXY().Row;
    if (row < FEngine->TopLine() || row >= FEngine->TopLine() + LinesInWindow())
        FEngine->SetTopLine(row - LinesInWindow() / 2);
    FEngine->EnsureCursorPosVisible();
    viewport()->update();
}

void TCustomCodeEditorControl::ScanUpTo(int lineIndex)
{
    if (!FScanTimer.isActive() || !FHighlighter)
        return;
    editor::TLineBuffer& lines = FEngine->Lines();
    const int count = lines.Count();
    const int stop = std::min(count, lineIndex + 1);
    for (; FScanNext < stop; ++FScanNext) {
        if (FScanNext == 0)
            FHighlighter->ResetRange();
        else
            FHighlighter->SetRange(lines.GetRange(FScanNext - 1));
        FHighlighter->SetLine(lines.GetRef(FScanNext), FScanNext);
        FHighlighter->NextToEol();
        lines.PutRange(FScanNext, FHighlighter->GetRange());
        FScanWidest = std::max(FScanWidest, lines.GetTextWidth(FScanNext));
    }
    if (FScanNext >= count) {
        FScanTimer.stop();
        FEngine->SetHighlighterScanned(FHighlighter);
        UpdateScrollBars();
    }
}

void TCustomCodeEditorControl::FinishScan()
{
    if (FScanTimer.isActive())
        ScanUpTo(FEngine->Lines().Count());
}

// --- geometry --------------------------------------------------------------

int TCustomCodeEditorControl::RowAt(int y) const
{
    return FEngine->TopLine() + int(std::floor(qreal(y) / FGrid.LineHeight()));
}

TBufferCoord TCustomCodeEditorControl::PositionAt(QPoint p) const
{
    const int rows = std::max(1, FEngine->DisplayRowCount());
    const int row = std::clamp(RowAt(p.y()), 1, rows);
    // In cells from the row's start (0-based, fractional).
    const qreal cells = (FEngine->WrapRows() ? 0 : FEngine->LeftChar() - 1)
        + std::max(0, p.x() - TextLeft()) / FGrid.CellWidth();
    const widgets::TRowSpan span = widgets::RowSpanAt(*FEngine, row);
    const int line = std::max(1, span.Line);
    const QString& whole = FEngine->Lines().GetRef(line - 1);
    // A wrapped row is measured as a line of its own.
    const QStringView text = QStringView(whole).mid(span.Start, span.End - span.Start);
    const int tab = FEngine->TabWidth();
    const int index = editor::text::IndexOfDisplayColumn(text, int(std::floor(cells)), tab);
    if (index >= text.size()) {
        // Past a wrapped row's text: its end, before the next row's text.
        if (!span.LastOfLine)
            return FEngine->DisplayToBufferPos({int(std::floor(cells)) + 1, row});
        // Past the end each cell is one position.
        const int end = editor::text::DisplayColumn(text, int(text.size()), tab);
        return {span.Start + int(text.size()) + std::max(0, int(std::lround(cells)) - end) + 1, line};
    }
    // The nearer edge of the character under the point: its right half
    // (of a tab, a wide character) lands after it.
    const int start = editor::text::DisplayColumn(text, index, tab);
    const int next = widgets::NextCluster(text, index);
    const int width = widgets::CellWidth(text, index, next - index, start, tab);
    return {span.Start + (cells >= start + width / 2.0 ? next : index) + 1, line};
}

QPoint TCustomCodeEditorControl::PointOf(TBufferCoord pos) const
{
    const editor::TDisplayCoord d = FEngine->BufferToDisplayPos(pos);
    const qreal x = TextLeft() + (d.Column - FEngine->LeftChar()) * FGrid.CellWidth();
    return {int(std::lround(x)), (d.Row - FEngine->TopLine()) * FGrid.LineHeight()};
}

QRect TCustomCodeEditorControl::CaretRect() const
{
    const QPoint p = PointOf(FEngine->CaretXY());
    int width = 2;
    if (!FEngine->InsertMode()) {
        const QString& text = FEngine->LineText();
        const int index = FEngine->CaretX() - 1;
        int cells = 1;
        if (index < text.size() && text[index] != u'\t')
            cells = std::max(1, widgets::CellWidth(text, index, widgets::NextCluster(text, index) - index, 0, 1));
        width = int(std::lround(cells * FGrid.CellWidth()));
    }
    return QRect(p.x(), p.y(), width, FGrid.LineHeight());
}

void TCustomCodeEditorControl::UpdateGutterWidth()
{
    if (FGutter.SetLineCount(FEngine->Lines().Count())) {
        UpdateScrollBars();
        viewport()->update();
    }
}

void TCustomCodeEditorControl::UpdateLineRows(int line)
{
    if (line < 1 || line > FEngine->Lines().Count())
        return;
    const editor::TWrapRows* wrap = FEngine->WrapRows();
    const int lh = FGrid.LineHeight();
    const int first = FEngine->BufferToDisplayPos({1, line}).Row - FEngine->TopLine();
    const int rows = wrap ? wrap->RowsOfLine(line - 1) : 1;
    const int y1 = std::max(0, first * lh);
    const int y2 = int(std::min<qint64>(viewport()->height(), qint64(first + rows) * lh));
    if (y2 > y1)
        viewport()->update(0, y1, viewport()->width(), y2 - y1);
}

bool TCustomCodeEditorControl::ErrorMarkAt(QPoint at, QRect* area) const
{
    const std::optional<editor::TErrorMark>& mark = FErrorMarker.Mark();
    if (!mark || !viewport()->rect().contains(at))
        return false;
    const int row = RowAt(at.y());
    const int lh = FGrid.LineHeight();
    const int y = (row - FEngine->TopLine()) * lh;
    if (FGutter.BandAt(at.x()) == widgets::TEditorGutter::gbMarks) {
        const widgets::TRowSpan span = widgets::RowSpanAt(*FEngine, row);
        *area = QRect(FGutter.BandLeft(FGutter.gbMarks), y, FGutter.BandWidth(FGutter.gbMarks), lh);
        return span.Line == mark->Line && span.RowInLine == 0;
    }
    if (at.x() < TextLeft())
        return false;
    for (const QRectF& cell : widgets::ErrorMarkCells(*FEngine, FGrid, *mark, TextLeft(), row, row)) {
        const QRect r = cell.translated(0, y).toAlignedRect();
        if (r.contains(at)) {
            *area = r;
            return true;
        }
    }
    return false;
}

void TCustomCodeEditorControl::UpdateScrollBars()
{
    FSyncingScroll = true;
    const int rows = LinesInWindow();
    const int total = FEngine->DisplayRowCount();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, total - (FEngine->HasOption(editor::eoScrollPastEof) ? 1 : rows)));
    v->setPageStep(rows);
    v->setValue(FEngine->TopLine() - 1);
    QScrollBar* h = horizontalScrollBar();
    const int cols = CharsInWindow();
    // While a large text is still being scanned, the widest line scanned so
    // far: the widths of the rest are measured with their ranges.
    const int known = ScanPending() ? FScanWidest : FEngine->Lines().GetMaxWidth();
    const int widest = std::max(known, FEngine->DisplayXY().Column) + 1;
    // The view may stand right of the text's end (typing pages it right);
    // with the option it may scroll a whole page past the longest line.
    const int pastEnd = FEngine->HasOption(editor::eoScrollPastEol) ? cols - 1 : 0;
    if (FEngine->WrapRows())
        h->setRange(0, 0);
    else
        h->setRange(0, std::max({0, widest - cols + pastEnd, FEngine->LeftChar() - 1}));
    h->setPageStep(cols);
    h->setValue(FEngine->LeftChar() - 1);
    // Bars shown though nothing scrolls are greyed, arrows and all.
    const bool disable = FEngine->HasOption(editor::eoDisableScrollArrows);
    v->setEnabled(!disable || v->maximum() > v->minimum());
    h->setEnabled(!disable || h->maximum() > h->minimum());
    FSyncingScroll = false;
}

void TCustomCodeEditorControl::ApplyScrollOptions()
{
    const Qt::ScrollBarPolicy policy =
        FEngine->HasOption(editor::eoHideShowScrollbars) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOn;
    setVerticalScrollBarPolicy(policy);
    // Wrapped rows never run past the window's edge.
    setHorizontalScrollBarPolicy(FEngine->WordWrap() ? Qt::ScrollBarAlwaysOff : policy);
    UpdateScrollBars();
}

// While the thumb is dragged: the line that will be at the top.
void TCustomCodeEditorControl::ShowScrollHint(int value)
{
    if (!FEngine->HasOption(editor::eoShowScrollHint))
        return;
    const QString hint = QStringLiteral("先頭行: %1").arg(value + 1);
    QScrollBar* bar = verticalScrollBar();
    // Beside the thumb when the hint follows it, else at the view's top right.
    const QPoint at = FEngine->HasOption(editor::eoScrollHintFollows)
                          ? QPoint(bar->mapToGlobal(QPoint(0, 0)).x(), QCursor::pos().y())
                          : viewport()->mapToGlobal(QPoint(viewport()->width(), 0));
    QToolTip::showText(at, hint, this);
    FScrollHint = hint;
}

void TCustomCodeEditorControl::scrollContentsBy(int, int)
{
    if (FSyncingScroll)
        return;
    FEngine->SetTopLine(verticalScrollBar()->value() + 1);
    FEngine->SetLeftChar(horizontalScrollBar()->value() + 1);
    viewport()->update();
}

void TCustomCodeEditorControl::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    // Wrapped rows follow the width.
    FEngine->ViewResized();
    // A taller window may show rows past the old last top line.
    FEngine->SetTopLine(FEngine->TopLine());
    UpdateScrollBars();
}

// --- the view interface ----------------------------------------------------

int TCustomCodeEditorControl::LinesInWindow() const { return std::max(1, viewport()->height() / FGrid.LineHeight()); }

int TCustomCodeEditorControl::CharsInWindow() const
{
    const int visible = std::max(1, int((viewport()->width() - TextLeft()) / FGrid.CellWidth()));
    // Rows may wrap at the right edge instead of the window's.
    if (FEngine->WordWrap() && FEngine->HasOption(editor::eoWrapWithRightEdge))
        return std::min(visible, FRightEdge);
    return visible;
}

void TCustomCodeEditorControl::InvalidateLines(int firstLine, int lastLine)
{
    UpdateGutterWidth();
    const int top = FEngine->TopLine();
    const int lh = FGrid.LineHeight();
    const bool folding = FEngine->CodeFoldingActive();
    if (const editor::TWrapRows* wrap = FEngine->WrapRows()) {
        // Lines as rows; a line that gained or lost rows moves everything below.
        const int count = wrap->LineCount();
        const int first = firstLine >= 1 && firstLine <= count ? wrap->FirstRowOfLine(firstLine - 1) + 1 : top;
        const int last = lastLine >= 1 && lastLine <= count
                             ? wrap->FirstRowOfLine(lastLine - 1) + wrap->RowsOfLine(lastLine - 1)
                             : INT_MAX / 2;
        const int y1 = std::max(0, (first - top) * lh);
        const int y2 = int(std::min<qint64>(viewport()->height(), qint64(last - top + 1) * lh));
        if (y2 > y1)
            viewport()->update(0, y1, viewport()->width(), y2 - y1);
    } else if (lastLine < 0 || folding) {
        // Lines inserted or removed move everything below.
        const int from = folding ? 0 : std::max(0, (firstLine - top) * lh);
        viewport()->update(0, from, viewport()->width(), viewport()->height() - from);
    } else {
        const int y1 = std::max(0, (firstLine - top) * lh);
        const int y2 = std::min(viewport()->height(), (lastLine - top + 1) * lh);
        if (y2 > y1)
            viewport()->update(0, y1, viewport()->width(), y2 - y1);
    }
}

void TCustomCodeEditorControl::InvalidateGutter() { viewport()->update(0, 0, FGutter.Width(), viewport()->height()); }

void TCustomCodeEditorControl::StatusChanged(editor::TStatusChanges changes)
{
    widgets::NotifyCodeEditorStatus(this, changes); // caret and selection, for screen readers
    if (changes & (editor::scTopLine | editor::scLeftChar | editor::scCaretX | editor::scCaretY))
        UpdateScrollBars();
    if (changes & editor::scSelection)
        ExportPrimarySelection();
    if (changes & editor::scOptions)
        ApplyScrollOptions();
    if (changes & (editor::scCaretX | editor::scCaretY)) {
        RestartCaret();
        if (testAttribute(Qt::WA_InputMethodEnabled) && hasFocus())
            QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle | Qt::ImCursorPosition);
    }
    viewport()->update();
}

QString TCustomCodeEditorControl::ClipboardText() const { return QGuiApplication::clipboard()->text(); }

editor::THtmlStyle TCustomCodeEditorControl::HtmlStyle() const
{
    editor::THtmlStyle style;
    const QFont& font = FGrid.Font();
    style.FontFamily = font.family();
    style.FontPixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    style.TabWidth = FEngine->TabWidth();
    style.Foreground = palette().color(QPalette::Text).rgba();
    style.Background = palette().color(QPalette::Base).rgba();
    return style;
}

// Copy and cut hand the selection over here. Other programs get it in the
// editor's colours and font too, unless the user asked for plain text.
void TCustomCodeEditorControl::SetClipboardText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const editor::TCustomCodeEditor& e = *FEngine;
    if (e.HasOption(editor::eoCopyPlainText) || !e.SelAvail()) {
        clipboard->setText(text);
        return;
    }
    const editor::THtmlStyle style = HtmlStyle();
    QString html;
    switch (e.SelectionMode()) {
    case editor::smNormal:
        html = editor::HtmlFragment(e.Lines(), FHighlighter, style, e.BlockBegin(), e.BlockEnd());
        break;
    case editor::smLine: {
        // Whole lines, with the break after the last unless it ends the text.
        const int last = e.BlockEnd().Line;
        const TBufferCoord end = last < e.LineCount() ? TBufferCoord{1, last + 1} : e.LineEndOf(last);
        html = editor::HtmlFragment(e.Lines(), FHighlighter, style, {1, e.BlockBegin().Line}, end);
        break;
    }
    case editor::smColumn: {
        // Pieces of lines that do not follow each other: without colours.
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        html = editor::HtmlFragment(lines, nullptr, style, {1, 1}, {int(lines.last().size()) + 1, int(lines.size())});
        break;
    }
    }
    auto* data = new QMimeData;
    data->setText(text);
    data->setHtml(html);
    clipboard->setMimeData(data);
}

void TCustomCodeEditorControl::ExportPrimarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Megabytes of text are not copied on every caret step.
    if (clipboard->supportsSelection() && FEngine->SelAvail() && FDrag == TDragState::None)
        clipboard->setText(FEngine->SelText(), QClipboard::Selection);
}

// --- painting --------------------------------------------------------------

void TCustomCodeEditorControl::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const int lh = FGrid.LineHeight();
    const int first = FEngine->TopLine();
    const int last = first + viewport()->height() / lh + 1;
    const int left = TextLeft();
    const QRect textArea(left, 0, viewport()->width() - left, viewport()->height());
    widgets::TTextColors colors;
    colors.Foreground = palette().color(QPalette::Text);
    colors.Background = palette().color(QPalette::Base);
    colors.Selection = palette().color(QPalette::Highlight);
    colors.SelectionAlpha = FSelectionAlpha;
    p.fillRect(textArea, colors.Background);
    p.setClipRect(textArea);
    if (ScanPending()) {
        const widgets::TRowSpan lastShown = widgets::RowSpanAt(*FEngine, last);
        ScanUpTo((lastShown.Line > 0 ? lastShown.Line : FEngine->Lines().Count()) - 1);
    }
    widgets::PaintTextRows(p, *FEngine, FHighlighter, FGrid, colors, left, textArea.width(), first, last);
    const std::optional<editor::TErrorMark>& mark = FErrorMarker.Mark();
    if (mark)
        widgets::PaintErrorUnderline(p, widgets::ErrorMarkCells(*FEngine, FGrid, *mark, left, first, last),
                                     FGutter.ErrorColor);
    if (FEngine->WordWrap() && FEngine->HasOption(editor::eoWrapWithRightEdge)) {
        // The column the rows wrap at.
        const int x = left + int(FRightEdge * FGrid.CellWidth());
        p.setPen(QColor(192, 192, 192));
        p.drawLine(x, 0, x, viewport()->height());
    }

    const QRect caret = CaretRect();
    if (!FPreedit.isEmpty()) {
        // Composition in progress: shown at the caret, underlined, over the text.
        p.setFont(FGrid.Font());
        int cells = 0;
        widgets::ForEachCell(FPreedit, FEngine->TabWidth(), 0, INT_MAX, [&](const widgets::TGridCell& c) {
            cells = c.Column + c.Width;
            return true;
        });
        const QRectF box(caret.left(), caret.top(), cells * FGrid.CellWidth(), lh);
        p.fillRect(box, colors.Background);
        p.setPen(colors.Foreground);
        p.drawText(QPointF(box.left(), box.top() + FGrid.Ascent()), FPreedit);
        p.drawLine(QPointF(box.left(), box.bottom() - 1), QPointF(box.right(), box.bottom() - 1));
    } else if (CaretShown() && !FEngine->HasOption(editor::eoNoCaret)) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caret, Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (FDropCaretShown) {
        const QPoint d = PointOf(FDropCaret);
        p.fillRect(QRect(d.x(), d.y(), 2, lh), colors.Foreground);
    }
    p.setClipping(false);
    FGutter.Paint(p, *FEngine, first, last, lh, viewport()->height(), mark ? mark->Line : 0);
}

void TCustomCodeEditorControl::RestartCaret()
{
    FCaretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0 && hasFocus())
        FCaretTimer.start(flash / 2, this);
    else
        FCaretTimer.stop();
    viewport()->update(CaretRect().adjusted(-2, 0, 2, 0));
}

void TCustomCodeEditorControl::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == FScanTimer.timerId()) {
        ScanUpTo(FScanNext + kScanStepLines);
        return;
    }
    if (e->timerId() == FDragScrollTimer.timerId()) {
        DragScrollTick();
        return;
    }
    if (e->timerId() == FCaretTimer.timerId()) {
        FCaretShown = !FCaretShown;
        viewport()->update(CaretRect().adjusted(-2, 0, 2, 0));
        return;
    }
    QAbstractScrollArea::timerEvent(e);
}

void TCustomCodeEditorControl::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    RestartCaret();
}

void TCustomCodeEditorControl::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    FCaretTimer.stop();
    FEngine->Keys().ClearPendingStroke();
    viewport()->update();
}

// --- keyboard --------------------------------------------------------------

void TCustomCodeEditorControl::Run(TEditorCommand command, const editor::TCommandData& data)
{
    FinishScan();
    FEngine->CommandProcessor(command, QChar(), data);
}

bool TCustomCodeEditorControl::KeyBelongsToWindow(const QKeyEvent* e) const
{
    const QKeySequence key(e->keyCombination());
    for (const QKeySequence& s : FWindowShortcuts)
        if (s.matches(key) == QKeySequence::ExactMatch)
            return true;
    return false;
}

bool TCustomCodeEditorControl::EditorWantsKey(const QKeyEvent* e) const
{
    const quint16 vk = VirtualKeyFromQtKey(e->key(), e->modifiers());
    if (vk == 0)
        return false;
    const TShiftState shift = ShiftStateFromQtModifiers(e->modifiers());
    const editor::TEditorKeyStrokes& keys = FEngine->Keys().Keystrokes();
    const editor::TKeyTranslator& translator = FEngine->Keys();
    if (translator.LastKey() != 0 && keys.FindKeycode2(translator.LastKey(), translator.LastShiftState(), vk, shift) >= 0)
        return true;
    if (keys.FindKeycode(vk, shift) >= 0)
        return true;
    // Plain typing also beats a single-key shortcut.
    return (shift & (ssCtrl | ssAlt)) == 0 && !e->text().isEmpty() && e->text()[0].unicode() >= 32;
}

bool TCustomCodeEditorControl::event(QEvent* e)
{
    // The viewport leaves its tool tips to the control, in its coordinates.
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        QRect area;
        if (ErrorMarkAt(viewport()->mapFrom(this, help->pos()), &area) && !FErrorMarker.Mark()->Message.isEmpty()) {
            // Hidden again when the mouse leaves the marker or the characters.
            QToolTip::showText(help->globalPos(), FErrorMarker.Mark()->Message, viewport(), area);
            return true;
        }
    }
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (!KeyBelongsToWindow(key) && EditorWantsKey(key)) {
            key->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

bool TCustomCodeEditorControl::focusNextPrevChild(bool next)
{
    // With WantTabs, Tab and Shift+Tab edit the text instead of moving on.
    if (WantTabs())
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TCustomCodeEditorControl::keyPressEvent(QKeyEvent* e)
{
    // Edits and word rules need every line's range.
    FinishScan();
    if (KeyBelongsToWindow(e)) {
        e->ignore();
        return;
    }
    const quint16 vk = VirtualKeyFromQtKey(e->key(), e->modifiers());
    const TShiftState shift = ShiftStateFromQtModifiers(e->modifiers());
    // With the option, Alt held with a key selects columns, and a key
    // without Alt selects text again (line selection is left alone).
    if (FEngine->HasOption(editor::eoAltSetsColumnMode) && FEngine->SelectionMode() != editor::smLine) {
        const editor::TSelectionMode mode = (shift & ssAlt) ? editor::smColumn : editor::smNormal;
        if (FEngine->SelectionMode() != mode)
            FEngine->SetSelectionMode(mode);
    }
    bool used = false;
    if (vk != 0) {
        used = FEngine->KeyDown(vk, shift);
    } else {
        // A key without a code of its own (é, ß, a dead key, a Cyrillic
        // letter) is still a key press: the character of a command key
        // before it is no longer due, and a pending chord is over.
        FEngine->Keys().SetIgnoreNextChar(false);
        FEngine->Keys().ClearPendingStroke();
    }
    const bool plainTab = (shift & (ssCtrl | ssAlt)) == 0 && vk == VK_TAB;
    const bool plainReturn = (shift & (ssCtrl | ssAlt)) == 0 && vk == VK_RETURN;
    if (!used && ((plainTab && !WantTabs()) || (plainReturn && !FEngine->WantReturns()))) {
        e->ignore();
        return;
    }
    // Alt with a letter is a menu accelerator, not typing (AltGr arrives
    // without the Alt modifier).
    // With Ctrl the text is a control character or the bare letter, which
    // is never typed.
    const bool typing = !(e->modifiers() & (Qt::AltModifier | Qt::ControlModifier));
    QString text = e->text();
    if (!text.isEmpty() && typing) {
        TypeText(text);
        used = true;
    }
    if (used)
        e->accept();
    else
        e->ignore();
    RestartCaret();
}

void TCustomCodeEditorControl::TypeText(const QString& text)
{
    if (text.size() == 1) {
        FEngine->KeyPress(text[0]);
        return;
    }
    // A character outside the basic plane, or several at once: one step,
    // unless it belongs to a key already run as a command.
    editor::TKeyTranslator& keys = FEngine->Keys();
    if (keys.IgnoreNextChar()) {
        keys.SetIgnoreNextChar(false);
        return;
    }
    QString typable;
    for (QChar c : text)
        if (c.unicode() >= 32 && c.unicode() != 127)
            typable += c;
    if (!typable.isEmpty())
        Run(ecImeStr, typable);
}

void TCustomCodeEditorControl::keyReleaseEvent(QKeyEvent* e)
{
    quint16 vk = VirtualKeyFromQtKey(e->key(), e->modifiers());
    if (vk != 0)
        FEngine->Keys().KeyUp(vk, ShiftStateFromQtModifiers(e->modifiers()));
    QAbstractScrollArea::keyReleaseEvent(e);
}

void TCustomCodeEditorControl::inputMethodEvent(QInputMethodEvent* e)
{
    FinishScan();
    if (!e->commitString().isEmpty())
        Run(ecImeStr, e->commitString());
    FPreedit = e->preeditString();
    FPreeditCursor = FPreedit.size();
    for (const QInputMethodEvent::Attribute& a : e->attributes())
        if (a.type == QInputMethodEvent::Cursor)
            FPreeditCursor = a.start;
    e->accept();
    viewport()->update();
}

QVariant TCustomCodeEditorControl::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return !FEngine->ReadOnly();
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle: {
        QRect r = CaretRect();
        r.translate(viewport()->pos());
        return r;
    }
    case Qt::ImFont:
        return FGrid.Font();
    case Qt::ImCursorPosition:
        return FEngine->CaretX() - 1;
    case Qt::ImAnchorPosition:
        return FEngine->SelAvail() && FEngine->BlockBegin().Line == FEngine->CaretY() ? FEngine->SelectionAnchor().Char - 1
                                                                                      : FEngine->CaretX() - 1;
    case Qt::ImSurroundingText: {
        const QString& line = FEngine->Lines().GetRef(FEngine->CaretY() - 1);
        return line.size() > 4096 ? QString() : line;
    }
    case Qt::ImCurrentSelection:
        return FEngine->SelAvail() && FEngine->BlockBegin().Line == FEngine->BlockEnd().Line ? FEngine->SelText()
                                                                                             : QString();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine | Qt::ImhNoAutoUppercase);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}
