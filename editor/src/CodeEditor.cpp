#include "editor/CodeEditor.h"
#include "editor/EditTransaction.h"

#include "EditorCommands.h"
#include "platform/ScopeExit.h"

#include <algorithm>

namespace editor {

// Keeps caret, selection and bookmarks inside the text whatever changes it,
// and sends a cleared text's caret home.
class TCustomCodeEditor::TCaretKeeper final : public TEditorPlugin {
public:
    explicit TCaretKeeper(TCustomCodeEditor& e) : E(e) {}
    void LinesCleared() override
    {
        E.FCaret = E.FBlockBegin = E.FBlockEnd = TBufferCoord{1, 1};
        E.FLastCaretColumn = 1;
        E.FTopLine = E.FLeftChar = 1;
        E.StatusChanged(scCaretX | scCaretY | scSelection | scTopLine | scLeftChar);
    }
    void LinesDeleted(int, int) override { Keep(); }
    void BatchEnd() override { Keep(); }

private:
    void Keep()
    {
        // Changes made straight to the buffer may shorten lines or split
        // characters under the caret.
        const bool past = E.CaretPastEolAllowed();
        if (E.ClampCoord(E.FCaret, past) != E.FCaret || E.ClampCoord(E.FBlockBegin, past) != E.FBlockBegin
            || E.ClampCoord(E.FBlockEnd, past) != E.FBlockEnd)
            Ed::Place(E, E.FCaret, E.FBlockBegin, E.FBlockEnd);
        const int count = std::max(1, E.Lines().Count());
        for (auto& mark : E.FBookmarks)
            if (mark && mark->Line > count)
                mark.reset();
    }
    TCustomCodeEditor& E;
};

TCustomCodeEditor::TCustomCodeEditor(TLineBuffer* sharedLines)
    : TEditorCore(sharedLines), FView(&FOwnView), FUndo(*this, *this),
      FCaretKeeper(std::make_unique<TCaretKeeper>(*this))
{
    FCaretKeeperSubscription = Subscribe(FCaretKeeper.get());
    FUndo.OnModifiedChanged = [this] { ModifiedChanged(); };
    SetWrapWidth(FOwnView.CharsInWindow());
}

TCustomCodeEditor::~TCustomCodeEditor() = default;

void TCustomCodeEditor::SetView(TEditorView* view)
{
    FView = view ? view : &FOwnView;
    // A control sets itself as the view while it is built, before it can
    // measure; it calls ViewResized once it can.
    if (FView == &FOwnView)
        ViewResized();
}

void TCustomCodeEditor::ViewResized() { SetWrapWidth(FView->CharsInWindow()); }

void TCustomCodeEditor::RowsChanging() { FTopAnchor = DisplayToBufferPos({1, FTopLine}); }

void TCustomCodeEditor::RowsChanged()
{
    // The top row keeps the text it showed; the caret keeps its place in the
    // text, and Up and Down go on from its new column.
    SetTopLine(BufferToDisplayPos(FTopAnchor).Row);
    if (WrapRows())
        SetLeftChar(1);
    FLastCaretColumn = BufferToDisplayPos(FCaret).Column;
    StatusChanged(scCaretX | scCaretY);
}

// --- coordinates -----------------------------------------------------------

bool TCustomCodeEditor::CaretPastEolAllowed() const
{
    return HasOption(eoScrollPastEol) || FSelectionMode == smColumn;
}

TBufferCoord TCustomCodeEditor::ClampCoord(TBufferCoord p, bool allowPastEol) const
{
    const int count = Lines().Count();
    p.Line = std::clamp(p.Line, 1, std::max(1, count));
    const QString& line = LineAt(p.Line);
    int index = std::max(0, CharIndexOf(p));
    if (!allowPastEol)
        index = std::min(index, int(line.size()));
    index = text::SnapToCharBoundary(line, index);
    return {CharOfIndex(index), p.Line};
}

TDisplayCoord TCustomCodeEditor::BufferToDisplayPos(TBufferCoord p) const
{
    if (const TWrapRows* wrap = WrapRows()) {
        const TWrapRows::TRowPos at = wrap->ToDisplay(LineIndexOf(p), CharIndexOf(p));
        return {at.Column + 1, at.Row + 1};
    }
    const int column = text::DisplayColumn(LineAt(p.Line), CharIndexOf(p), TabWidth()) + 1;
    const int row = CodeFoldingActive() ? AllFoldRanges().FoldLineToRow(p.Line) : p.Line;
    return {column, row};
}

TBufferCoord TCustomCodeEditor::DisplayToBufferPos(TDisplayCoord p) const
{
    if (const TWrapRows* wrap = WrapRows()) {
        const TWrapRows::TLinePos at = wrap->ToBuffer(p.Row - 1, p.Column - 1);
        return CoordOfIndexes(at.Char, at.Line);
    }
    const int line = CodeFoldingActive() ? AllFoldRanges().FoldRowToLine(p.Row) : p.Row;
    const int index = text::IndexOfDisplayColumn(LineAt(line), std::max(0, p.Column - 1), TabWidth());
    return {CharOfIndex(index), line};
}

int TCustomCodeEditor::DisplayRowCount() const
{
    const int count = Lines().Count();
    if (const TWrapRows* wrap = WrapRows())
        return wrap->RowCount();
    return CodeFoldingActive() ? AllFoldRanges().FoldLineToRow(count) : count;
}

// --- caret and selection ---------------------------------------------------

void TCustomCodeEditor::Internals::Place(TCustomCodeEditor& e, TBufferCoord caret, TBufferCoord anchor, TBufferCoord end)
{
    const bool past = e.CaretPastEolAllowed();
    caret = e.ClampCoord(caret, past);
    // Without selections every selecting move is a plain move.
    if (e.HasOption(eoNoSelection))
        anchor = end = caret;
    anchor = e.ClampCoord(anchor, past);
    end = e.ClampCoord(end, past);
    TStatusChanges changes = 0;
    if (caret.Char != e.FCaret.Char)
        changes |= scCaretX;
    if (caret.Line != e.FCaret.Line)
        changes |= scCaretY;
    if (anchor != e.FBlockBegin || end != e.FBlockEnd)
        changes |= scSelection;
    e.FCaret = caret;
    e.FBlockBegin = anchor;
    e.FBlockEnd = end;
    if (changes)
        e.StatusChanged(changes);
}

void TCustomCodeEditor::Internals::MoveCaret(TCustomCodeEditor& e, TBufferCoord to, bool select, bool keepColumn)
{
    to = e.ClampCoord(to, e.CaretPastEolAllowed());
    // A caret never stands on a hidden line: the folds hiding it open.
    e.RevealLine(to.Line);
    if (select) {
        // An empty column selection keeps its anchor while it is extended.
        const TBufferCoord anchor = e.FBlockBegin != e.FBlockEnd ? e.FBlockBegin : e.FCaret;
        Place(e, to, anchor, to);
    } else {
        Place(e, to, to, to);
    }
    if (!keepColumn)
        e.FLastCaretColumn = e.BufferToDisplayPos(e.FCaret).Column;
    e.EnsureCursorPosVisible();
}

void TCustomCodeEditor::SetCaretXY(TBufferCoord value) { Internals::MoveCaret(*this, value, false); }

TBufferCoord TCustomCodeEditor::BlockBegin() const { return std::min(FBlockBegin, FBlockEnd); }
TBufferCoord TCustomCodeEditor::BlockEnd() const { return std::max(FBlockBegin, FBlockEnd); }

void TCustomCodeEditor::SetSelection(TBufferCoord anchor, TBufferCoord end)
{
    Internals::Place(*this, end, anchor, end);
    FLastCaretColumn = BufferToDisplayPos(FCaret).Column;
    EnsureCursorPosVisible();
}

bool TCustomCodeEditor::SelAvail() const
{
    if (FSelectionMode == smColumn)
        return BufferToDisplayPos(FBlockBegin).Column != BufferToDisplayPos(FBlockEnd).Column;
    return FBlockBegin != FBlockEnd;
}

void TCustomCodeEditor::SetSelectionMode(TSelectionMode value)
{
    if (value == FSelectionMode)
        return;
    FSelectionMode = value;
    // Leaving column mode brings a caret past the line end back.
    Internals::Place(*this, FCaret, FBlockBegin, FBlockEnd);
    StatusChanged(scSelection);
}

namespace {

struct TColumnSpan {
    int Left;  // 0-based display columns
    int Right;
};

TColumnSpan ColumnsOf(const TCustomCodeEditor& e)
{
    const int a = e.BufferToDisplayPos(e.SelectionAnchor()).Column - 1;
    const int b = e.BufferToDisplayPos(e.SelectionEnd()).Column - 1;
    return {std::min(a, b), std::max(a, b)};
}

} // namespace

QString TCustomCodeEditor::SelText() const
{
    if (!SelAvail())
        return QString();
    const TBufferCoord from = BlockBegin(), to = BlockEnd();
    switch (FSelectionMode) {
    case smNormal:
        return TextRange(from, to);
    case smLine: {
        QString result = TextRange({1, from.Line}, LineEndOf(to.Line));
        if (to.Line < Lines().Count())
            result += QLatin1String("\r\n");
        return result;
    }
    case smColumn: {
        const TColumnSpan cols = ColumnsOf(*this);
        QStringList parts;
        for (int line = from.Line; line <= to.Line; ++line) {
            const QString& s = LineAt(line);
            const int a = std::min(int(s.size()), text::IndexOfDisplayColumn(s, cols.Left, TabWidth()));
            const int b = std::min(int(s.size()), text::IndexOfDisplayColumn(s, cols.Right, TabWidth()));
            parts << s.mid(a, b - a);
        }
        return parts.join(QLatin1String("\r\n"));
    }
    }
    return QString();
}

void TCustomCodeEditor::Internals::DeleteSelection(TCustomCodeEditor& e)
{
    if (!e.SelAvail())
        return;
    const TBufferCoord from = e.BlockBegin(), to = e.BlockEnd();
    TLineBuffer& lines = e.Lines();
    TEditTransaction transaction(e);
    switch (e.FSelectionMode) {
    case smNormal:
        e.DeleteTextRange(from, to);
        MoveCaret(e, from, false);
        break;
    case smLine: {
        const int count = lines.Count();
        if (to.Line < count)
            e.DeleteTextRange({1, from.Line}, {1, to.Line + 1});
        else if (from.Line > 1)
            e.DeleteTextRange(e.LineEndOf(from.Line - 1), e.LineEndOf(to.Line));
        else
            e.DeleteTextRange({1, 1}, e.LineEndOf(to.Line));
        MoveCaret(e, {1, std::min(from.Line, std::max(1, lines.Count()))}, false);
        break;
    }
    case smColumn: {
        const TColumnSpan cols = ColumnsOf(e);
        for (int line = from.Line; line <= to.Line; ++line) {
            const QString& s = e.LineAt(line);
            const int a = std::min(int(s.size()), text::IndexOfDisplayColumn(s, cols.Left, e.TabWidth()));
            const int b = std::min(int(s.size()), text::IndexOfDisplayColumn(s, cols.Right, e.TabWidth()));
            if (b > a)
                e.DeleteTextRange({CharOfIndex(a), line}, {CharOfIndex(b), line});
        }
        const QString& top = e.LineAt(from.Line);
        MoveCaret(e, {CharOfIndex(text::IndexOfDisplayColumn(top, cols.Left, e.TabWidth())), from.Line}, false);
        break;
    }
    }
}

void TCustomCodeEditor::SetSelText(const QString& value)
{
    TEditTransaction transaction(*this);
    Internals::DeleteSelection(*this);
    const TBufferCoord end = InsertTextAt(FCaret, value);
    Internals::MoveCaret(*this, end, false);
}

QString TCustomCodeEditor::WordAtCursor() const
{
    const QString& line = LineAt(FCaret.Line);
    int start = std::min(int(line.size()), CharIndexOf(FCaret));
    int end = start;
    while (start > 0 && IsIdentChar(*this, line[start - 1]))
        --start;
    while (end < line.size() && IsIdentChar(*this, line[end]))
        ++end;
    return line.mid(start, end - start);
}

// --- scrolling -------------------------------------------------------------

void TCustomCodeEditor::SetTopLine(int row)
{
    const int rows = std::max(1, DisplayRowCount());
    const int last = HasOption(eoScrollPastEof) ? rows : std::max(1, rows - FView->LinesInWindow() + 1);
    row = std::clamp(row, 1, last);
    if (row != FTopLine) {
        FTopLine = row;
        StatusChanged(scTopLine);
    }
}

void TCustomCodeEditor::SetLeftChar(int column)
{
    column = std::max(1, column);
    if (column != FLeftChar) {
        FLeftChar = column;
        StatusChanged(scLeftChar);
    }
}

void TCustomCodeEditor::EnsureCursorPosVisible()
{
    const TDisplayCoord caret = DisplayXY();
    const int rows = std::max(1, FView->LinesInWindow());
    const int cols = std::max(1, FView->CharsInWindow());
    if (caret.Row < FTopLine)
        SetTopLine(caret.Row);
    else if (caret.Row >= FTopLine + rows)
        SetTopLine(caret.Row - rows + 1);
    // Wrapped rows fit the window: it never scrolls sideways.
    if (WrapRows())
        SetLeftChar(1);
    else if (caret.Column < FLeftChar)
        SetLeftChar(caret.Column);
    else if (caret.Column >= FLeftChar + cols)
        SetLeftChar(caret.Column - cols + 1);
}

// --- modes -----------------------------------------------------------------

void TCustomCodeEditor::SetInsertMode(bool value)
{
    if (value != FInserting) {
        FInserting = value;
        StatusChanged(scInsertMode);
    }
}

void TCustomCodeEditor::SetReadOnly(bool value)
{
    if (value != FReadOnly) {
        FReadOnly = value;
        StatusChanged(scReadOnly);
    }
}

void TCustomCodeEditor::SetOptions(TEditorOptions value)
{
    if (value == FOptions)
        return;
    FOptions = value;
    FUndo.SetGroupUndo(HasOption(eoGroupUndo));
    Internals::Place(*this, FCaret, FBlockBegin, FBlockEnd);
    StatusChanged(scOptions);
}

std::optional<TBufferCoord> TCustomCodeEditor::Bookmark(int number) const
{
    if (number < 0 || number > 9)
        return std::nullopt;
    return FBookmarks[std::size_t(number)];
}

void TCustomCodeEditor::SetBookmark(int number, TBufferCoord pos)
{
    if (number >= 0 && number <= 9)
        FBookmarks[std::size_t(number)] = ClampCoord(pos, true);
    FView->InvalidateGutter();
}

void TCustomCodeEditor::ClearBookmark(int number)
{
    if (number >= 0 && number <= 9)
        FBookmarks[std::size_t(number)].reset();
    FView->InvalidateGutter();
}

void TCustomCodeEditor::FoldCollapsed(const TFoldRange& range)
{
    if (FCaret.Line > range.FromLine && FCaret.Line <= range.ToLine)
        Internals::MoveCaret(*this, LineEndOf(range.FromLine), false);
}

// --- status ----------------------------------------------------------------

void TCustomCodeEditor::StatusChanged(TStatusChanges changes)
{
    FPendingStatus |= changes;
    if (FPaintLock == 0)
        FlushStatus();
}

void TCustomCodeEditor::FlushStatus()
{
    const TStatusChanges changes = FPendingStatus;
    if (!changes)
        return;
    FPendingStatus = 0;
    FView->StatusChanged(changes);
    if (OnStatusChange)
        OnStatusChange(*this, changes);
}

void TCustomCodeEditor::LinesInvalidated(int first, int last)
{
    FView->InvalidateLines(LineOfIndex(first), last < 0 ? -1 : LineOfIndex(last));
}

// --- undo ------------------------------------------------------------------

TCaretAndSelection TCustomCodeEditor::GetCaretAndSelection() const { return {FCaret, FBlockBegin, FBlockEnd}; }

void TCustomCodeEditor::SetCaretAndSelection(const TCaretAndSelection& value)
{
    Internals::Place(*this, value.Caret, value.BlockBegin, value.BlockEnd);
    FLastCaretColumn = BufferToDisplayPos(FCaret).Column;
    EnsureCursorPosVisible();
}

void TCustomCodeEditor::SetUndoCaret(TBufferCoord caret) { Internals::MoveCaret(*this, caret, false); }

void TCustomCodeEditor::UnlockPaint()
{
    if (--FPaintLock == 0)
        FlushStatus();
}

// Holds the status reports of a step that is no edit of its own (undo, redo,
// a caret move) until it ends; edits hold them through their transaction.
class TCustomCodeEditor::TPaintLock {
public:
    explicit TPaintLock(TCustomCodeEditor& e) : E(e) { E.LockPaint(); }
    ~TPaintLock() { E.UnlockPaint(); }
    TPaintLock(const TPaintLock&) = delete;
    TPaintLock& operator=(const TPaintLock&) = delete;

private:
    TCustomCodeEditor& E;
};

void TCustomCodeEditor::Undo()
{
    if (FReadOnly)
        return;
    TPaintLock lock(*this);
    FUndo.Undo();
}

void TCustomCodeEditor::Redo()
{
    if (FReadOnly)
        return;
    TPaintLock lock(*this);
    FUndo.Redo();
}

void TCustomCodeEditor::ClearUndo()
{
    FUndo.Clear();
    FUndo.ClearTrackChanges();
}

void TCustomCodeEditor::SetModified(bool value)
{
    if (value == FUndo.Modified())
        return;
    FUndo.SetModified(value);
    if (!value && HasOption(eoGroupUndo) && FUndo.CanUndo())
        FUndo.BreakGroup();
    StatusChanged(scModified);
}

void TCustomCodeEditor::MarkSaved()
{
    FUndo.MarkSaved();
    FView->InvalidateGutter();
}

void TCustomCodeEditor::ClearTrackChanges()
{
    FUndo.ClearTrackChanges();
    FView->InvalidateGutter();
}

void TCustomCodeEditor::AddModifiedChangedHandler(TNotify handler)
{
    if (handler)
        FModifiedChangedHandlers.push_back(std::move(handler));
}

void TCustomCodeEditor::ModifiedChanged()
{
    StatusChanged(scModified);
    for (const TNotify& handler : std::vector<TNotify>(FModifiedChangedHandlers))
        handler(*this);
}

// --- commands --------------------------------------------------------------

void TCustomCodeEditor::RegisterCommandHandler(TCommandHook* handler, void* handlerData)
{
    if (!handler)
        return;
    for (const THookEntry& entry : FHookedCommandHandlers)
        if (entry.Handler == handler)
            return;
    FHookedCommandHandlers.push_back({handler, handlerData});
}

void TCustomCodeEditor::UnregisterCommandHandler(TCommandHook* handler)
{
    std::erase_if(FHookedCommandHandlers, [handler](const THookEntry& e) { return e.Handler == handler; });
}

void TCustomCodeEditor::CommandProcessor(TEditorCommand command, QChar aChar, const TCommandData& data)
{
    const platform::TScopeExit scope([this] { FUndo.SetCommandProcessed(ecNone); });
    FUndo.SetCommandProcessed(command);
    if (command >= ecUserFirst) {
        if (OnProcessUserCommand)
            OnProcessUserCommand(*this, command, aChar, data);
    } else if (OnProcessCommand) {
        OnProcessCommand(*this, command, aChar, data);
    }
    auto runHooks = [&](bool after) {
        bool handled = false;
        // A handler may unregister itself or others while running.
        const std::vector<THookEntry> hooks = FHookedCommandHandlers;
        for (const THookEntry& entry : hooks)
            entry.Handler->HookedCommand(*this, after, handled, command, aChar, data, entry.Data);
        if (handled)
            command = ecNone;
    };
    if (command != ecNone)
        runHooks(false);
    if (command != ecNone && command < ecUserFirst)
        ExecuteCommand(command, aChar, data);
    if (command != ecNone)
        runHooks(true);
    if (OnCommandProcessed)
        OnCommandProcessed(*this, command, aChar, data);
}

void TCustomCodeEditor::ExecuteCommand(TEditorCommand command, QChar aChar, const TCommandData& data)
{
    const TCommandEntry* entry = FindCommandEntry(command);
    if (!entry || ((entry->Flags & cfChangesText) && FReadOnly))
        return;
    TPaintLock lock(*this);
    if ((entry->Flags & cfCaretMove) && HasOption(eoGroupUndo) && FUndo.CanUndo())
        FUndo.BreakGroup();
    TCommandContext context{*this, command, aChar, data};
    const bool typing = (entry->Flags & cfTyping) && FBlockBegin == FBlockEnd;
    if (entry->Flags & cfReplay) {
        FTrimLine = 0; // undo and redo bring back exactly what was there
        entry->Handler(context);
        return;
    }
    const bool changes = (entry->Flags & cfChangesText) != 0;
    const TTrimStart start{FCaret.Line, LineCount()};
    auto run = [&] {
        TrimAbandonedLine();
        entry->Handler(context);
        TrimAfterCommand(start, changes);
    };
    // Typing on the line being edited stays one group; a trim joins the
    // command's own undo step.
    const bool trimDue = HasOption(eoTrimTrailingSpaces) && FTrimLine != 0 && (!typing || FTrimLine != FCaret.Line);
    if ((changes && !typing) || trimDue) {
        TEditTransaction transaction(*this);
        run();
    } else {
        run();
    }
}

// With eoTrimTrailingSpaces, trailing blanks go from the lines the user
// edited once the caret is off them: on the caret's own line they stay, as
// the next character typed may need them.
void TCustomCodeEditor::TrimAbandonedLine()
{
    // The caret left an edited line without a command (a click).
    if (FTrimLine != 0 && FTrimLine != FCaret.Line && HasOption(eoTrimTrailingSpaces) && FTrimLine <= LineCount())
        TrimLine(FTrimLine);
    if (FTrimLine != FCaret.Line)
        FTrimLine = 0;
}

void TCustomCodeEditor::TrimAfterCommand(TTrimStart start, bool changedText)
{
    if (!HasOption(eoTrimTrailingSpaces)) {
        FTrimLine = 0;
        return;
    }
    if (!changedText) {
        TrimAbandonedLine();
        return;
    }
    const int now = FCaret.Line;
    // Lines the command put above the caret (a line break, a paste) are edited lines too.
    if (LineCount() > start.Count && now > start.Line)
        for (int line = start.Line; line < now; ++line)
            TrimLine(line);
    FTrimLine = now;
}

void TCustomCodeEditor::TrimLine(int line)
{
    const QString& text = Lines().GetRef(LineIndex(line));
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    if (end < text.size())
        PutLine(line, text.left(end));
}

// --- keyboard --------------------------------------------------------------

bool TCustomCodeEditor::KeyDown(quint16 key, TShiftState shift)
{
    if (OnKeyDown) {
        OnKeyDown(key, shift);
        if (key == 0)
            return true;
    }
    // Without WantTabs / WantReturns these keys belong to the window (focus
    // change, default button), not to the text.
    const bool plain = (shift & (ssCtrl | ssAlt)) == 0;
    if (plain && ((key == VK_TAB && !FWantTabs) || (key == VK_RETURN && !FWantReturns)))
        return false;
    const TKeyDownResult result = FKeys.KeyDown(key, shift);
    if (result.Command != ecNone)
        CommandProcessor(result.Command, QChar(), {});
    return result.Consumed;
}

void TCustomCodeEditor::KeyPress(QChar ch)
{
    if (FKeys.KeyPress(ch, OnKeyPress))
        CommandProcessor(ecChar, ch, {});
}

// --- the handler table -----------------------------------------------------

const TCommandEntry* FindCommandEntry(TEditorCommand command)
{
    static const std::vector<const TCommandEntry*> table = [] {
        std::vector<const TCommandEntry*> t(ecUserFirst, nullptr);
        for (auto family : {CaretCommands(), EditCommands(), BlockCommands(), MiscCommands()})
            for (const TCommandEntry& entry : family)
                t[entry.Command] = &entry;
        return t;
    }();
    return command < table.size() ? table[command] : nullptr;
}

// Letters beyond Latin-1 (Japanese, for one) are word characters in Python,
// whatever the highlighter's Latin-1 tables say.
bool IsIdentChar(const TCustomCodeEditor& e, QChar c)
{
    if (c.unicode() > 255)
        return c.isLetterOrNumber() || c.isMark();
    if (auto* h = e.Highlighter())
        return h->IsIdentChar(c.unicode());
    return c.isLetterOrNumber() || c == u'_';
}

bool IsWordBreakChar(const TCustomCodeEditor& e, QChar c)
{
    if (c.unicode() > 255)
        return c.isSpace() || c.isPunct() || c.isSymbol();
    if (auto* h = e.Highlighter())
        return h->IsWordBreakChar(c.unicode());
    return c.unicode() < 33 || (c.isPunct() && c != u'_') || c.isSymbol();
}

bool IsWhiteChar(const TCustomCodeEditor&, QChar c) { return c.unicode() <= 32 || c.isSpace(); }

TLineSpan SelectedLines(const TCustomCodeEditor& e)
{
    if (!e.SelAvail())
        return {e.CaretY(), e.CaretY()};
    const TBufferCoord from = e.BlockBegin(), to = e.BlockEnd();
    int last = to.Line;
    if (to.Char == 1 && to.Line > from.Line)
        --last;
    return {from.Line, last};
}

} // namespace editor
