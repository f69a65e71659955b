// Caret movement and its selecting forms: one handler per movement, the
// selecting commands (movement + 100) reuse them.
#include "EditorCommands.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace editor {

namespace {

bool Selecting(const TCommandContext& c) { return c.Command >= ecSelLeft && c.Command <= ecSelGotoXY; }

const QString& CaretLine(const TCustomCodeEditor& e) { return e.LineAt(e.CaretY()); }

void Go(TCommandContext& c, TBufferCoord to, bool keepColumn = false) { Ed::MoveCaret(c.E, to, Selecting(c), keepColumn); }

// 1-based index of the last character at or before from1 that passes, or 0.
template <typename Pred>
int ScanBack(const QString& s, int from1, Pred pred)
{
    for (int i = std::min(from1, int(s.size())); i >= 1; --i)
        if (pred(s[CharIndex(i)]))
            return i;
    return 0;
}

// 1-based index of the first character at or after from1 that passes, or 0.
template <typename Pred>
int ScanForward(const QString& s, int from1, Pred pred)
{
    for (int i = std::max(1, from1); i <= s.size(); ++i)
        if (pred(s[CharIndex(i)]))
            return i;
    return 0;
}

// The visible line delta rows away from the caret's (folded lines skipped),
// or 0 when there is none.
int VisibleLine(const TCustomCodeEditor& e, int delta)
{
    const int row = e.DisplayXY().Row + delta;
    if (row < 1 || row > e.DisplayRowCount())
        return 0;
    return e.DisplayToBufferPos({1, row}).Line;
}

void Left(TCommandContext& c)
{
    const TBufferCoord p = c.E.CaretXY();
    if (p.Char > 1)
        Go(c, {CharOfIndex(text::PrevCharBoundary(CaretLine(c.E), CharIndexOf(p))), p.Line});
    else if (const int line = VisibleLine(c.E, -1))
        Go(c, c.E.LineEndOf(line));
}

void Right(TCommandContext& c)
{
    const TBufferCoord p = c.E.CaretXY();
    const QString& s = CaretLine(c.E);
    if (CharIndexOf(p) < s.size() || Ed::CaretPastEolAllowed(c.E))
        Go(c, {CharOfIndex(text::NextCharBoundary(s, CharIndexOf(p))), p.Line});
    else if (const int line = VisibleLine(c.E, 1))
        Go(c, {1, line});
}

// Moves by display rows, keeping the remembered display column.
void MoveRows(TCommandContext& c, int delta)
{
    TCustomCodeEditor& e = c.E;
    const TDisplayCoord now = e.DisplayXY();
    const int row = std::clamp(now.Row + delta, 1, std::max(1, e.DisplayRowCount()));
    const int column = e.HasOption(eoKeepCaretX) ? Ed::LastCaretColumn(e) : now.Column;
    if (!e.HasOption(eoKeepCaretX))
        Ed::LastCaretColumn(e) = now.Column;
    Go(c, e.DisplayToBufferPos({column, row}), true);
}

void Up(TCommandContext& c) { MoveRows(c, -1); }
void Down(TCommandContext& c) { MoveRows(c, 1); }

void WordRight(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = CaretLine(e);
    auto ident = [&](QChar ch) { return IsIdentChar(e, ch); };
    auto wordBreak = [&](QChar ch) { return IsWordBreakChar(e, ch); };
    int cx = p.Char;
    if (cx < s.size()) {
        if (ident(s[CharIndex(cx)]))
            cx = ScanForward(s, cx, wordBreak);
        if (cx > 0)
            cx = ScanForward(s, cx, ident);
        if (cx == 0)
            cx = CharOfIndex(int(s.size()));
        Go(c, {cx, p.Line});
        return;
    }
    if (p.Line >= e.Lines().Count())
        return;
    const int first = ScanForward(e.LineAt(p.Line + 1), 1, ident);
    Go(c, {std::max(1, first), p.Line + 1});
}

void WordLeft(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = CaretLine(e);
    auto ident = [&](QChar ch) { return IsIdentChar(e, ch); };
    auto wordBreak = [&](QChar ch) { return IsWordBreakChar(e, ch); };
    int cx = std::min(p.Char, CharOfIndex(int(s.size())));
    if (cx > 1) {
        if (wordBreak(s[cx - 2]))
            cx = ScanBack(s, cx - 1, ident);
        if (cx > 0) {
            Go(c, {ScanBack(s, cx - 1, wordBreak) + 1, p.Line});
            return;
        }
    }
    if (p.Line > 1)
        Go(c, e.LineEndOf(p.Line - 1));
    else
        Go(c, {1, 1});
}

// The caret's row on a line that word wrap cuts into rows.
struct TWrappedRow {
    int Start;   // UTF-16 index of the row's first character
    int LastPos; // of its last caret position (not on the last row)
    bool First;
    bool Last;
};

std::optional<TWrappedRow> CaretRow(const TCustomCodeEditor& e)
{
    const TWrapRows* wrap = e.WrapRows();
    if (!wrap)
        return std::nullopt;
    const int row = e.DisplayXY().Row - 1;
    const TWrapRows::TRowOfLine at = wrap->LineOfRow(row);
    const int rows = wrap->RowsOfLine(at.Line);
    if (at.Line != LineIndex(e.CaretY()) || rows == 1)
        return std::nullopt;
    const bool last = at.RowInLine + 1 == rows;
    // Past the text of a row that wraps, a column gives its last position.
    const int lastPos = last ? 0 : wrap->ToBuffer(row, std::numeric_limits<int>::max()).Char;
    return TWrappedRow{wrap->RowStart(at.Line, at.RowInLine), lastPos, at.RowInLine == 0, last};
}

// Home goes to the start of a wrapped row, then on to the line's start.
void LineStart(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    if (const auto row = CaretRow(e); row && !row->First && p.Char != CharOfIndex(row->Start)) {
        Go(c, {CharOfIndex(row->Start), p.Line});
        return;
    }
    int target = 1;
    if (e.HasOption(eoEnhanceHomeKey)) {
        const QString& s = CaretLine(e);
        int first = 0;
        while (first < s.size() && IsWhiteChar(e, s[first]))
            ++first;
        if (CharOfIndex(first) < p.Char)
            target = CharOfIndex(first);
    }
    Go(c, {target, p.Line});
}

// End goes to the end of a wrapped row (before its last character: the
// position after it is shown on the next row), a second End to the line's end.
void LineEnd(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = CaretLine(e);
    const int end = CharOfIndex(int(s.size()));
    if (const auto row = CaretRow(e); row && !row->Last) {
        const int rowEnd = CharOfIndex(row->LastPos);
        Go(c, {p.Char == rowEnd ? end : rowEnd, p.Line});
        return;
    }
    int target = end;
    if (e.HasOption(eoEnhanceEndKey)) {
        int last = int(s.size());
        while (last > 0 && IsWhiteChar(e, s[last - 1]))
            --last;
        target = (p.Char == CharOfIndex(last)) ? end : CharOfIndex(last);
    }
    Go(c, {target, p.Line});
}

int PageRows(const TCustomCodeEditor& e)
{
    int rows = std::max(1, e.View().LinesInWindow());
    if (e.HasOption(eoHalfPageScroll))
        rows = std::max(1, rows / 2);
    if (e.HasOption(eoScrollByOneLess))
        rows = std::max(1, rows - 1);
    return rows;
}

void PageUp(TCommandContext& c)
{
    const int rows = PageRows(c.E);
    c.E.SetTopLine(c.E.TopLine() - rows);
    MoveRows(c, -rows);
}

void PageDown(TCommandContext& c)
{
    const int rows = PageRows(c.E);
    c.E.SetTopLine(c.E.TopLine() + rows);
    MoveRows(c, rows);
}

void PageColumns(TCommandContext& c, int direction)
{
    TCustomCodeEditor& e = c.E;
    const int columns = std::max(1, e.View().CharsInWindow());
    e.SetLeftChar(e.LeftChar() + direction * columns);
    const TDisplayCoord now = e.DisplayXY();
    Go(c, e.DisplayToBufferPos({std::max(1, now.Column + direction * columns), now.Row}));
}

void PageLeft(TCommandContext& c) { PageColumns(c, -1); }
void PageRight(TCommandContext& c) { PageColumns(c, 1); }

void PageTop(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    Go(c, e.DisplayToBufferPos({e.DisplayXY().Column, e.TopLine()}), true);
}

void PageBottom(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const int row = std::min(std::max(1, e.DisplayRowCount()), e.TopLine() + e.View().LinesInWindow() - 1);
    Go(c, e.DisplayToBufferPos({e.DisplayXY().Column, std::max(1, row)}), true);
}

void EditorTop(TCommandContext& c) { Go(c, {1, 1}); }

void EditorBottom(TCommandContext& c)
{
    const int count = std::max(1, c.E.Lines().Count());
    Go(c, c.E.LineEndOf(count));
}

void GotoXY(TCommandContext& c)
{
    if (const auto* p = std::get_if<TBufferCoord>(&c.Data))
        Go(c, *p);
}

void SelWord(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = CaretLine(e);
    int start = std::min(int(s.size()), CharIndexOf(p)), end = start;
    while (start > 0 && IsIdentChar(e, s[start - 1]))
        --start;
    while (end < s.size() && IsIdentChar(e, s[end]))
        ++end;
    e.SetSelection({CharOfIndex(start), p.Line}, {CharOfIndex(end), p.Line});
}

void SelectAll(TCommandContext& c)
{
    const int count = std::max(1, c.E.Lines().Count());
    c.E.SetSelection({1, 1}, c.E.LineEndOf(count));
}

constexpr unsigned kMove = cfCaretMove;

const TCommandEntry kCaretCommands[] = {
    {ecLeft, Left, kMove},
    {ecRight, Right, kMove},
    {ecUp, Up, kMove},
    {ecDown, Down, kMove},
    {ecWordLeft, WordLeft, kMove},
    {ecWordRight, WordRight, kMove},
    {ecLineStart, LineStart, kMove},
    {ecLineEnd, LineEnd, kMove},
    {ecPageUp, PageUp, kMove},
    {ecPageDown, PageDown, kMove},
    {ecPageLeft, PageLeft, kMove},
    {ecPageRight, PageRight, kMove},
    {ecPageTop, PageTop, kMove},
    {ecPageBottom, PageBottom, kMove},
    {ecEditorTop, EditorTop, kMove},
    {ecEditorBottom, EditorBottom, kMove},
    {ecGotoXY, GotoXY, kMove},
    {ecSelLeft, Left, kMove},
    {ecSelRight, Right, kMove},
    {ecSelUp, Up, kMove},
    {ecSelDown, Down, kMove},
    {ecSelWordLeft, WordLeft, kMove},
    {ecSelWordRight, WordRight, kMove},
    {ecSelLineStart, LineStart, kMove},
    {ecSelLineEnd, LineEnd, kMove},
    {ecSelPageUp, PageUp, kMove},
    {ecSelPageDown, PageDown, kMove},
    {ecSelPageLeft, PageLeft, kMove},
    {ecSelPageRight, PageRight, kMove},
    {ecSelPageTop, PageTop, kMove},
    {ecSelPageBottom, PageBottom, kMove},
    {ecSelEditorTop, EditorTop, kMove},
    {ecSelEditorBottom, EditorBottom, kMove},
    {ecSelGotoXY, GotoXY, kMove},
    {ecSelWord, SelWord, kMove},
    {ecSelectAll, SelectAll, kMove},
};

} // namespace

std::span<const TCommandEntry> CaretCommands() { return kCaretCommands; }

} // namespace editor
