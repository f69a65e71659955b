#pragma once
// Undo and redo of every change of the editor's line buffer: items recorded
// from the buffer's events, grouped into user-level steps, with the modified
// state relative to a save point and the per-line change flags.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/BufferCoord.h"
#include "editor/EditorCore.h"
#include "editor/EditorKeyCmds.h"
#include "platform/Exception.h"

namespace editor {

// Misuse of the undo manager: adding an item during undo or redo, ending a
// block that was not begun, undo or redo with a block open.
class EAssertionFailed : public platform::Exception {
public:
    EAssertionFailed(const char* source, int line);
    const QString& Source() const { return FSource; }
    int Line() const { return FLine; }

private:
    QString FSource;
    int FLine;
};

struct TCaretAndSelection {
    TBufferCoord Caret;
    TBufferCoord BlockBegin;
    TBufferCoord BlockEnd;
    friend bool operator==(const TCaretAndSelection&, const TCaretAndSelection&) = default;
};

// What undo needs of the editor besides its buffer.
class TUndoCaretHost {
public:
    virtual ~TUndoCaretHost() = default;
    virtual TCaretAndSelection GetCaretAndSelection() const = 0;
    virtual void SetCaretAndSelection(const TCaretAndSelection& value) = 0;
    virtual void SetUndoCaret(TBufferCoord caret) = 0;
};

struct TUndoContext {
    TLineBuffer& Lines;
    TUndoCaretHost& Host;
};

class TUndoItem {
public:
    virtual ~TUndoItem() = default;
    virtual void Undo(TUndoContext& editor) = 0;
    virtual void Redo(TUndoContext& editor) = 0;
    // Where the caret goes after this item was undone or redone.
    virtual TBufferCoord Caret() const = 0;

    std::uint32_t ChangeNumber = 0;
    bool GroupBreak = false;
};

// One line's text was replaced; only the differing middle part is kept.
class TLinePutUndoItem final : public TUndoItem {
public:
    // caretBefore: the caret's character when the change was made on this
    // line (0 when the caret stood elsewhere).
    TLinePutUndoItem(TLineBuffer& lines, int index, const QString& oldLine, TEditorCommand command, int caretBefore = 0);
    void Undo(TUndoContext& editor) override;
    void Redo(TUndoContext& editor) override;
    TBufferCoord Caret() const override;
    // Typing merge: neighbouring single-character changes of the same kind.
    bool GroupWith(const TLinePutUndoItem& item) const;

    int Index() const { return FIndex; }
    int StartPos() const { return FStartPos; }
    QStringView OldValue() const { return QStringView(FValues).left(FOldLength); }
    QStringView NewValue() const { return QStringView(FValues).mid(FOldLength); }
    TLineChangeFlags ChangeFlags() const { return FChangeFlags; }
    void SetChangeFlags(TLineChangeFlags value) { FChangeFlags = value; }

private:
    bool CaretAtStart() const;
    void Swap(TUndoContext& editor, QStringView remove, QStringView insert);

