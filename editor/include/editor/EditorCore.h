#pragma once
// The non-visual side of the script editor: owns (or shares) the line
// buffer, drives the highlighter's range rescan and the fold model from the
// buffer's events, and edits text at (line, character) positions. Caret,
// selection, commands and undo build on this class.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

#include "editor/BufferCoord.h"
#include "editor/CodeFolding.h"
#include "editor/Highlighter.h"
#include "editor/LineBuffer.h"
#include "editor/WrapRows.h"

namespace editor {

// A listener on the buffer's structural changes (the undo recorder is one).
// Indexes are 0-based; counts are the lines really inserted or removed.
class TEditorPlugin {
public:
    virtual ~TEditorPlugin() = default;
    virtual void LinesInserted(int /*index*/, int /*count*/) {}
    virtual void LinesBeforeDeleted(int /*index*/, int /*count*/) {}
    virtual void LinesDeleted(int /*index*/, int /*count*/) {}
    virtual void LinePut(int /*index*/, const QString& /*oldLine*/) {}
    // The whole text was removed (after the deletion was reported).
    virtual void LinesCleared() {}
    // A batch of changes begins / has ended (outermost begin and end only).
    virtual void BatchBegin() {}
    virtual void BatchEnd() {}
};

class TEditorCore;

// Keeps a plug-in subscribed while it lives; safe to outlive the editor.
class TPluginSubscription {
public:
    TPluginSubscription() = default;
    TPluginSubscription(TPluginSubscription&& other) noexcept;
    TPluginSubscription& operator=(TPluginSubscription&& other) noexcept;
    TPluginSubscription(const TPluginSubscription&) = delete;
    TPluginSubscription& operator=(const TPluginSubscription&) = delete;
    ~TPluginSubscription();
    void Reset();

private:
    friend class TEditorCore;
    TPluginSubscription(std::weak_ptr<TEditorCore*> core, TEditorPlugin* plugin);
    std::weak_ptr<TEditorCore*> FCore;
    TEditorPlugin* FPlugin = nullptr;
};

class TEditorCore {
public:
    using TScanForFoldRangesEvent =
        std::function<void(TEditorCore* sender, TFoldRanges& foldRanges, const TLineBuffer& lines, int fromLine, int toLine)>;
    using TLinesInvalidatedEvent = std::function<void(TEditorCore* sender, int firstLine, int lastLine)>;
    using TNotifyEvent = std::function<void(TEditorCore* sender)>;

    // With a buffer given, the editor shares it (chaining onto its events)
    // and the buffer must outlive the editor's use of it; otherwise the
    // editor owns a buffer of its own.
    explicit TEditorCore(TLineBuffer* sharedLines = nullptr);
    virtual ~TEditorCore();
    TEditorCore(const TEditorCore&) = delete;
    TEditorCore& operator=(const TEditorCore&) = delete;

    TLineBuffer& Lines() { return *FLines; }
    const TLineBuffer& Lines() const { return *FLines; }
    bool SharesLines() const { return !FOwnedLines; }

    QString Text() const { return FLines->GetText(); }
    void SetText(const QString& text) { FLines->SetText(text); }

    // Text edits at 1-based positions. A position past the end of its line
    // is reached by padding the line with blanks; a line past the end of the
    // text is clamped to the last line (an empty buffer gets its first line).
    // CR LF, CR, LF, U+2028 and U+2029 in the text all become line breaks.
    // Returns the position just after the inserted text.
    TBufferCoord InsertTextAt(TBufferCoord pos, QStringView text);
    // Removes the text between two positions (in either order).
    void DeleteTextRange(TBufferCoord from, TBufferCoord to);
    // Replaces the text between two positions; returns the end of the new text.
    TBufferCoord ReplaceTextRange(TBufferCoord from, TBufferCoord to, QStringView text);
    // The text between two positions, lines joined by CR LF.
    QString TextRange(TBufferCoord from, TBufferCoord to) const;
    static QStringList SplitTextLines(QStringView text);

