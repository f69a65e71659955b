#pragma once
// The headless script editor: caret, selection, modes and options on top of
// the editor core, undo and redo, the command processor with its hooked
// handlers, and key translation. A painted control shows it through
// TEditorView and feeds it key codes and characters.
#include <QChar>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "editor/BufferCoord.h"
#include "editor/EditorCore.h"
#include "editor/EditorKeyCmds.h"
#include "editor/EditorUndo.h"
#include "editor/EditorView.h"

namespace editor {

enum TSelectionMode { smNormal = 0, smLine = 1, smColumn = 2 };

enum TEditorOption : std::uint32_t {
    eoAltSetsColumnMode = 1u << 0,
    eoAutoIndent = 1u << 1,
    eoDisableScrollArrows = 1u << 2,
    eoDragDropEditing = 1u << 3,
    eoDropFiles = 1u << 4,
    eoEnhanceHomeKey = 1u << 5,
    eoEnhanceEndKey = 1u << 6,
    eoGroupUndo = 1u << 7,
    eoHalfPageScroll = 1u << 8,
    eoHideShowScrollbars = 1u << 9,
    eoKeepCaretX = 1u << 10,
    eoNoCaret = 1u << 11,
    eoNoSelection = 1u << 12,
    eoRightMouseMovesCursor = 1u << 13,
    eoScrollByOneLess = 1u << 14,
    eoScrollHintFollows = 1u << 15,
    eoScrollPastEof = 1u << 16,
    eoScrollPastEol = 1u << 17,
    eoShowScrollHint = 1u << 18,
    eoShowSpecialChars = 1u << 19,
    eoSmartTabDelete = 1u << 20,
    eoSmartTabs = 1u << 21,
    eoSpecialLineDefaultFg = 1u << 22,
    eoTabIndent = 1u << 23,
    eoTabsToSpaces = 1u << 24,
    eoTrimTrailingSpaces = 1u << 25,
    eoShowLigatures = 1u << 26,
    eoCopyPlainText = 1u << 27,
    eoWrapWithRightEdge = 1u << 28,
};
using TEditorOptions = std::uint32_t;
inline constexpr TEditorOptions kDefaultEditorOptions = eoAutoIndent | eoDisableScrollArrows | eoDragDropEditing
    | eoDropFiles | eoEnhanceHomeKey | eoEnhanceEndKey | eoGroupUndo | eoHideShowScrollbars | eoKeepCaretX
    | eoShowScrollHint | eoSmartTabDelete | eoTabIndent | eoTabsToSpaces | eoShowLigatures;

// Extra argument of a command: a position (ecGotoXY, ecSelGotoXY, the marker
// commands) or a text (ecImeStr).
using TCommandData = std::variant<std::monostate, TBufferCoord, QString>;

class TCustomCodeEditor;

// An observer that sees every command before and after it is executed and
// may cancel it (handled) or change it.
class TCommandHook {
public:
    virtual ~TCommandHook() = default;
    virtual void HookedCommand(TCustomCodeEditor& sender, bool afterProcessing, bool& handled, TEditorCommand& command,
        QChar& aChar, const TCommandData& data, void* handlerData) = 0;
};

class TCustomCodeEditor : public TEditorCore, private TUndoCaretHost {
public:
    using TProcessCommandEvent =
        std::function<void(TCustomCodeEditor& sender, TEditorCommand& command, QChar& aChar, const TCommandData& data)>;
    using TContextHelpEvent = std::function<void(TCustomCodeEditor& sender, const QString& word)>;
    using TKeyPressEvent = std::function<void(QChar& ch)>;
    using TKeyDownEvent = std::function<void(quint16& key, TShiftState shift)>;
    using TNotify = std::function<void(TCustomCodeEditor& sender)>;

    // The view is not owned; without one a headless view of the editor's own
    // is used (20 rows of 80 columns, private clipboard).
    explicit TCustomCodeEditor(TLineBuffer* sharedLines = nullptr);
    ~TCustomCodeEditor() override;

    TEditorView& View() const { return *FView; }
    void SetView(TEditorView* view);
    // The view calls this when its CharsInWindow may have changed (resize,
    // font): word-wrapped rows are laid out at the new width.
    void ViewResized();

