#include "widgets/CodeEditorAccessible.h"

#include "editor/EditTransaction.h"
#include "editor/CodeEditor.h"
#include "widgets/CodeEditorControl.h"
#include "widgets/TextGrid.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <utility>

using editor::TBufferCoord;

namespace widgets {

namespace {

const QString SGutterName = QStringLiteral("行番号");

// --- offsets in the LF-joined text ---------------------------------------------

// Start of a line (0-based index) in the whole text.
qsizetype LineStart(const editor::TLineBuffer& lines, int index)
{
    // The buffer's table of line starts is only current between updates;
    // filling it in the middle of one would leave it stale for every reader.
    if (lines.UpdateCount() == 0)
        return lines.LineCharIndex(index) + index;
    qsizetype sum = 0;
    for (int i = 0; i < index; ++i)
        sum += lines.LineCharLength(i) + 1;
    return sum;
}

int TextLength(const editor::TLineBuffer& lines)
{
    const int count = lines.Count();
    return count == 0 ? 0 : int(LineStart(lines, count - 1) + lines.LineCharLength(count - 1));
}

int OffsetOf(const editor::TCustomCodeEditor& e, TBufferCoord pos)
{
    const editor::TLineBuffer& lines = e.Lines();
    if (lines.Count() == 0)
        return 0;
    const int index = std::clamp(editor::LineIndexOf(pos), 0, lines.Count() - 1);
    // A caret in the free space past the line's end reads as its end.
    const int ch = std::clamp(editor::CharIndexOf(pos), 0, lines.LineCharLength(index));
    return int(LineStart(lines, index)) + ch;
}

TBufferCoord PositionOf(const editor::TCustomCodeEditor& e, int offset)
{
    const editor::TLineBuffer& lines = e.Lines();
    const int count = lines.Count();
    if (count == 0 || offset <= 0)
        return {1, 1};
    // The last line that starts at or before the offset.
    int lo = 0, hi = count - 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (LineStart(lines, mid) <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    const int ch = int(std::min<qsizetype>(offset - LineStart(lines, lo), lines.LineCharLength(lo)));
    return editor::CoordOfIndexes(ch, lo);
}

// --- the gutter ------------------------------------------------------------------

// The painted gutter as a child of the editor, so that it has a name and a
// place on screen.
class TGutterAccessible final : public QAccessibleInterface {
public:
    TGutterAccessible(QAccessibleInterface* parent, ::TCustomCodeEditorControl* control) : FParent(parent), FControl(control) {}

    bool isValid() const override { return FParent->isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return FParent->window(); }
    QAccessibleInterface* parent() const override { return FParent; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override { return t == QAccessible::Name ? SGutterName : QString(); }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::Pane; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !FControl->isVisible();
        return s;
    }
    QRect rect() const override
    {
        const QWidget* v = FControl->viewport();
        return QRect(v->mapToGlobal(QPoint(0, 0)), QSize(FControl->TextLeft(), v->height()));
    }

private:
    QAccessibleInterface* FParent;
    ::TCustomCodeEditorControl* FControl;
};

// --- text changes ----------------------------------------------------------------

// Follows the buffer through each batch of changes and reports the batch as
// one precise insertion, removal or replacement. While a batch runs it keeps
// a window of current lines [FFirst, FEnd) and the old lines it replaced; the
// lines outside the window are unchanged.
class TTextChangeFollower final : public QObject, private editor::TEditorPlugin {
public:
    explicit TTextChangeFollower(::TCustomCodeEditorControl* control)
        : QObject(control), FControl(control), FEngine(control->Engine())
    {
        FSubscription = FEngine.Subscribe(this);
    }

private:
    void BatchBegin() override
    {
        // Nothing is kept while no assistive technology listens.
        FFollowing = QAccessible::isActive();
        FHasWindow = false;
        FOld.clear();
    }

    void LinePut(int index, const QString& oldLine) override
    {
        if (!FFollowing)
            return;
        const bool inside = FHasWindow && index >= FFirst && index < FEnd;
        Cover(index, index + 1);
        if (!inside)
            FOld[index - FFirst] = oldLine;
    }

    void LinesInserted(int index, int count) override
    {
        if (!FFollowing)
            return;
        const editor::TLineBuffer& lines = FEngine.Lines();
        if (!FHasWindow) {
            FHasWindow = true;
            FFirst = index;
            FEnd = index + count;
        } else if (index < FFirst) {
            // The unchanged lines between the new ones and the window join it.
            QStringList head;
            for (int i = index + count; i < FFirst + count; ++i)
                head << lines.GetRef(i);
            FOld = head + FOld;
            FFirst = index;
            FEnd += count;
        } else if (index <= FEnd) {
            FEnd += count;
        } else {
            for (int i = FEnd; i < index; ++i)
                FOld << lines.GetRef(i);
            FEnd = index + count;
        }
    }

    void LinesBeforeDeleted(int index, int count) override
    {
        if (!FFollowing)
            return;
        Cover(index, index + count);
        FEnd -= count;
    }

    void BatchEnd() override
    {
        if (FFollowing && FHasWindow)
            Report();
        FFollowing = false;
        FHasWindow = false;
        FOld.clear();
    }

    // Widens the window to current lines [first, end); lines taken in are
    // unchanged so far, so their old text is their current one.
    void Cover(int first, int end)
    {
        const editor::TLineBuffer& lines = FEngine.Lines();
        if (!FHasWindow) {
            FHasWindow = true;
            FFirst = FEnd = first;
        }
        if (first < FFirst) {
            QStringList head;
            for (int i = first; i < FFirst; ++i)
                head << lines.GetRef(i);
            FOld = head + FOld;
            FFirst = first;
        }
        for (; FEnd < end; ++FEnd)
            FOld << lines.GetRef(FEnd);
    }

    void Report()
    {
        const editor::TLineBuffer& lines = FEngine.Lines();
        const int count = lines.Count();
        int first = FFirst, end = FEnd;
        QStringList oldLines = FOld;
        // An unchanged neighbour line keeps both sides non-empty, so the
        // line breaks around them are the same before and after.
        if (first > 0) {
            --first;
            oldLines.prepend(lines.GetRef(first));
        } else if (end < count) {
            oldLines.append(lines.GetRef(end));
            ++end;
        }
        QStringList newLines;
        for (int i = first; i < end; ++i)
            newLines << lines.GetRef(i);
        const QString before = oldLines.join(u'\n');
        const QString after = newLines.join(u'\n');
        const qsizetype shorter = std::min(before.size(), after.size());
        qsizetype head = 0;
        while (head < shorter && before[head] == after[head])
            ++head;
        qsizetype tail = 0;
        while (tail < shorter - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
            ++tail;
        // Never half of a surrogate pair.
        if (head > 0 && before[head - 1].isHighSurrogate())
            --head;
        if (tail > 0 && after[after.size() - tail].isLowSurrogate())
            --tail;
        const QString removed = before.mid(head, before.size() - head - tail);
        const QString inserted = after.mid(head, after.size() - head - tail);
        const int at = int((first == 0 ? 0 : LineStart(lines, first)) + head);
        if (!removed.isEmpty() && !inserted.isEmpty()) {
            QAccessibleTextUpdateEvent event(FControl, at, removed, inserted);
            QAccessible::updateAccessibility(&event);
        } else if (!removed.isEmpty()) {
            QAccessibleTextRemoveEvent event(FControl, at, removed);
            QAccessible::updateAccessibility(&event);
        } else if (!inserted.isEmpty()) {
            QAccessibleTextInsertEvent event(FControl, at, inserted);
            QAccessible::updateAccessibility(&event);
        }
    }

    ::TCustomCodeEditorControl* FControl;
    editor::TCustomCodeEditor& FEngine;
    editor::TPluginSubscription FSubscription;
    bool FFollowing = false;
    bool FHasWindow = false;
    int FFirst = 0;
    int FEnd = 0;
    QStringList FOld;
};

QAccessibleInterface* CodeEditorFactory(const QString&, QObject* object)
{
    if (auto* control = qobject_cast<::TCustomCodeEditorControl*>(object))
        return new TCodeEditorAccessible(control);
    return nullptr;
}

} // namespace

// --- the editor's interface ----------------------------------------------------------

TCodeEditorAccessible::TCodeEditorAccessible(::TCustomCodeEditorControl* control)
    : QAccessibleWidget(control, QAccessible::EditableText)
{
}

TCodeEditorAccessible::~TCodeEditorAccessible()
{
    if (FGutterId)
        QAccessible::deleteAccessibleInterface(FGutterId);
}

::TCustomCodeEditorControl* TCodeEditorAccessible::Control() const { return static_cast<::TCustomCodeEditorControl*>(widget()); }

QAccessible::State TCodeEditorAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    const bool readOnly = std::as_const(*Control()).Engine().ReadOnly();
    s.editable = !readOnly;
    s.readOnly = readOnly;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = true;
    return s;
}

void* TCodeEditorAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

// The gutter comes after the child widgets (viewport and scroll bars).
int TCodeEditorAccessible::childCount() const { return QAccessibleWidget::childCount() + 1; }

QAccessibleInterface* TCodeEditorAccessible::child(int index) const
{
    if (index != QAccessibleWidget::childCount())
        return QAccessibleWidget::child(index);
    auto* self = const_cast<TCodeEditorAccessible*>(this);
    if (!FGutterId)
        self->FGutterId = QAccessible::registerAccessibleInterface(new TGutterAccessible(self, Control()));
    return QAccessible::accessibleInterface(FGutterId);
}

int TCodeEditorAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (FGutterId && child == QAccessible::accessibleInterface(FGutterId))
        return QAccessibleWidget::childCount();
    return QAccessibleWidget::indexOfChild(child);
}

QAccessibleInterface* TCodeEditorAccessible::childAt(int x, int y) const
{
    QAccessibleInterface* gutter = child(QAccessibleWidget::childCount());
    if (gutter->rect().contains(x, y))
        return gutter;
    return QAccessibleWidget::childAt(x, y);
}

// --- caret and selection

void TCodeEditorAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    const editor::TCustomCodeEditor& e = std::as_const(*Control()).Engine();
    if (selectionIndex != 0 || !e.SelAvail())
        return;
    *startOffset = OffsetOf(e, e.BlockBegin());
    *endOffset = OffsetOf(e, e.BlockEnd());
}