    TCustomHighlighter* Highlighter() const { return FHighlighter; }
    // The highlighter is not owned; it must outlive its use here.
    void SetHighlighter(TCustomHighlighter* value);
    // Attaches a highlighter whose ranges the caller has already put on
    // every line (a view that scans a large text in the background).
    void SetHighlighterScanned(TCustomHighlighter* value);

    int TabWidth() const { return FLines->TabWidth(); }
    void SetTabWidth(int value);
    bool WordWrap() const { return FWordWrap; }
    // Turning word wrap on turns code folding off.
    void SetWordWrap(bool value);
    // Cells in a wrapped row (the view's columns); below 1, unknown.
    int WrapWidth() const { return FWrapWidth; }
    void SetWrapWidth(int cells);
    // The rows while word wrap is on and the width known, else null: the
    // display rows are then these, not lines.
    const TWrapRows* WrapRows() const { return FWrap.get(); }

    bool UseCodeFolding() const { return FUseCodeFolding; }
    void SetUseCodeFolding(bool value);
    bool CodeFoldingActive() const;
    TFoldRanges& AllFoldRanges() { return FAllFoldRanges; }
    const TFoldRanges& AllFoldRanges() const { return FAllFoldRanges; }
    // Rescans the markers of lines fromLine..toLine (0-based) and rebuilds
    // the ranges unless a batch of changes is in progress.
    void ReScanForFoldRanges(int fromLine, int toLine);
    void FullFoldScan();
    void Collapse(int foldRangeIndex);
    void Uncollapse(int foldRangeIndex);
    // Opens every fold that hides a line (1-based), so it can be seen.
    void RevealLine(int line);

    // Returns the last line rescanned.
    int RescanRanges(int index);
    void RescanAllRanges();

    void AddPlugin(TEditorPlugin* plugin);
    void RemovePlugin(TEditorPlugin* plugin);
    [[nodiscard]] TPluginSubscription Subscribe(TEditorPlugin* plugin);

    TScanForFoldRangesEvent OnScanForFoldRanges;
    // Lines whose display is out of date (0-based; lastLine -1: to the end
    // of the text), reported once per batch of buffer changes.
    TLinesInvalidatedEvent OnLinesInvalidated;
    TNotifyEvent OnFoldsChanged;
    TNotifyEvent OnCleared;

protected:
    // Called after a range was collapsed (the caret leaves hidden lines).
    virtual void FoldCollapsed(const TFoldRange& /*range*/) {}
    // Called with every coalesced invalidation, before OnLinesInvalidated.
    virtual void LinesInvalidated(int /*firstLine*/, int /*lastLine*/) {}
    void Invalidate(int firstLine, int lastLine);
    // Called before and after every row is laid out anew (word wrap turned
    // on or off, a new width or tab width), not for edits.
    virtual void RowsChanging() {}
    virtual void RowsChanged() {}

private:
    void AttachToLines();
    void LinesInserted(int index, int count);
    void LinesBeforeDeleted(int index, int count);
    void LinesDeleted(int index, int count);
    void LinePut(int index, const QString& oldLine);
    void LinesCleared();
    void LinesChanging();
    void LinesChanged();
    void FinishFoldScan();
    void FlushInvalidation();
    void UpdateWrap();
    int ColumnWidth(const QString& line) const;
    template <typename F>
    void ForEachPlugin(F&& f);

    std::unique_ptr<TLineBuffer> FOwnedLines;
    TLineBuffer* FLines;
    // Handlers chained onto a shared buffer check this before touching the
    // editor, so a destroyed editor is skipped.
    std::shared_ptr<TEditorCore*> FSelf;
    TCustomHighlighter* FHighlighter = nullptr;
    TFoldRanges FAllFoldRanges;
    bool FUseCodeFolding = false;
    bool FWordWrap = false;
    int FWrapWidth = 0;
    std::unique_ptr<TWrapRows> FWrap;
    bool FFoldRebuildPending = false;
    std::vector<TEditorPlugin*> FPlugins;
    int FDispatching = 0;
    bool FPluginsRemoved = false;
    bool FInBatch = false;
    // Coalesced invalidation of the running batch (first > last: none).
    int FInvalidFirst = 0;
    int FInvalidLast = -2;
};

} // namespace editor
