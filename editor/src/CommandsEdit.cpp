// Typing, line breaks and the deletion commands.
#include "EditorCommands.h"

#include <algorithm>

namespace editor {

namespace {


// Indentation columns of the nearest line at or above line1 that is not empty.
int IndentOfNonEmptyAbove(const TCustomCodeEditor& e, int line1)
{
    for (int l = line1; l >= 1; --l)
        if (!e.LineAt(l).isEmpty())
            return text::IndentColumns(e.LineAt(l), e.TabWidth());
    return 0;
}

QString IndentFor(const TCustomCodeEditor& e, int columns)
{
    return text::IndentString(columns, e.TabWidth(), e.HasOption(eoTabsToSpaces));
}

// Replaces the characters [from, to) of a line (0-based indexes).
void ReplaceInLine(TCustomCodeEditor& e, int line1, int from, int to, const QString& with)
{
    QString s = e.LineAt(line1);
    if (s.size() < from)
        s.append(QString(from - s.size(), u' '));
    s.replace(from, std::max(0, std::min(int(s.size()), to) - from), with);
    e.PutLine(line1, s);
}

void TypeChar(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (!IsTypableChar(c.Char))
        return;
    if (e.SelAvail()) {
        e.SetSelText(QString(c.Char));
        return;
    }
    const TBufferCoord p = e.CaretXY();
    // Taken before the caret moves: moving it brings it into view by the
    // least scroll, which would hide that the caret passed the edge.
    const int left = e.LeftChar();
    if (e.Lines().Count() == 0)
        e.Lines().Add(QString());
    QString s = e.LineAt(p.Line);
    const int at = CharIndexOf(p);
    if (at > s.size()) {
        // The gap up to a caret past the end: blanks, or on an empty line
        // the indentation the indent rule makes of it.
        const int gapColumns = text::DisplayColumn(s, at, e.TabWidth()) - text::DisplayColumn(s, int(s.size()), e.TabWidth());
        s += s.isEmpty() ? IndentFor(e, gapColumns) : QString(at - s.size(), u' ');
        s += c.Char;
        e.PutLine(p.Line, s);
        Ed::MoveCaret(e, {CharOfIndex(int(s.size())), p.Line}, false);
    } else {
        if (e.InsertMode())
            s.insert(at, c.Char);
        else
            s.replace(at, std::min(int(s.size()), text::NextCharBoundary(s, at)) - at, c.Char);
        e.PutLine(p.Line, s);
        Ed::MoveCaret(e, {CharOfIndex(at + 1), p.Line}, false);
    }
    // Typing past the right edge pages the view right by up to 25 columns.
    const int column = e.DisplayXY().Column;
    const int visible = std::max(1, e.View().CharsInWindow());
    if (column >= left + visible)
        e.SetLeftChar(std::max(left + std::min(25, visible), column - visible + 1));
}

void ImeStr(TCommandContext& c)
{
    const auto* textData = std::get_if<QString>(&c.Data);
    if (!textData || textData->isEmpty())
        return;
    c.E.SetSelText(*textData);
}

void LineBreak(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const bool moveCaret = c.Command == ecLineBreak;
    TEditTransaction transaction(e);
    Ed::DeleteSelection(e);
    if (e.Lines().Count() == 0)
        e.Lines().Add(QString());
    const TBufferCoord p = e.CaretXY();
    const QString s = e.LineAt(p.Line);
    const int length = int(s.size());
    const bool autoIndent = e.HasOption(eoAutoIndent);
    if (p.Char > length) {
        const int columns = autoIndent && p.Char > 1 ? IndentOfNonEmptyAbove(e, p.Line) : 0;
        const QString indent = IndentFor(e, columns);
        e.Lines().Insert(LineIndex(p.Line + 1), indent);
        if (moveCaret)
            Ed::MoveCaret(e, {CharOfIndex(int(indent.size())), p.Line + 1}, false);
    } else if (p.Char == 1) {
        e.Lines().Insert(LineIndex(p.Line), QString());
        Ed::MoveCaret(e, moveCaret ? TBufferCoord{1, p.Line + 1} : p, false);
    } else {
        const QString left = s.left(CharIndexOf(p));
        const QString indent = autoIndent ? IndentFor(e, text::IndentColumns(left, e.TabWidth())) : QString();
        e.PutLine(p.Line, left);
        e.Lines().Insert(LineIndex(p.Line + 1), indent + s.mid(CharIndexOf(p)));
        if (moveCaret)
            Ed::MoveCaret(e, {CharOfIndex(int(indent.size())), p.Line + 1}, false);
        else
            Ed::MoveCaret(e, p, false);
    }
}

// Backspace and Delete with a selection remove just the selection, in one
// undo step; false when there is none.
bool DeletedSelection(TCustomCodeEditor& e)
{
    if (!e.SelAvail())
        return false;
    TEditTransaction transaction(e);
    Ed::DeleteSelection(e);
    return true;
}

void DeleteLastChar(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (DeletedSelection(e))
        return;
    const TBufferCoord p = e.CaretXY();
    const QString& s = e.LineAt(p.Line);
    const int length = int(s.size());
    if (p.Char > CharOfIndex(length)) {
        int target = CharIndexOf(p);
        if (e.HasOption(eoSmartTabDelete)) {
            target = CharOfIndex(length);
            if (length == 0) {
                target = 1;
                for (int l = p.Line - 1; l >= 1; --l) {
                    const int indent = text::LeadingWhiteChars(e.LineAt(l));
                    if (indent > 0 && indent < CharIndexOf(p)) {
                        target = CharOfIndex(indent);
                        break;
                    }
                }
            }
        }
        Ed::MoveCaret(e, {target, p.Line}, false);
        return;
    }
    if (p.Char == 1) {
        if (p.Line == 1)
            return;
        TEditTransaction transaction(e);
        const TBufferCoord join = e.LineEndOf(p.Line - 1);
        e.DeleteTextRange(join, {1, p.Line});
        Ed::MoveCaret(e, join, false);
        return;
    }
    const int leading = text::LeadingWhiteChars(s);
    if (CharIndexOf(p) == leading && s[p.Char - 2].unicode() <= 32) {
        const int v = text::IndentColumns(s, e.TabWidth());
        int columns = 0;
        if (e.HasOption(eoSmartTabDelete)) {
            for (int l = p.Line - 1; l >= 1; --l) {
                const QString& above = e.LineAt(l);
                if (above.isEmpty())
                    continue;
                const int indent = text::IndentColumns(above, e.TabWidth());
                if (indent < v) {
                    columns = indent;
                    break;
                }
            }
        } else {
            const int tab = std::max(1, e.TabWidth());
            columns = v - ((v - 1) % tab) - 1;
        }
        const QString indent = IndentFor(e, columns);
        ReplaceInLine(e, p.Line, 0, leading, indent);
        Ed::MoveCaret(e, {CharOfIndex(int(indent.size())), p.Line}, false);
        return;
    }
    int from = p.Char - 2;
    if (from > 0 && QChar::isLowSurrogate(s[from].unicode()) && QChar::isHighSurrogate(s[from - 1].unicode()))
        --from;
    ReplaceInLine(e, p.Line, from, CharIndexOf(p), QString());
    Ed::MoveCaret(e, {CharOfIndex(from), p.Line}, false);
}

void DeleteChar(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (DeletedSelection(e))
        return;
    const TBufferCoord p = e.CaretXY();
    const QString& s = e.LineAt(p.Line);
    if (CharIndexOf(p) >= s.size()) {
        if (p.Line >= e.Lines().Count())
            return;
        TEditTransaction transaction(e);
        e.DeleteTextRange(p, {1, p.Line + 1});
        Ed::MoveCaret(e, p, false);
        return;
    }
    ReplaceInLine(e, p.Line, CharIndexOf(p), text::NextCharBoundary(s, CharIndexOf(p)), QString());
    Ed::MoveCaret(e, p, false);
}

void DeleteWord(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = e.LineAt(p.Line);
    const int n = int(s.size());
    int i = CharIndexOf(p);
    if (i >= n)
        return;
    while (i < n && IsWhiteChar(e, s[i]))
        ++i;
    if (i < n && IsIdentChar(e, s[i])) {
        while (i < n && IsIdentChar(e, s[i]))
            ++i;
    } else if (i < n) {
        i = text::NextCharBoundary(s, i);
    }
    while (i < n && IsWhiteChar(e, s[i]))
        ++i;
    ReplaceInLine(e, p.Line, CharIndexOf(p), i, QString());
    Ed::MoveCaret(e, p, false);
}

void DeleteLastWord(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const QString& s = e.LineAt(p.Line);
    const int end = std::min(CharIndexOf(p), int(s.size()));
    int i = end;
    while (i > 0 && IsWordBreakChar(e, s[i - 1]))
        --i;
    while (i > 0 && IsIdentChar(e, s[i - 1]))
        --i;
    i = text::SnapToCharBoundary(s, i);
    if (i < end)
        ReplaceInLine(e, p.Line, i, end, QString());
    Ed::MoveCaret(e, {CharOfIndex(i), p.Line}, false);
}

void DeleteBOL(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const int end = std::min(CharIndexOf(p), int(e.LineAt(p.Line).size()));
    if (end > 0)
        ReplaceInLine(e, p.Line, 0, end, QString());
    Ed::MoveCaret(e, {1, p.Line}, false);
}

void DeleteEOL(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const TBufferCoord p = e.CaretXY();
    const int length = int(e.LineAt(p.Line).size());
    if (CharIndexOf(p) < length)
        ReplaceInLine(e, p.Line, CharIndexOf(p), length, QString());
    Ed::MoveCaret(e, p, false);
}

void DeleteLine(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const int count = e.Lines().Count();
    int first = e.CaretY(), last = e.CaretY();
    if (e.SelAvail()) {
        first = e.BlockBegin().Line;
        last = e.BlockEnd().Line;
    }
    if (count == 0 || (last >= count && first == last && e.LineAt(last).isEmpty()))
        return;
    TEditTransaction transaction(e);
    if (last < count)
        e.DeleteTextRange({1, first}, {1, last + 1});
    else
        e.DeleteTextRange({1, first}, e.LineEndOf(last));
    Ed::MoveCaret(e, {1, first}, false);
}

void ClearAll(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    const int count = e.Lines().Count();
    if (count == 0)
        return;
    // Through the undo history rather than a clear of the buffer, so an
    // accidental Clear All can be taken back.
    TEditTransaction transaction(e);
    e.DeleteTextRange({1, 1}, e.LineEndOf(count));
    Ed::MoveCaret(e, {1, 1}, false);
}

const TCommandEntry kEditCommands[] = {
    {ecChar, TypeChar, cfChangesText | cfTyping},
    {ecImeStr, ImeStr, cfChangesText},
    {ecLineBreak, LineBreak, cfChangesText},
    {ecInsertLine, LineBreak, cfChangesText},
    {ecDeleteLastChar, DeleteLastChar, cfChangesText | cfTyping},
    {ecDeleteChar, DeleteChar, cfChangesText | cfTyping},
    {ecDeleteWord, DeleteWord, cfChangesText},
    {ecDeleteLastWord, DeleteLastWord, cfChangesText},
    {ecDeleteBOL, DeleteBOL, cfChangesText},
    {ecDeleteEOL, DeleteEOL, cfChangesText},
    {ecDeleteLine, DeleteLine, cfChangesText},
    {ecClearAll, ClearAll, cfChangesText},
};

} // namespace

std::span<const TCommandEntry> EditCommands() { return kEditCommands; }

} // namespace editor