int TCodeEditorAccessible::selectionCount() const { return std::as_const(*Control()).Engine().SelAvail() ? 1 : 0; }

void TCodeEditorAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void TCodeEditorAccessible::removeSelection(int selectionIndex)
{
    editor::TCustomCodeEditor& e = Control()->Engine();
    if (selectionIndex == 0 && e.SelAvail())
        e.SetCaretXY(e.CaretXY());
}

void TCodeEditorAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    editor::TCustomCodeEditor& e = Control()->Engine();
    e.SetSelection(PositionOf(e, startOffset), PositionOf(e, endOffset));
    e.EnsureCursorPosVisible();
}

int TCodeEditorAccessible::cursorPosition() const
{
    const editor::TCustomCodeEditor& e = std::as_const(*Control()).Engine();
    return OffsetOf(e, e.CaretXY());
}

void TCodeEditorAccessible::setCursorPosition(int position)
{
    editor::TCustomCodeEditor& e = Control()->Engine();
    e.SetCaretXY(PositionOf(e, position));
    e.EnsureCursorPosVisible();
}

// --- text

int TCodeEditorAccessible::characterCount() const { return TextLength(std::as_const(*Control()).Engine().Lines()); }

QString TCodeEditorAccessible::text(int startOffset, int endOffset) const
{
    const editor::TCustomCodeEditor& e = std::as_const(*Control()).Engine();
    const int length = TextLength(e.Lines());
    startOffset = std::clamp(startOffset, 0, length);
    endOffset = endOffset < 0 ? length : std::clamp(endOffset, startOffset, length);
    if (startOffset >= endOffset)
        return {};
    const TBufferCoord from = PositionOf(e, startOffset);
    const TBufferCoord to = PositionOf(e, endOffset);
    QString out;
    out.reserve(endOffset - startOffset);
    for (int line = from.Line; line <= to.Line; ++line) {
        const QString& s = e.LineAt(line);
        const qsizetype a = line == from.Line ? from.Char - 1 : 0;
        const qsizetype b = line == to.Line ? to.Char - 1 : s.size();
        if (line > from.Line)
            out += u'\n';
        out += QStringView(s).mid(a, b - a);
    }
    return out;
}

