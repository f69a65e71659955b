// Commands that work on whole lines or on the selected text as a block:
// Tab and Shift+Tab, block indent and unindent, case changes, copying and
// moving lines.
#include "EditorCommands.h"

#include <algorithm>

namespace editor {

namespace {


// Where a block command inserts or removes on a line: column 1, or the
// selection's left column in column mode.
int BlockColumnIndex(const TCustomCodeEditor& e, int line1, int leftColumn)
{
    if (e.SelectionMode() != smColumn || leftColumn <= 0)
        return 0;
    const QString& s = e.LineAt(line1);
    return std::min(int(s.size()), text::IndexOfDisplayColumn(s, leftColumn, e.TabWidth()));
}

int LeftColumn(const TCustomCodeEditor& e)
{
    const int a = e.BufferToDisplayPos(e.SelectionAnchor()).Column - 1;
    const int b = e.BufferToDisplayPos(e.SelectionEnd()).Column - 1;
    return std::min(a, b);
}

// Moves a position on a changed line by delta characters, keeping column 1.
TBufferCoord Shift(TBufferCoord p, const std::vector<int>& deltas, int first)
{
    const int i = p.Line - first;
    if (i < 0 || i >= int(deltas.size()) || p.Char == 1 || deltas[std::size_t(i)] == 0)
        return p;
    return {std::max(1, p.Char + deltas[std::size_t(i)]), p.Line};
}

void ApplyShift(TCustomCodeEditor& e, const std::vector<int>& deltas, int first)
{
    Ed::Place(e, Shift(e.CaretXY(), deltas, first), Shift(e.SelectionAnchor(), deltas, first),
        Shift(e.SelectionEnd(), deltas, first));
}

// Edits each line of the span in one undo step: edit(line, text, at) puts the
// line's new text and returns the characters it gained (negative: lost) at
// index at, the block column; caret and selection keep their place in the text.
template <class EditLine>
void ShiftLines(TCustomCodeEditor& e, TLineSpan span, EditLine edit)
{
    if (span.empty())
        return;
    const int left = LeftColumn(e);
    std::vector<int> deltas(std::size_t(span.Last - span.First + 1), 0);
    TEditTransaction transaction(e);
    for (int line = span.First; line <= span.Last; ++line)
        deltas[std::size_t(line - span.First)] = edit(line, e.LineAt(line), BlockColumnIndex(e, line, left));
    ApplyShift(e, deltas, span.First);
}

void BlockIndentLines(TCustomCodeEditor& e, TLineSpan span)
{
    const QString unit = e.HasOption(eoTabsToSpaces) ? QString(std::max(1, e.TabWidth()), u' ') : QStringLiteral("\t");
    ShiftLines(e, span, [&](int line, const QString& s, int at) {
        if (s.isEmpty())
            return 0;
        e.PutLine(line, QString(s).insert(at, unit));
        return int(unit.size());
    });
}

void BlockUnindentLines(TCustomCodeEditor& e, TLineSpan span)
{
    const int tab = std::max(1, e.TabWidth());
    ShiftLines(e, span, [&](int line, const QString& s, int at) {
        int n = 0;
        if (at < s.size() && s[at] == u'\t') {
            n = 1;
        } else {
            while (n < tab && at + n < s.size() && s[at + n] == u' ')
                ++n;
            if (n < tab && at + n < s.size() && s[at + n] == u'\t')
                ++n;
        }
        if (n == 0)
            return 0;
        e.PutLine(line, QString(s).remove(at, n));
        return -n;
    });
}

void BlockIndent(TCommandContext& c) { BlockIndentLines(c.E, SelectedLines(c.E)); }
void BlockUnindent(TCommandContext& c) { BlockUnindentLines(c.E, SelectedLines(c.E)); }

// Smart tabs line the caret up with the next word start of the nearest
// line above that reaches past the caret's column; 0 when there is none.
int SmartTabColumn(const TCustomCodeEditor& e)
{
    const int column = e.DisplayXY().Column;
    for (int line = e.CaretY() - 1; line >= 1; --line) {
        const QString& s = e.LineAt(line);
        const int width = text::DisplayColumn(s, int(s.size()), e.TabWidth());
        if (width < column)
            continue;
        int i = text::IndexOfDisplayColumn(s, column - 1, e.TabWidth());
        while (i < s.size() && s[i].unicode() > 32)
            ++i;
        while (i < s.size() && s[i].unicode() <= 32)
            ++i;
        return i < s.size() ? text::DisplayColumn(s, i, e.TabWidth()) + 1 : 0;
    }
    return 0;
}

void Tab(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (e.HasOption(eoTabIndent) && e.SelAvail() && e.BlockBegin().Line != e.BlockEnd().Line) {
        BlockIndentLines(e, SelectedLines(e));
        return;
    }
    TEditTransaction transaction(e);
    Ed::DeleteSelection(e);
    QString insert = QStringLiteral("\t");
    const int column = e.DisplayXY().Column;
    if (const int smart = e.HasOption(eoSmartTabs) ? SmartTabColumn(e) : 0; smart > column) {
        insert = QString(smart - column, u' ');
    } else if (e.HasOption(eoTabsToSpaces)) {
        const int tab = std::max(1, e.TabWidth());
        insert = QString(tab - (column - 1) % tab, u' ');
    }
    Ed::MoveCaret(e, e.InsertTextAt(e.CaretXY(), insert), false);
}

void ShiftTab(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (!e.SelAvail() && e.CaretX() == 1)
        return; // like a selection that ends in column 1: no line
    BlockUnindentLines(e, SelectedLines(e));
}

// --- letter case

enum class TCase { Upper, Lower, Toggle, Title };

// Simple (one to one) case mapping per code point, so positions stay valid.
QString ChangeCase(const TCustomCodeEditor& e, QStringView s, TCase mode, bool& wordStart)
{
    QString out = s.toString();
    for (int i = 0; i < out.size();) {
        char32_t cp = out[i].unicode();
        int length = 1;
        if (QChar::isHighSurrogate(out[i].unicode()) && i + 1 < out.size() && QChar::isLowSurrogate(out[i + 1].unicode())) {
            cp = QChar::surrogateToUcs4(out[i], out[i + 1]);
            length = 2;
        }
        char32_t mapped = cp;
        switch (mode) {
        case TCase::Upper:
            mapped = QChar::toUpper(cp);
            break;
        case TCase::Lower:
            mapped = QChar::toLower(cp);
            break;
        case TCase::Toggle:
            mapped = QChar::isUpper(cp) ? QChar::toLower(cp) : QChar::toUpper(cp);
            break;
        case TCase::Title:
            mapped = wordStart ? QChar::toUpper(cp) : QChar::toLower(cp);
            break;
        }
        wordStart = !IsIdentChar(e, QChar(length == 1 ? char16_t(cp) : u'a'));
        if (QChar::requiresSurrogates(mapped) == (length == 2)) {
            if (length == 2) {
                out[i] = QChar(QChar::highSurrogate(mapped));
                out[i + 1] = QChar(QChar::lowSurrogate(mapped));
            } else {
                out[i] = QChar(char16_t(mapped));
            }
        }
        i += length;
    }
    return out;
}

void CaseCommand(TCommandContext& c, TCase mode)
{
    TCustomCodeEditor& e = c.E;
    if (!e.SelAvail())
        return;
    const TBufferCoord from = e.BlockBegin(), to = e.BlockEnd();
    const int left = LeftColumn(e);
    const int right = std::max(e.BufferToDisplayPos(e.SelectionAnchor()).Column, e.BufferToDisplayPos(e.SelectionEnd()).Column) - 1;
    const TCaretAndSelection keep{e.CaretXY(), e.SelectionAnchor(), e.SelectionEnd()};
    TEditTransaction transaction(e);
    bool wordStart = true;
    for (int line = from.Line; line <= to.Line; ++line) {
        const QString& s = e.LineAt(line);
        int a = 0, b = int(s.size());
        switch (e.SelectionMode()) {
        case smNormal:
            if (line == from.Line)
                a = std::min(b, CharIndexOf(from));
            if (line == to.Line)
                b = std::min(b, CharIndexOf(to));
            break;
        case smColumn:
            a = std::min(b, text::IndexOfDisplayColumn(s, left, e.TabWidth()));
            b = std::min(b, text::IndexOfDisplayColumn(s, right, e.TabWidth()));
            break;
        case smLine:
            break;
        }
        if (b <= a)
            continue;
        const QString changed = ChangeCase(e, QStringView(s).mid(a, b - a), mode, wordStart);
        if (changed != QStringView(s).mid(a, b - a))
            e.PutLine(line, QString(s).replace(a, b - a, changed));
        wordStart = true;
    }
    Ed::Place(e, keep.Caret, keep.BlockBegin, keep.BlockEnd);
}

void UpperCase(TCommandContext& c) { CaseCommand(c, TCase::Upper); }
void LowerCase(TCommandContext& c) { CaseCommand(c, TCase::Lower); }
void ToggleCase(TCommandContext& c) { CaseCommand(c, TCase::Toggle); }
void TitleCase(TCommandContext& c) { CaseCommand(c, TCase::Title); }

// --- copying and moving lines

TBufferCoord Down(TBufferCoord p, int lines) { return {p.Char, p.Line + lines}; }

void PlaceShifted(TCustomCodeEditor& e, int lines)
{
    Ed::Place(e, Down(e.CaretXY(), lines), Down(e.SelectionAnchor(), lines), Down(e.SelectionEnd(), lines));
    e.EnsureCursorPosVisible();
}

void CopyLines(TCommandContext& c, bool down)
{
    TCustomCodeEditor& e = c.E;
    if (e.Lines().Count() == 0)
        return;
    const TLineSpan span = SelectedLines(e);
    if (span.empty())
        return;
    QStringList copy;
    for (int line = span.First; line <= span.Last; ++line)
        copy << e.LineAt(line);
    TEditTransaction transaction(e);
    // Up: the copy goes above and the caret stays with the upper lines;
    // down: the copy goes below and the caret follows it.
    e.Lines().InsertStrings(LineIndex(down ? span.Last + 1 : span.First), copy);
    const TCaretAndSelection keep{e.CaretXY(), e.SelectionAnchor(), e.SelectionEnd()};
    Ed::Place(e, keep.Caret, keep.BlockBegin, keep.BlockEnd);
    if (down)
        PlaceShifted(e, int(copy.size()));
}

void MoveLines(TCommandContext& c, bool down)
{
    TCustomCodeEditor& e = c.E;
    const TLineSpan span = SelectedLines(e);
    if (span.empty() || (!down && span.First <= 1) || (down && span.Last >= e.Lines().Count()))
        return;
    TEditTransaction transaction(e);
    if (down) {
        const QString below = e.LineAt(span.Last + 1);
        e.Lines().Delete(LineIndex(span.Last + 1));
        e.Lines().Insert(LineIndex(span.First), below);
    } else {
        const QString above = e.LineAt(span.First - 1);
        e.Lines().Delete(LineIndex(span.First - 1));
        e.Lines().Insert(LineIndex(span.Last), above);
    }
    PlaceShifted(e, down ? 1 : -1);
}

void CopyLineUp(TCommandContext& c) { CopyLines(c, false); }
void CopyLineDown(TCommandContext& c) { CopyLines(c, true); }
void MoveLineUp(TCommandContext& c) { MoveLines(c, false); }
void MoveLineDown(TCommandContext& c) { MoveLines(c, true); }

const TCommandEntry kBlockCommands[] = {
    {ecTab, Tab, cfChangesText},
    {ecShiftTab, ShiftTab, cfChangesText},
    {ecBlockIndent, BlockIndent, cfChangesText},
    {ecBlockUnindent, BlockUnindent, cfChangesText},
    {ecUpperCase, UpperCase, cfChangesText},
    {ecLowerCase, LowerCase, cfChangesText},
    {ecToggleCase, ToggleCase, cfChangesText},
    {ecTitleCase, TitleCase, cfChangesText},
    {ecCopyLineUp, CopyLineUp, cfChangesText},
    {ecCopyLineDown, CopyLineDown, cfChangesText},
    {ecMoveLineUp, MoveLineUp, cfChangesText},
    {ecMoveLineDown, MoveLineDown, cfChangesText},
};

} // namespace

std::span<const TCommandEntry> BlockCommands() { return kBlockCommands; }

} // namespace editor