    // --- caret and selection (1-based buffer coordinates)
    TBufferCoord CaretXY() const { return FCaret; }
    int CaretX() const { return FCaret.Char; }
    int CaretY() const { return FCaret.Line; }
    // Clamped into the text and onto a character boundary; collapses the
    // selection.
    void SetCaretXY(TBufferCoord value);
    TBufferCoord BlockBegin() const; // the earlier end of the selection
    TBufferCoord BlockEnd() const;   // the later end
    TBufferCoord SelectionAnchor() const { return FBlockBegin; }
    TBufferCoord SelectionEnd() const { return FBlockEnd; }
    // Sets anchor and end (clamped like the caret); the caret goes to end.
    void SetSelection(TBufferCoord anchor, TBufferCoord end);
    bool SelAvail() const;
    QString SelText() const;
    // Replaces the selection (or inserts at the caret) as one undo step.
    void SetSelText(const QString& value);
    TSelectionMode SelectionMode() const { return FSelectionMode; }
    void SetSelectionMode(TSelectionMode value);
    TDisplayCoord DisplayXY() const { return BufferToDisplayPos(FCaret); }
    // With word wrap the rows are wrapped rows and the column counts from
    // the row's start (see TWrapRows::ToDisplay and ToBuffer).
    TDisplayCoord BufferToDisplayPos(TBufferCoord p) const;
    TBufferCoord DisplayToBufferPos(TDisplayCoord p) const;
    QString LineText() const { return LineAt(FCaret.Line); }
    // Text and length of a 1-based line ("" and 0 outside the text), and the
    // position just after its last character.
    const QString& LineAt(int line) const { return Lines().GetRef(LineIndex(line)); }
    int LineLength(int line) const { return Lines().LineCharLength(LineIndex(line)); }
    TBufferCoord LineEndOf(int line) const { return {CharOfIndex(LineLength(line)), line}; }
    int LineCount() const { return Lines().Count(); }
    // Replaces the text of a 1-based line (recorded for undo like any change).
    void PutLine(int line, const QString& text) { Lines().Put(LineIndex(line), text); }
    QString WordAtCursor() const;

    // --- scroll position of the view (1-based row and display column)
    int TopLine() const { return FTopLine; }
    void SetTopLine(int row);
    int LeftChar() const { return FLeftChar; }
    void SetLeftChar(int column);
    int DisplayRowCount() const;
    void EnsureCursorPosVisible();