void TCodeEditorAccessible::PieceAt(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const
{
    const editor::TCustomCodeEditor& e = std::as_const(*Control()).Engine();
    const editor::TLineBuffer& lines = e.Lines();
    const int length = TextLength(lines);
    if (type == QAccessible::NoBoundary) {
        *start = 0;
        *end = length;
        return;
    }
    const TBufferCoord pos = PositionOf(e, offset);
    const int index = editor::LineIndexOf(pos);
    const int lineStart = lines.Count() == 0 ? 0 : int(LineStart(lines, index));
    const QString& s = e.LineAt(pos.Line);
    const bool lastLine = index >= lines.Count() - 1;
    if (type == QAccessible::LineBoundary || type == QAccessible::SentenceBoundary
        || type == QAccessible::ParagraphBoundary) {
        *start = lineStart;
        *end = lineStart + int(s.size()) + (lastLine ? 0 : 1);
        return;
    }
    const int ch = editor::CharIndexOf(pos);
    if (ch >= s.size()) {
        // The line's LF is a piece of its own; the end of the text is none.
        *start = offset;
        *end = lastLine ? offset : offset + 1;
        return;
    }
    QTextBoundaryFinder finder(
        type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Grapheme, s);
    finder.setPosition(ch);
    const qsizetype a = finder.isAtBoundary() ? ch : std::max<qsizetype>(0, finder.toPreviousBoundary());
    finder.setPosition(ch);
    const qsizetype b = finder.toNextBoundary();
    *start = lineStart + int(a);
    *end = lineStart + int(b < 0 ? s.size() : b);
}

QString TCodeEditorAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
    int* endOffset) const
{
    const int length = characterCount();
    if (offset == -1)
        offset = length;
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > length)
        return {};
    PieceAt(offset, boundaryType, startOffset, endOffset);
    return text(*startOffset, *endOffset);
}

