#include "editor/EditorUndo.h"

#include <algorithm>
#include <utility>

namespace editor {

#define UNDO_ASSERT(cond)                                                                                              \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            throw EAssertionFailed("EditorUndo", __LINE__);                                                            \
    } while (false)

EAssertionFailed::EAssertionFailed(const char* source, int line)
    : platform::Exception(QStringLiteral("アサートの失敗 (%1, %2)").arg(QString::fromLatin1(source)).arg(line)),
      FSource(QString::fromLatin1(source)), FLine(line)
{
}

namespace {

constexpr TLineChangeFlags kWithoutSaved = TLineChangeFlags(~sfSaved) & kLineChangeFlagsMask;
constexpr TLineChangeFlags kWithoutModifiedAsSaved = TLineChangeFlags(~(sfModified | sfAsSaved)) & kLineChangeFlagsMask;

// The caret's line after lines at index were put back or removed.
TBufferCoord LineStartAfter(const TLineBuffer& lines, int index, int count)
{
    return {1, std::max(1, std::min(lines.Count(), LineOfIndex(index + count)))};
}

// Sets flags of inserted lines; the buffer marks new lines unknown-width only.
void RestoreFlags(TLineBuffer& lines, int index, const std::vector<TLineChangeFlags>& flags)
{
    for (std::size_t i = 0; i < flags.size(); ++i)
        lines.SetChangeFlags(index + int(i), flags[i]);
}

std::vector<TLineChangeFlags> CurrentFlags(const TLineBuffer& lines, int index, int count)
{
    std::vector<TLineChangeFlags> flags(std::size_t(std::max(0, count)));
    for (int i = 0; i < count; ++i)
        flags[std::size_t(i)] = lines.GetChangeFlags(index + i);
    return flags;
}

} // namespace

// ---------------------------------------------------------------------------

