#pragma once
// The non-visual side of the script editor: owns (or shares) the line
// buffer, drives the highlighter's range rescan and the fold model from the
// buffer's events. Caret, selection, commands and undo build on this class.
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "editor/CodeFolding.h"
#include "editor/Highlighter.h"
#include "editor/LineBuffer.h"

namespace editor {

// A listener on the buffer's structural changes (the undo recorder is one).
class TEditorPlugin {
public:
    virtual ~TEditorPlugin() = default;
    virtual void LinesInserted(int /*index*/, int /*count*/) {}
    virtual void LinesBeforeDeleted(int /*index*/, int /*count*/) {}
    virtual void LinesDeleted(int /*index*/, int /*count*/) {}
    virtual void LinePut(int /*index*/, const QString& /*oldLine*/) {}
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
    ~TEditorCore();
    TEditorCore(const TEditorCore&) = delete;
    TEditorCore& operator=(const TEditorCore&) = delete;

    TLineBuffer& Lines() { return *FLines; }
    const TLineBuffer& Lines() const { return *FLines; }

    QString Text() const { return FLines->GetText(); }
    void SetText(const QString& text) { FLines->SetText(text); }

    TCustomHighlighter* Highlighter() const { return FHighlighter; }
    // The highlighter is not owned; it must outlive its use here.
    void SetHighlighter(TCustomHighlighter* value);

    int TabWidth() const { return FLines->TabWidth(); }
    void SetTabWidth(int value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value) { FWordWrap = value; }

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

    // Returns the last line rescanned.
    int RescanRanges(int index);
    void RescanAllRanges();

    void AddPlugin(TEditorPlugin* plugin);
    void RemovePlugin(TEditorPlugin* plugin);

    TScanForFoldRangesEvent OnScanForFoldRanges;
    // Lines whose display is out of date (lastLine -1: to the end of the text).
    TLinesInvalidatedEvent OnLinesInvalidated;
    TNotifyEvent OnFoldsChanged;
    TNotifyEvent OnCleared;

private:
    void AttachToLines();
    void LinesInserted(int index, int count);
    void LinesBeforeDeleted(int index, int count);
    void LinesDeleted(int index, int count);
    void LinePut(int index, const QString& oldLine);
    void LinesCleared();
    void LinesChanged();
    void FinishFoldScan();
    void Invalidate(int firstLine, int lastLine);
    int ColumnWidth(const QString& line) const;

    std::unique_ptr<TLineBuffer> FOwnedLines;
    TLineBuffer* FLines;
    // Handlers chained onto a shared buffer check this before touching the
    // editor, so a destroyed editor is skipped.
    std::shared_ptr<TEditorCore*> FSelf;
    TCustomHighlighter* FHighlighter = nullptr;
    TFoldRanges FAllFoldRanges;
    bool FUseCodeFolding = false;
    bool FWordWrap = false;
    bool FFoldRebuildPending = false;
    std::vector<TEditorPlugin*> FPlugins;
};

} // namespace editor