// The piece at an offset (-1: the end) for the neighbour queries; false, with
// the answer's offsets -1, when the offset lies outside the text.
bool TCodeEditorAccessible::PieceAround(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
    int* endOffset, int* start, int* end) const
{
    const int length = characterCount();
    if (offset == -1)
        offset = length;
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > length)
        return false;
    PieceAt(offset, boundaryType, start, end);
    return true;
}

QString TCodeEditorAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
    int* startOffset, int* endOffset) const
{
    int start, end;
    if (!PieceAround(offset, boundaryType, startOffset, endOffset, &start, &end) || start <= 0)
        return {};
    PieceAt(start - 1, boundaryType, startOffset, endOffset);
    return text(*startOffset, *endOffset);
}

QString TCodeEditorAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
    int* startOffset, int* endOffset) const
{
    int start, end;
    if (!PieceAround(offset, boundaryType, startOffset, endOffset, &start, &end) || end >= characterCount())
        return {};
    PieceAt(end, boundaryType, startOffset, endOffset);
    return text(*startOffset, *endOffset);
}

QString TCodeEditorAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}

// --- geometry

QRect TCodeEditorAccessible::characterRect(int offset) const
{
    ::TCustomCodeEditorControl* control = Control();
    const editor::TCustomCodeEditor& e = std::as_const(*control).Engine();
    if (offset < 0 || offset > TextLength(e.Lines()))
        return {};
    const TBufferCoord pos = PositionOf(e, offset);
    const QString& s = e.LineAt(pos.Line);
    const int ch = editor::CharIndexOf(pos);
    // The next character's cell edge; a line's LF takes one cell.
    const int next = ch < s.size() ? NextCluster(s, ch) : ch + 1;
    const QPoint at = control->PointOf(pos);
    const int width = std::max(1, control->PointOf(editor::CoordOfIndexes(next, editor::LineIndexOf(pos))).x() - at.x());
    return QRect(control->viewport()->mapToGlobal(at), QSize(width, control->Grid().LineHeight()));
}

