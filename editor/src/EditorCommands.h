#pragma once
// The command executor's handler table and the editor internals its
// handlers share. Private to the editor library.
#include "editor/CodeEditor.h"
#include "editor/EditTransaction.h"
#include "editor/TextColumns.h"

#include <span>

namespace editor {

struct TCommandContext {
    TCustomCodeEditor& E;
    TEditorCommand Command;
    QChar Char;
    const TCommandData& Data;
};

using TCommandHandler = void (*)(TCommandContext& c);

enum TCommandFlag : unsigned {
    cfNone = 0,
    cfChangesText = 1, // does nothing on a read-only editor
    cfCaretMove = 2,   // ends the typing group of undo
    // Text commands are one undo block each, so undoing one restores caret
    // and selection exactly. Typing commands are not while no selection is
    // set, so their single-character changes group into a typing run.
    cfTyping = 4,
    cfReplay = 8, // undo and redo: never inside a block

};

struct TCommandEntry {
    TEditorCommand Command;
    TCommandHandler Handler;
    unsigned Flags;
};

// The families, each in a source file of its own.
std::span<const TCommandEntry> CaretCommands();
std::span<const TCommandEntry> EditCommands();
std::span<const TCommandEntry> BlockCommands();
std::span<const TCommandEntry> MiscCommands();

// The entry of a command below ecUserFirst, or null.
const TCommandEntry* FindCommandEntry(TEditorCommand command);

// What the handlers need beyond the public interface.
struct TCustomCodeEditor::Internals {
    static TEditorUndo& Undo(TCustomCodeEditor& e) { return e.FUndo; }
    static int& LastCaretColumn(TCustomCodeEditor& e) { return e.FLastCaretColumn; }
    static void SetBookmarkRaw(TCustomCodeEditor& e, int n, std::optional<TBufferCoord> p) { e.FBookmarks[std::size_t(n)] = p; }
    static bool CaretPastEolAllowed(const TCustomCodeEditor& e) { return e.CaretPastEolAllowed(); }
    static TBufferCoord Clamp(const TCustomCodeEditor& e, TBufferCoord p) { return e.ClampCoord(p, e.CaretPastEolAllowed()); }
    // Moves the caret; with select the selection runs from its anchor (the
    // old caret when there was none) to the new caret, else it collapses.
    static void MoveCaret(TCustomCodeEditor& e, TBufferCoord to, bool select, bool keepColumn = false);
    // Caret and selection as they are, clamped; no undo, no collapse.
    static void Place(TCustomCodeEditor& e, TBufferCoord caret, TBufferCoord anchor, TBufferCoord end);
    static void DeleteSelection(TCustomCodeEditor& e);
    static void StatusChanged(TCustomCodeEditor& e, TStatusChanges changes) { e.StatusChanged(changes); }
};
using Ed = TCustomCodeEditor::Internals;

// Word rules of the attached highlighter, or the default rules without one.
bool IsIdentChar(const TCustomCodeEditor& e, QChar c);
bool IsWordBreakChar(const TCustomCodeEditor& e, QChar c);
bool IsWhiteChar(const TCustomCodeEditor& e, QChar c);

// The 1-based range of lines a line command works on: the selection's lines
// without a last line that the selection only touches at column 1, or the
// caret's line. empty() when nothing is touched.
struct TLineSpan {
    int First;
    int Last;
    bool empty() const { return Last < First; }
};
TLineSpan SelectedLines(const TCustomCodeEditor& e);

} // namespace editor