TLinePutUndoItem::TLinePutUndoItem(
    TLineBuffer& lines, int index, const QString& oldLine, TEditorCommand command, int caretBefore)
    : FIndex(index), FCaretBefore(caretBefore), FCommandProcessed(command)
{
    const QString& newLine = lines.GetRef(index);
    const qsizetype oldLen = oldLine.size(), newLen = newLine.size();
    const QChar* o = oldLine.constData();
    const QChar* n = newLine.constData();
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(oldLen, newLen);
    while (prefix < shorter && o[prefix] == n[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && o[oldLen - 1 - suffix] == n[newLen - 1 - suffix])
        ++suffix;
    FStartPos = CharOfIndex(int(prefix));
    FOldLength = int(oldLen - prefix - suffix);
    const qsizetype newPart = newLen - prefix - suffix;
    FValues.reserve(std::size_t(FOldLength + newPart));
    FValues.append(reinterpret_cast<const char16_t*>(o + prefix), std::size_t(FOldLength));
    FValues.append(reinterpret_cast<const char16_t*>(n + prefix), std::size_t(newPart));
    const TLineChangeFlags flags = lines.GetChangeFlags(index);
    FChangeFlags = flags & kWithoutSaved;
    lines.SetChangeFlags(index, TLineChangeFlags((flags & kWithoutModifiedAsSaved) | sfModified));
}

bool TLinePutUndoItem::CaretAtStart() const
{
    switch (FCommandProcessed) {
    case ecDeleteChar:
    case ecDeleteWord:
    case ecDeleteEOL:
        return true;
    case ecChar:
        return OldValue().size() == 1 && NewValue().size() == 1;
    default:
        return false;
    }
}

void TLinePutUndoItem::Swap(TUndoContext& editor, QStringView remove, QStringView insert)
{
    QString line = editor.Lines.Get(FIndex);
    const int at = std::min(int(line.size()), CharIndex(FStartPos));
    line.replace(at, std::min<qsizetype>(remove.size(), line.size() - at), insert.toString());
    editor.Lines.Put(FIndex, line);
    const TLineChangeFlags current = editor.Lines.GetChangeFlags(FIndex);
    editor.Lines.SetChangeFlags(FIndex, TLineChangeFlags((current & kWithoutModifiedAsSaved) | FChangeFlags));
    FChangeFlags = current & kWithoutSaved;
}

void TLinePutUndoItem::Undo(TUndoContext& editor)
{
    Swap(editor, NewValue(), OldValue());
    FUndone = true;
}

void TLinePutUndoItem::Redo(TUndoContext& editor)
{
    Swap(editor, OldValue(), NewValue());
    FUndone = false;
}

TBufferCoord TLinePutUndoItem::Caret() const
{
    // The minimal changed span cannot tell where in a run of equal
    // characters the change was made ("a" typed before "a"), so undo goes
    // back to the caret the change was made at when that is known.
    if (FUndone && FCaretBefore > 0)
        return {FCaretBefore, LineOfIndex(FIndex)};
    const int length = int(FUndone ? OldValue().size() : NewValue().size());
    return CoordOfIndexes(CharIndex(FStartPos) + (CaretAtStart() ? 0 : length), FIndex);
}

bool TLinePutUndoItem::GroupWith(const TLinePutUndoItem& item) const
{
    return NewValue().size() == item.NewValue().size() && OldValue().size() == item.OldValue().size()
        && OldValue().size() < 2 && NewValue().size() < 2 && std::abs(FStartPos - item.FStartPos) <= 1;
}

TLinesUndoItem::TLinesUndoItem(int index, QStringList lines, std::vector<TLineChangeFlags> flags)
    : FLines(std::move(lines)), FChangeFlags(std::move(flags)), FIndex(index)
{
}

void TLinesUndoItem::RemoveLines(TUndoContext& editor)
{
    FChangeFlags = CurrentFlags(editor.Lines, FIndex, int(FLines.size()));
    editor.Lines.DeleteLines(FIndex, int(FLines.size()));
    FCaret = CoordOfIndexes(0, FIndex);
}

void TLinesUndoItem::PutBackLines(TUndoContext& editor)
{
    editor.Lines.InsertStrings(FIndex, FLines);
    RestoreFlags(editor.Lines, FIndex, FChangeFlags);
    FCaret = LineStartAfter(editor.Lines, FIndex, int(FLines.size()));
}

TLinesInsertedUndoItem::TLinesInsertedUndoItem(TLineBuffer& lines, int index, int count)
    : TLinesUndoItem(index, {}, {})
{
    FLines.reserve(count);
    for (int i = 0; i < count; ++i) {
        FLines.append(lines.GetRef(index + i));
        lines.SetChangeFlags(index + i, sfModified);
    }
}

TLinesDeletedUndoItem::TLinesDeletedUndoItem(int index, QStringList deletedLines, std::vector<TLineChangeFlags> flags)
    : TLinesUndoItem(index, std::move(deletedLines), std::move(flags))
{
}

TCaretAndSelectionUndoItem::TCaretAndSelectionUndoItem(const TCaretAndSelection& state)
    : FBlockBegin(state.BlockBegin), FBlockEnd(state.BlockEnd)
{
    FCaret = state.Caret;
}

void TCaretAndSelectionUndoItem::Undo(TUndoContext& editor) { editor.Host.SetCaretAndSelection({FCaret, FBlockBegin, FBlockEnd}); }
void TCaretAndSelectionUndoItem::Redo(TUndoContext& editor) { Undo(editor); }

// ---------------------------------------------------------------------------

void TEditorUndoList::Push(std::unique_ptr<TUndoItem> value)
{
    FItems.push_back(std::move(value));
    EnforceLimit();
}

std::unique_ptr<TUndoItem> TEditorUndoList::Pop()
{
    if (FItems.empty())
        return nullptr;
    std::unique_ptr<TUndoItem> item = std::move(FItems.back());
    FItems.pop_back();
    return item;
}

void TEditorUndoList::SetMaxUndoActions(int value)
{
    FMaxUndoActions = value;
    EnforceLimit();
}

void TEditorUndoList::EnforceLimit()
{
    if (FMaxUndoActions <= 0 || int(FItems.size()) <= FMaxUndoActions)
        return;
    FFullUndoImposible = true;
    const std::size_t keep = std::size_t(FMaxUndoActions / 4 * 3);
    FItems.erase(FItems.begin(), FItems.end() - std::ptrdiff_t(keep));
}

// ---------------------------------------------------------------------------

// Turns the buffer's events into undo items.
class TEditorUndo::TRecorder final : public TEditorPlugin {
public:
    explicit TRecorder(TEditorUndo& owner) : FOwner(owner) {}

    void LinePut(int index, const QString& oldLine) override
    {
        if (!FOwner.Recording() || FOwner.FCore.Lines().GetRef(index) == oldLine)
            return;
        const TBufferCoord caret = FOwner.FHost.GetCaretAndSelection().Caret;
        FOwner.RecordItem(std::make_unique<TLinePutUndoItem>(FOwner.FCore.Lines(), index, oldLine,
            FOwner.FCommandProcessed, caret.Line == LineOfIndex(index) ? caret.Char : 0));
    }
    void LinesBeforeDeleted(int index, int count) override
    {
        FDeleted.clear();
        FDeletedFlags.clear();
        if (!FOwner.Recording())
            return;
        const TLineBuffer& lines = FOwner.FCore.Lines();
        FDeleted.reserve(count);
        for (int i = 0; i < count; ++i)
            FDeleted.append(lines.GetRef(index + i));
        FDeletedFlags = CurrentFlags(lines, index, count);
    }
    void LinesDeleted(int index, int count) override
    {
        if (FOwner.Recording() && count > 0 && FDeleted.size() >= count) {
            FDeleted.resize(count);
            FDeletedFlags.resize(std::size_t(count));
            FOwner.RecordItem(
                std::make_unique<TLinesDeletedUndoItem>(index, std::move(FDeleted), std::move(FDeletedFlags)));
        }
        FDeleted = QStringList();
        FDeletedFlags.clear();
    }
    void LinesInserted(int index, int count) override
    {
        if (!FOwner.Recording() || count <= 0)
            return;
        const TLineBuffer& lines = FOwner.FCore.Lines();
        if (FOwner.FUndoList.Empty() && lines.Count() == 1 && lines.GetRef(0).isEmpty())
            return;
        FOwner.RecordItem(std::make_unique<TLinesInsertedUndoItem>(FOwner.FCore.Lines(), index, count));
    }
    void LinesCleared() override
    {
        // The history of a text that is gone cannot be replayed.
        FOwner.Clear();
        FOwner.ClearTrackChanges();
    }

private:
    TEditorUndo& FOwner;
    QStringList FDeleted;
    std::vector<TLineChangeFlags> FDeletedFlags;
};

TEditorUndo::TEditorUndo(TEditorCore& core, TUndoCaretHost& host)
    : FCore(core), FHost(host), FPlugin(std::make_unique<TRecorder>(*this))
{
    FSubscription = FCore.Subscribe(FPlugin.get());
}

TEditorUndo::~TEditorUndo() = default;

bool TEditorUndo::Recording() const { return !FCore.SharesLines() && FLockCount == 0 && !FInsideUndoRedo; }

void TEditorUndo::ModifiedChanged()
{
    if (OnModifiedChanged)
        OnModifiedChanged();
}

void TEditorUndo::RecordItem(std::unique_ptr<TUndoItem> item)
{
    UNDO_ASSERT(!FInsideUndoRedo);
    const bool wasModified = Modified();
    item->ChangeNumber = FBlockChangeNumber != 0 ? FBlockChangeNumber : FNextChangeNumber++;
    FUndoList.Push(std::move(item));
    FRedoList.Clear();
    if (FBlockChangeNumber == 0 && wasModified != Modified())
        ModifiedChanged();
}

void TEditorUndo::BeginBlock()
{
    if (++FBlockCount != 1)
        return;
    FBlockStartModified = Modified();
    FBlockChangeNumber = FNextChangeNumber++;
    auto item = std::make_unique<TCaretAndSelectionUndoItem>(FHost.GetCaretAndSelection());
    item->ChangeNumber = FBlockChangeNumber;
    FBlockSelRestoreItem = item.get();
    FUndoList.Push(std::move(item));
}

void TEditorUndo::EndBlock()
{
    UNDO_ASSERT(FBlockCount > 0);
    if (--FBlockCount > 0)
        return;
    // The block is over before anything below can fail, so a failure leaves
    // no later change joining it.
    const std::uint32_t change = std::exchange(FBlockChangeNumber, 0);
    const TUndoItem* selRestore = std::exchange(FBlockSelRestoreItem, nullptr);
    if (FUndoList.Peek() && FUndoList.Peek() == selRestore) {
        FUndoList.Pop();
    } else if (!FUndoList.Empty()) {
        auto item = std::make_unique<TCaretAndSelectionUndoItem>(FHost.GetCaretAndSelection());
        item->ChangeNumber = change;
        FUndoList.Push(std::move(item));
    }
    BreakGroup();
    if (FBlockStartModified != Modified())
        ModifiedChanged();
}

void TEditorUndo::BreakGroup()
{
    if (!FUndoList.Empty() && FBlockCount == 0)
        FUndoList.Peek()->GroupBreak = true;
}

void TEditorUndo::Unlock()
{
    if (FLockCount > 0)
        --FLockCount;
}

void TEditorUndo::Clear()
{
    FUndoList.Clear();
    FRedoList.Clear();
    FBlockSelRestoreItem = nullptr;
}

bool TEditorUndo::Modified() const
{
    if (FUndoList.Empty())
        return FInitialChangeNumber != 0;
    return FUndoList.Peek()->ChangeNumber != FInitialChangeNumber;
}

void TEditorUndo::SetModified(bool value)
{
    if (!value)
        FInitialChangeNumber = FUndoList.Empty() ? 0 : FUndoList.Peek()->ChangeNumber;
    else if (!Modified())
        FInitialChangeNumber = std::uint32_t(-1);
}

void TEditorUndo::SetMaxUndo(int value)
{
    if (value == FUndoList.MaxUndoActions())
        return;
    FUndoList.SetMaxUndoActions(value);
    FRedoList.SetMaxUndoActions(value);
}

template <bool IsUndo>
void TEditorUndo::Replay()
{
    UNDO_ASSERT(FBlockCount == 0 && FBlockChangeNumber == 0);
    TEditorUndoList& from = IsUndo ? FUndoList : FRedoList;
    TEditorUndoList& to = IsUndo ? FRedoList : FUndoList;
    if (from.Empty())
        return;
    const bool wasModified = Modified();
    const std::uint32_t step = from.Peek()->ChangeNumber;
    TUndoContext context{FCore.Lines(), FHost};
    TLineBufferUpdate batch(FCore.Lines());
    TUndoItem* last = nullptr;
    for (;;) {
        std::unique_ptr<TUndoItem> item = from.Pop();
        {
            struct Inside {
                bool& flag;
                explicit Inside(bool& f) : flag(f) { flag = true; }
                ~Inside() { flag = false; }
            } inside(FInsideUndoRedo);
            try {
                if constexpr (IsUndo)
                    item->Undo(context);
                else
                    item->Redo(context);
            } catch (...) {
                // The item stays where it was, so the lists keep every step.
                from.Push(std::move(item));
                throw;
            }
        }
        last = item.get();
        to.Push(std::move(item));
        TUndoItem* next = from.Peek();
        if (!next)
            break;
        if (next->ChangeNumber == step)
            continue;
        const bool breaks = IsUndo ? next->GroupBreak : last->GroupBreak;
        auto* done = dynamic_cast<TLinePutUndoItem*>(last);
        auto* following = dynamic_cast<TLinePutUndoItem*>(next);
        if (FGroupUndo && !breaks && done && following && (IsUndo ? following->GroupWith(*done) : done->GroupWith(*following)))
            continue;
        break;
    }
    if (last && !dynamic_cast<TCaretAndSelectionUndoItem*>(last))
        FHost.SetUndoCaret(last->Caret());
    if (wasModified != Modified())
        ModifiedChanged();
}

void TEditorUndo::Undo() { Replay<true>(); }
void TEditorUndo::Redo() { Replay<false>(); }

void TEditorUndo::MarkSaved()
{
    TLineBuffer& lines = FCore.Lines();
    for (int i = 0, n = lines.Count(); i < n; ++i) {
        const TLineChangeFlags flags = lines.GetChangeFlags(i);
        if (flags == sfSaved)
            lines.SetChangeFlags(i, 0);
        else if (flags & sfModified)
            lines.SetChangeFlags(i, TLineChangeFlags((flags & ~sfModified) | sfSaved | sfAsSaved));
    }
    for (const TEditorUndoList* list : {&FUndoList, &FRedoList}) {
        for (int i = 0; i < list->Count(); ++i) {
            TUndoItem& item = list->Item(i);
            if (auto* put = dynamic_cast<TLinePutUndoItem*>(&item)) {
                if (put->ChangeFlags() == sfAsSaved)
                    put->SetChangeFlags(sfModified);
            } else if (auto* whole = dynamic_cast<TLinesUndoItem*>(&item)) {
                std::fill(whole->FChangeFlags.begin(), whole->FChangeFlags.end(), TLineChangeFlags(sfModified));
            }
        }
    }
}

void TEditorUndo::ClearTrackChanges()
{
    TLineBuffer& lines = FCore.Lines();
    for (int i = 0, n = lines.Count(); i < n; ++i)
        lines.SetChangeFlags(i, 0);
    for (const TEditorUndoList* list : {&FUndoList, &FRedoList}) {
        for (int i = 0; i < list->Count(); ++i) {
            TUndoItem& item = list->Item(i);
            if (auto* whole = dynamic_cast<TLinesUndoItem*>(&item))
                std::fill(whole->FChangeFlags.begin(), whole->FChangeFlags.end(), TLineChangeFlags(sfModified));
        }
    }
}

} // namespace editor