    // --- modes and options
    bool InsertMode() const { return FInserting; }
    void SetInsertMode(bool value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    bool WantTabs() const { return FWantTabs; }
    void SetWantTabs(bool value) { FWantTabs = value; }
    bool WantReturns() const { return FWantReturns; }
    void SetWantReturns(bool value) { FWantReturns = value; }
    TEditorOptions Options() const { return FOptions; }
    void SetOptions(TEditorOptions value);
    bool HasOption(TEditorOption option) const { return (FOptions & option) != 0; }
    bool BookmarksEnabled() const { return FBookmarksEnabled; }
    void SetBookmarksEnabled(bool value) { FBookmarksEnabled = value; }
    std::optional<TBufferCoord> Bookmark(int number) const;
    void SetBookmark(int number, TBufferCoord pos);
    void ClearBookmark(int number);

    // --- undo
    void Undo();
    void Redo();
    bool CanUndo() const { return !FReadOnly && FUndo.CanUndo(); }
    bool CanRedo() const { return !FReadOnly && FUndo.CanRedo(); }
    // Edits open a TEditTransaction; these two remain for callers that pair
    // the undo block by hand.
    void BeginUndoBlock() { FUndo.BeginBlock(); }
    void EndUndoBlock() { FUndo.EndBlock(); }
    void LockUndo() { FUndo.Lock(); }
    void UnlockUndo() { FUndo.Unlock(); }
    void ClearUndo();
    int MaxUndo() const { return FUndo.MaxUndo(); }
    void SetMaxUndo(int value) { FUndo.SetMaxUndo(value); }
    bool Modified() const { return FUndo.Modified(); }
    void SetModified(bool value);
    void MarkSaved();
    void ClearTrackChanges();
    const TEditorUndo& UndoManager() const { return FUndo; }
    // Chained: a handler set later runs after the earlier ones.
    void AddModifiedChangedHandler(TNotify handler);

    // --- commands
    void CommandProcessor(TEditorCommand command, QChar aChar = QChar(), const TCommandData& data = {});
    void ExecuteCommand(TEditorCommand command, QChar aChar = QChar(), const TCommandData& data = {});
    void RegisterCommandHandler(TCommandHook* handler, void* handlerData = nullptr);
    void UnregisterCommandHandler(TCommandHook* handler);

    // --- keyboard
    TKeyTranslator& Keys() { return FKeys; }
    TEditorKeyStrokes& Keystrokes() { return FKeys.Keystrokes(); }
    void SetKeystrokes(const TEditorKeyStrokes& value) { FKeys.SetKeystrokes(value); }
    TEditorKbdHandler& KbdHandler() { return FKeys.KbdHandler(); }
    using THandlerId = TEditorKbdHandler::THandlerId;
    THandlerId AddKeyDownHandler(TEditorKbdHandler::TKeyHandler h) { return KbdHandler().AddKeyDownHandler(std::move(h)); }
    void RemoveKeyDownHandler(THandlerId id) { KbdHandler().RemoveKeyDownHandler(id); }
    THandlerId AddKeyUpHandler(TEditorKbdHandler::TKeyHandler h) { return KbdHandler().AddKeyUpHandler(std::move(h)); }
    void RemoveKeyUpHandler(THandlerId id) { KbdHandler().RemoveKeyUpHandler(id); }
    THandlerId AddKeyPressHandler(TEditorKbdHandler::TKeyPressHandler h)
    {
        return KbdHandler().AddKeyPressHandler(std::move(h));
    }
    void RemoveKeyPressHandler(THandlerId id) { KbdHandler().RemoveKeyPressHandler(id); }
    THandlerId AddMouseDownHandler(TEditorKbdHandler::TMouseHandler h)
    {
        return KbdHandler().AddMouseDownHandler(std::move(h));
    }
    void RemoveMouseDownHandler(THandlerId id) { KbdHandler().RemoveMouseDownHandler(id); }
    THandlerId AddMouseUpHandler(TEditorKbdHandler::TMouseHandler h) { return KbdHandler().AddMouseUpHandler(std::move(h)); }
    void RemoveMouseUpHandler(THandlerId id) { KbdHandler().RemoveMouseUpHandler(id); }
    THandlerId AddMouseCursorHandler(TEditorKbdHandler::TMouseCursorHandler h)
    {
        return KbdHandler().AddMouseCursorHandler(std::move(h));
    }
    void RemoveMouseCursorHandler(THandlerId id) { KbdHandler().RemoveMouseCursorHandler(id); }
    void KeyUp(quint16 key, TShiftState shift) { FKeys.KeyUp(key, shift); }
    // Returns true when the key was used (the control then drops it).
    bool KeyDown(quint16 key, TShiftState shift);
    void KeyPress(QChar ch);

    TProcessCommandEvent OnProcessCommand;
    TProcessCommandEvent OnProcessUserCommand;
    TProcessCommandEvent OnCommandProcessed;
    TContextHelpEvent OnContextHelp;
    TKeyPressEvent OnKeyPress;
    TKeyDownEvent OnKeyDown;
    std::function<void(TCustomCodeEditor& sender, TStatusChanges changes)> OnStatusChange;

    // --- internals shared with the command handlers (not for views)
    struct Internals;
    friend struct Internals;

protected:
    void FoldCollapsed(const TFoldRange& range) override;
    void RowsChanging() override;
    void RowsChanged() override;

private:
    friend class TEditTransaction;
    class TCaretKeeper;
    class TPaintLock;
    TCaretAndSelection GetCaretAndSelection() const override;
    void SetCaretAndSelection(const TCaretAndSelection& value) override;
    void SetUndoCaret(TBufferCoord caret) override;

    TBufferCoord ClampCoord(TBufferCoord p, bool allowPastEol) const;
    bool CaretPastEolAllowed() const;
    void StatusChanged(TStatusChanges changes);
    void FlushStatus();
    // Status reports wait while the lock is held and go out once, at its end.
    void LockPaint() { ++FPaintLock; }
    void UnlockPaint();
    void LinesInvalidated(int first, int last) override;
    void ModifiedChanged();

    THeadlessView FOwnView;
    TEditorView* FView;
    TEditorUndo FUndo;
    TKeyTranslator FKeys;
    std::unique_ptr<TCaretKeeper> FCaretKeeper;
    TPluginSubscription FCaretKeeperSubscription;

    TBufferCoord FCaret;
    TBufferCoord FBlockBegin;
    TBufferCoord FBlockEnd;
    int FLastCaretColumn = 1; // display column kept by Up and Down
    // With eoTrimTrailingSpaces: the line the caret is on, edited since it came there.
    int FTrimLine = 0;
    struct TTrimStart {
        int Line;  // the caret's line when the command began
        int Count; // lines then
    };
    void TrimAbandonedLine();
    void TrimAfterCommand(TTrimStart start, bool changedText);
    void TrimLine(int line);
    TSelectionMode FSelectionMode = smNormal;
    int FTopLine = 1;
    int FLeftChar = 1;
    TBufferCoord FTopAnchor; // the top row's text while the rows are laid out anew
    bool FInserting = true;
    bool FReadOnly = false;
    bool FWantTabs = false;
    bool FWantReturns = true;
    bool FBookmarksEnabled = true;
    TEditorOptions FOptions = kDefaultEditorOptions;
    std::array<std::optional<TBufferCoord>, 10> FBookmarks;
    struct THookEntry {
        TCommandHook* Handler;
        void* Data;
    };
    std::vector<THookEntry> FHookedCommandHandlers;
    int FPaintLock = 0;
    TStatusChanges FPendingStatus = 0;
    std::vector<TNotify> FModifiedChangedHandlers;
};

class TCodeEditor final : public TCustomCodeEditor {
public:
    using TCustomCodeEditor::TCustomCodeEditor;
};

} // namespace editor
