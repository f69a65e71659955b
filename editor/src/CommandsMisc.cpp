// Clipboard, undo, modes, scrolling, brackets, bookmarks, help and folds.
#include "EditorCommands.h"

#include <algorithm>
#include <climits>

namespace editor {

namespace {

void Copy(TCommandContext& c)
{
    if (c.E.SelAvail())
        c.E.View().SetClipboardText(c.E.SelText());
}

void Cut(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (!e.SelAvail())
        return;
    e.View().SetClipboardText(e.SelText());
    TEditTransaction transaction(e);
    Ed::DeleteSelection(e);
}

void Paste(TCommandContext& c)
{
    const QString clip = c.E.View().ClipboardText();
    if (!clip.isEmpty() || c.E.SelAvail())
        c.E.SetSelText(clip);
}

void Undo(TCommandContext& c) { c.E.Undo(); }
void Redo(TCommandContext& c) { c.E.Redo(); }

void InsertMode(TCommandContext& c) { c.E.SetInsertMode(true); }
void OverwriteMode(TCommandContext& c) { c.E.SetInsertMode(false); }
void ToggleMode(TCommandContext& c) { c.E.SetInsertMode(!c.E.InsertMode()); }
void NormalSelect(TCommandContext& c) { c.E.SetSelectionMode(smNormal); }
void ColumnSelect(TCommandContext& c) { c.E.SetSelectionMode(smColumn); }
void LineSelect(TCommandContext& c) { c.E.SetSelectionMode(smLine); }

// The bracket at the caret (or just before it) and its partner, counting
// nesting of the same pair; strings and comments are not skipped.
void MatchBracket(TCommandContext& c)
{
    static const QString kOpen = QStringLiteral("([{");
    static const QString kClose = QStringLiteral(")]}");
    TCustomCodeEditor& e = c.E;
    const TLineBuffer& lines = e.Lines();
    TBufferCoord p = e.CaretXY();
    const QString& s = e.LineAt(p.Line);
    int at = CharIndexOf(p);
    auto isBracket = [&](int i) { return i >= 0 && i < s.size() && (kOpen.contains(s[i]) || kClose.contains(s[i])); };
    if (!isBracket(at))
        --at;
    if (!isBracket(at))
        return;
    const QChar bracket = s[at];
    const bool forward = kOpen.contains(bracket);
    const QChar partner = forward ? kClose[kOpen.indexOf(bracket)] : kOpen[kClose.indexOf(bracket)];
    int depth = 0;
    int line = LineIndexOf(p);
    int i = at;
    while (line >= 0 && line < lines.Count()) {
        const QString& t = lines.GetRef(line);
        if (i == INT_MIN)
            i = forward ? 0 : int(t.size()) - 1;
        for (; i >= 0 && i < t.size(); i += forward ? 1 : -1) {
            if (t[i] == bracket)
                ++depth;
            else if (t[i] == partner && --depth == 0) {
                Ed::MoveCaret(e, CoordOfIndexes(i, line), false);
                return;
            }
        }
        line += forward ? 1 : -1;
        i = INT_MIN;
    }
}

// Scrolls one row, then brings the caret back inside the view.
void ScrollRows(TCommandContext& c, int delta)
{
    TCustomCodeEditor& e = c.E;
    e.SetTopLine(e.TopLine() + delta);
    const TDisplayCoord caret = e.DisplayXY();
    const int lastRow = e.TopLine() + std::max(1, e.View().LinesInWindow()) - 1;
    const int row = std::clamp(caret.Row, e.TopLine(), std::max(e.TopLine(), lastRow));
    if (row != caret.Row) {
        const TBufferCoord to = e.DisplayToBufferPos({Ed::LastCaretColumn(e), row});
        Ed::MoveCaret(e, to, false, true);
    }
}

void ScrollUp(TCommandContext& c) { ScrollRows(c, -1); }
void ScrollDown(TCommandContext& c) { ScrollRows(c, 1); }
void ScrollLeft(TCommandContext& c) { c.E.SetLeftChar(c.E.LeftChar() - 1); }
void ScrollRight(TCommandContext& c) { c.E.SetLeftChar(c.E.LeftChar() + 1); }

void GotoMarker(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (!e.BookmarksEnabled())
        return;
    if (const auto mark = e.Bookmark(c.Command - ecGotoMarker0))
        Ed::MoveCaret(e, *mark, false);
}

void SetMarker(TCommandContext& c)
{
    TCustomCodeEditor& e = c.E;
    if (!e.BookmarksEnabled())
        return;
    const int number = c.Command - ecSetMarker0;
    const auto* given = std::get_if<TBufferCoord>(&c.Data);
    const TBufferCoord where = given ? *given : e.CaretXY();
    const auto mark = e.Bookmark(number);
    if (mark && mark->Line == where.Line)
        e.ClearBookmark(number);
    else
        e.SetBookmark(number, where);
}

void ContextHelp(TCommandContext& c)
{
    if (c.E.OnContextHelp)
        c.E.OnContextHelp(c.E, c.E.WordAtCursor());
}

// --- folds

void SetCollapsed(TCustomCodeEditor& e, const std::vector<int>& indexes, bool collapsed)
{
    if (!e.CodeFoldingActive())
        return;
    // Outermost first, so the caret leaves hidden lines for the outer header.
    for (int index : indexes) {
        if (e.AllFoldRanges().Get(index).Collapsed == collapsed)
            continue;
        if (collapsed)
            e.Collapse(index);
        else
            e.Uncollapse(index);
    }
}

std::vector<int> AllFolds(const TCustomCodeEditor& e)
{
    std::vector<int> all(std::size_t(e.AllFoldRanges().Count()));
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = int(i);
    return all;
}

void FoldAll(TCommandContext& c) { SetCollapsed(c.E, AllFolds(c.E), true); }
void UnfoldAll(TCommandContext& c) { SetCollapsed(c.E, AllFolds(c.E), false); }

void FoldNearest(TCommandContext& c)
{
    int index;
    if (c.E.CodeFoldingActive() && c.E.AllFoldRanges().FoldAroundLineEx(c.E.CaretY(), false, true, true, &index))
        SetCollapsed(c.E, {index}, true);
}

void UnfoldNearest(TCommandContext& c)
{
    int index;
    const TFoldRanges& folds = c.E.AllFoldRanges();
    if (c.E.CodeFoldingActive()
        && (folds.CollapsedFoldStartAtLine(c.E.CaretY(), &index) || folds.FoldAroundLineEx(c.E.CaretY(), true, true, true, &index)))
        SetCollapsed(c.E, {index}, false);
}

void FoldLevel(TCommandContext& c)
{
    SetCollapsed(c.E, c.E.AllFoldRanges().FoldsAtLevel(c.Command - ecFoldLevel1 + 1), true);
}

void UnfoldLevel(TCommandContext& c)
{
    SetCollapsed(c.E, c.E.AllFoldRanges().FoldsAtLevel(c.Command - ecUnfoldLevel1 + 1), false);
}

void FoldRegions(TCommandContext& c) { SetCollapsed(c.E, c.E.AllFoldRanges().FoldsOfType(FoldTypeRegion), true); }
void UnfoldRegions(TCommandContext& c) { SetCollapsed(c.E, c.E.AllFoldRanges().FoldsOfType(FoldTypeRegion), false); }

const TCommandEntry kMiscCommands[] = {
    {ecCopy, Copy, cfNone},
    {ecCut, Cut, cfChangesText},
    {ecPaste, Paste, cfChangesText},
    {ecUndo, Undo, cfChangesText | cfReplay},
    {ecRedo, Redo, cfChangesText | cfReplay},
    {ecInsertMode, InsertMode, cfNone},
    {ecOverwriteMode, OverwriteMode, cfNone},
    {ecToggleMode, ToggleMode, cfNone},
    {ecNormalSelect, NormalSelect, cfNone},
    {ecColumnSelect, ColumnSelect, cfNone},
    {ecLineSelect, LineSelect, cfNone},
    {ecMatchBracket, MatchBracket, cfCaretMove},
    {ecScrollUp, ScrollUp, cfNone},
    {ecScrollDown, ScrollDown, cfNone},
    {ecScrollLeft, ScrollLeft, cfNone},
    {ecScrollRight, ScrollRight, cfNone},
    {ecGotoMarker0, GotoMarker, cfCaretMove},
    {ecGotoMarker1, GotoMarker, cfCaretMove},
    {ecGotoMarker2, GotoMarker, cfCaretMove},
    {ecGotoMarker3, GotoMarker, cfCaretMove},
    {ecGotoMarker4, GotoMarker, cfCaretMove},
    {ecGotoMarker5, GotoMarker, cfCaretMove},
    {ecGotoMarker6, GotoMarker, cfCaretMove},
    {ecGotoMarker7, GotoMarker, cfCaretMove},
    {ecGotoMarker8, GotoMarker, cfCaretMove},
    {ecGotoMarker9, GotoMarker, cfCaretMove},
    {ecSetMarker0, SetMarker, cfNone},
    {ecSetMarker1, SetMarker, cfNone},
    {ecSetMarker2, SetMarker, cfNone},
    {ecSetMarker3, SetMarker, cfNone},
    {ecSetMarker4, SetMarker, cfNone},
    {ecSetMarker5, SetMarker, cfNone},
    {ecSetMarker6, SetMarker, cfNone},
    {ecSetMarker7, SetMarker, cfNone},
    {ecSetMarker8, SetMarker, cfNone},
    {ecSetMarker9, SetMarker, cfNone},
    {ecContextHelp, ContextHelp, cfNone},
    {ecFoldAll, FoldAll, cfNone},
    {ecUnfoldAll, UnfoldAll, cfNone},
    {ecFoldNearest, FoldNearest, cfNone},
    {ecUnfoldNearest, UnfoldNearest, cfNone},
    {ecFoldLevel1, FoldLevel, cfNone},
    {ecFoldLevel2, FoldLevel, cfNone},
    {ecFoldLevel3, FoldLevel, cfNone},
    {ecUnfoldLevel1, UnfoldLevel, cfNone},
    {ecUnfoldLevel2, UnfoldLevel, cfNone},
    {ecUnfoldLevel3, UnfoldLevel, cfNone},
    {ecFoldRanges, FoldRegions, cfNone},
    {ecUnfoldRanges, UnfoldRegions, cfNone},
};

} // namespace

std::span<const TCommandEntry> MiscCommands() { return kMiscCommands; }

} // namespace editor