int TCodeEditorAccessible::offsetAtPoint(const QPoint& point) const
{
    ::TCustomCodeEditorControl* control = Control();
    const QPoint at = control->viewport()->mapFromGlobal(point);
    if (!control->viewport()->rect().contains(at) || at.x() < control->TextLeft())
        return -1;
    return OffsetOf(std::as_const(*control).Engine(), control->PositionAt(at));
}

void TCodeEditorAccessible::scrollToSubstring(int startIndex, int)
{
    ::TCustomCodeEditorControl* control = Control();
    editor::TCustomCodeEditor& e = control->Engine();
    const TBufferCoord pos = PositionOf(e, startIndex);
    e.RevealLine(pos.Line);
    // The start comes to the middle of the window when it was out of view.
    const editor::TDisplayCoord d = e.BufferToDisplayPos(pos);
    const int rows = e.View().LinesInWindow();
    const int columns = e.View().CharsInWindow();
    if (d.Row < e.TopLine() || d.Row >= e.TopLine() + rows)
        e.SetTopLine(std::max(1, d.Row - rows / 2));
    if (d.Column < e.LeftChar() || d.Column >= e.LeftChar() + columns)
        e.SetLeftChar(std::max(1, d.Column - columns / 2));
}

// --- editing

void TCodeEditorAccessible::insertText(int offset, const QString& text) { replaceText(offset, offset, text); }

void TCodeEditorAccessible::deleteText(int startOffset, int endOffset) { replaceText(startOffset, endOffset, {}); }

void TCodeEditorAccessible::replaceText(int startOffset, int endOffset, const QString& text)
{
    editor::TCustomCodeEditor& e = Control()->Engine();
    if (e.ReadOnly())
        return;
    const int length = TextLength(e.Lines());
    startOffset = std::clamp(startOffset, 0, length);
    endOffset = std::clamp(endOffset, 0, length);
    if (startOffset > endOffset)
        std::swap(startOffset, endOffset);
    if (startOffset == endOffset && text.isEmpty())
        return;
    const TBufferCoord from = PositionOf(e, startOffset);
    const TBufferCoord to = PositionOf(e, endOffset);
    const editor::TEditTransaction edit(e);
    e.ReplaceTextRange(from, to, text);
}

// --- hooks for the control --------------------------------------------------------------

void AttachCodeEditorAccessible(::TCustomCodeEditorControl* control)
{
    static const bool installed = (QAccessible::installFactory(&CodeEditorFactory), true);
    Q_UNUSED(installed);
    // While assistive technology listens, the base classes' constructors may
    // have had an interface made for the control before it was one: that one
    // knows no text, so it goes and the factory makes the right one.
    if (QAccessible::isActive()) {
        QAccessibleInterface* early = QAccessible::queryAccessibleInterface(control);
        if (early && !dynamic_cast<TCodeEditorAccessible*>(early))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(early));
    }
    new TTextChangeFollower(control);
}

void SendCodeEditorStatus(::TCustomCodeEditorControl* control, editor::TStatusChanges changes)
{
    const editor::TCustomCodeEditor& e = std::as_const(*control).Engine();
    const int caret = OffsetOf(e, e.CaretXY());
    if (changes & editor::scSelection) {
        const bool sel = e.SelAvail();
        QAccessibleTextSelectionEvent event(
            control, sel ? OffsetOf(e, e.BlockBegin()) : caret, sel ? OffsetOf(e, e.BlockEnd()) : caret);
        event.setCursorPosition(caret);
        QAccessible::updateAccessibility(&event);
    }
    if (changes & (editor::scCaretX | editor::scCaretY)) {
        QAccessibleTextCursorEvent event(control, caret);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace widgets