    // Old and new parts in one string: typing keeps them in the small-string
    // buffer, so a typed character costs one allocation.
    std::u16string FValues;
    int FIndex;
    int FStartPos; // 1-based
    int FOldLength;
    int FCaretBefore;
    TEditorCommand FCommandProcessed;
    TLineChangeFlags FChangeFlags;
    bool FUndone = false;
};

// Whole lines taken out of the text or put back, with their change flags.
class TLinesUndoItem : public TUndoItem {
public:
    TBufferCoord Caret() const override { return FCaret; }
    TBufferCoord FCaret;
    QStringList FLines;
    std::vector<TLineChangeFlags> FChangeFlags;
    int FIndex;

protected:
    TLinesUndoItem(int index, QStringList lines, std::vector<TLineChangeFlags> flags);
    void RemoveLines(TUndoContext& editor);
    void PutBackLines(TUndoContext& editor);
};

class TLinesInsertedUndoItem final : public TLinesUndoItem {
public:
    TLinesInsertedUndoItem(TLineBuffer& lines, int index, int count);
    void Undo(TUndoContext& editor) override { RemoveLines(editor); }
    void Redo(TUndoContext& editor) override { PutBackLines(editor); }
};

class TLinesDeletedUndoItem final : public TLinesUndoItem {
public:
    TLinesDeletedUndoItem(int index, QStringList deletedLines, std::vector<TLineChangeFlags> deletedChangeFlags);
    void Undo(TUndoContext& editor) override { PutBackLines(editor); }
    void Redo(TUndoContext& editor) override { RemoveLines(editor); }
};

class TCaretAndSelectionUndoItem final : public TUndoItem {
public:
    explicit TCaretAndSelectionUndoItem(const TCaretAndSelection& state);
    void Undo(TUndoContext& editor) override;
    void Redo(TUndoContext& editor) override;
    TBufferCoord Caret() const override { return FCaret; }
    TBufferCoord FCaret;
    TBufferCoord FBlockBegin;
    TBufferCoord FBlockEnd;
};

// A stack of items that owns them; the oldest go first when over the limit.
class TEditorUndoList {
public:
    void Push(std::unique_ptr<TUndoItem> value);
    std::unique_ptr<TUndoItem> Pop();
    TUndoItem* Peek() const { return FItems.empty() ? nullptr : FItems.back().get(); }
    bool Empty() const { return FItems.empty(); }
    int Count() const { return int(FItems.size()); }
    TUndoItem& Item(int index) const { return *FItems[std::size_t(index)]; }
    void Clear() { FItems.clear(); }
    int MaxUndoActions() const { return FMaxUndoActions; }
    void SetMaxUndoActions(int value);
    bool FullUndoImpossible() const { return FFullUndoImposible; }

private:
    void EnforceLimit();
    std::deque<std::unique_ptr<TUndoItem>> FItems;
    int FMaxUndoActions = 0;
    bool FFullUndoImposible = false;
};

class TEditorUndo {
public:
    using TNotifyEvent = std::function<void()>;

    // Records the changes of core's buffer; host moves caret and selection.
    TEditorUndo(TEditorCore& core, TUndoCaretHost& host);
    ~TEditorUndo();
    TEditorUndo(const TEditorUndo&) = delete;
    TEditorUndo& operator=(const TEditorUndo&) = delete;

    void BeginBlock();
    void EndBlock();
    int BlockCount() const { return FBlockCount; }
    void BreakGroup();
    void Lock() { ++FLockCount; }
    void Unlock();
    bool Locked() const { return FLockCount > 0; }
    void Clear();
    void Undo();
    void Redo();
    bool CanUndo() const { return !FUndoList.Empty(); }
    bool CanRedo() const { return !FRedoList.Empty(); }
    bool GroupUndo() const { return FGroupUndo; }
    void SetGroupUndo(bool value) { FGroupUndo = value; }
    bool Modified() const;
    void SetModified(bool value);
    int MaxUndo() const { return FUndoList.MaxUndoActions(); }
    void SetMaxUndo(int value);
    void SetCommandProcessed(TEditorCommand command) { FCommandProcessed = command; }
    TEditorCommand CommandProcessed() const { return FCommandProcessed; }
    void MarkSaved();
    void ClearTrackChanges();
    bool InsideUndoRedo() const { return FInsideUndoRedo; }

    const TEditorUndoList& UndoList() const { return FUndoList; }
    const TEditorUndoList& RedoList() const { return FRedoList; }

    // Adds an item as the plug-in does (raises during undo or redo).
    void RecordItem(std::unique_ptr<TUndoItem> item);

    TNotifyEvent OnModifiedChanged;

private:
    class TRecorder;
    friend class TRecorder;
    bool Recording() const;
    void ModifiedChanged();
    template <bool IsUndo>
    void Replay();

    TEditorCore& FCore;
    TUndoCaretHost& FHost;
    std::unique_ptr<TRecorder> FPlugin;
    TPluginSubscription FSubscription;
    bool FGroupUndo = true;
    int FBlockCount = 0;
    int FLockCount = 0;
    std::uint32_t FBlockChangeNumber = 0;
    std::uint32_t FNextChangeNumber = 1;
    std::uint32_t FInitialChangeNumber = 0;
    bool FBlockStartModified = false;
    TEditorUndoList FUndoList;
    TEditorUndoList FRedoList;
    bool FInsideUndoRedo = false;
    TEditorCommand FCommandProcessed = ecNone;
    const TUndoItem* FBlockSelRestoreItem = nullptr;
};

} // namespace editor
