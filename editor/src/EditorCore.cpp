#include "editor/EditorCore.h"

#include <algorithm>

namespace editor {

namespace {

bool IsBlank(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 32)
            return false;
    return true;
}

} // namespace

TEditorCore::TEditorCore(TLineBuffer* sharedLines) : FSelf(std::make_shared<TEditorCore*>(this))
{
    if (sharedLines) {
        FLines = sharedLines;
    } else {
        FOwnedLines = std::make_unique<TLineBuffer>();
        FLines = FOwnedLines.get();
        std::weak_ptr<TEditorCore*> self = FSelf;
        FLines->TextWidthFunc = [self](const QString& line) {
            auto p = self.lock();
            return (p && *p) ? (*p)->ColumnWidth(line) : int(line.size());
        };
    }
    AttachToLines();
}

TEditorCore::~TEditorCore()
{
    *FSelf = nullptr;
}

int TEditorCore::ColumnWidth(const QString& line) const
{
    // Columns with tabs expanded to the next tab stop.
    const int tab = std::max(1, FLines->TabWidth());
    int columns = 0;
    for (QChar c : line)
        columns = (c == u'\t') ? (columns / tab + 1) * tab : columns + 1;
    return columns;
}

void TEditorCore::AttachToLines()
{
    std::weak_ptr<TEditorCore*> self = FSelf;
    auto call = [self](auto&& fn) {
        if (auto p = self.lock(); p && *p)
            fn(**p);
    };
    ChainEvent(FLines->OnInserted, [call](TLineBuffer*, int index, int count) {
        call([&](TEditorCore& e) { e.LinesInserted(index, count); });
    });
    ChainEvent(FLines->OnBeforeDeleted, [call](TLineBuffer*, int index, int count) {
        call([&](TEditorCore& e) { e.LinesBeforeDeleted(index, count); });
    });
    ChainEvent(FLines->OnDeleted, [call](TLineBuffer*, int index, int count) {
        call([&](TEditorCore& e) { e.LinesDeleted(index, count); });
    });
    ChainEvent(FLines->OnPut, [call](TLineBuffer*, int index, const QString& oldLine) {
        call([&](TEditorCore& e) { e.LinePut(index, oldLine); });
    });
    ChainEvent(FLines->OnCleared, [call](TLineBuffer*) { call([&](TEditorCore& e) { e.LinesCleared(); }); });
    ChainEvent(FLines->OnChange, [call](TLineBuffer*) { call([&](TEditorCore& e) { e.LinesChanged(); }); });
}

void TEditorCore::SetHighlighter(TCustomHighlighter* value)
{
    if (value == FHighlighter)
        return;
    FHighlighter = value;
    FAllFoldRanges.Reset();
    if (FHighlighter)
        RescanAllRanges();
    if (CodeFoldingActive())
        FullFoldScan();
    Invalidate(0, -1);
}

void TEditorCore::SetTabWidth(int value)
{
    if (value < 1 || value == FLines->TabWidth())
        return;
    FLines->SetTabWidth(value);
    // Fold indentation counts tabs by the tab width; collapsed blocks stay
    // collapsed where they still start at the same line.
    if (CodeFoldingActive())
        ReScanForFoldRanges(0, FLines->Count() - 1);
    Invalidate(0, -1);
}

bool TEditorCore::CodeFoldingActive() const
{
    return FUseCodeFolding && (dynamic_cast<TCustomFoldingHighlighter*>(FHighlighter) || OnScanForFoldRanges);
}

void TEditorCore::SetUseCodeFolding(bool value)
{
    if (value == FUseCodeFolding)
        return;
    FAllFoldRanges.Reset();
    FFoldRebuildPending = false;
    FUseCodeFolding = value;
    if (value) {
        FWordWrap = false;
        if (CodeFoldingActive())
            FullFoldScan();
    }
    if (OnFoldsChanged)
        OnFoldsChanged(this);
    Invalidate(0, -1);
}

void TEditorCore::FullFoldScan()
{
    FAllFoldRanges.Reset();
    if (auto* folding = dynamic_cast<TCustomFoldingHighlighter*>(FHighlighter))
        folding->InitFoldRanges(FAllFoldRanges);
    ReScanForFoldRanges(0, FLines->Count() - 1);
}

void TEditorCore::ReScanForFoldRanges(int fromLine, int toLine)
{
    if (!CodeFoldingActive())
        return;
    FAllFoldRanges.StartScanning();
    const int last = std::max(fromLine, std::min(toLine, FLines->Count() - 1));
    // A line past the end of the text (after deleting the last lines) is
    // not scanned: it would leave a marker no full scan produces.
    if (fromLine < FLines->Count()) {
        if (OnScanForFoldRanges)
            OnScanForFoldRanges(this, FAllFoldRanges, *FLines, fromLine, last);
        else if (auto* folding = dynamic_cast<TCustomFoldingHighlighter*>(FHighlighter))
            folding->ScanForFoldRanges(FAllFoldRanges, *FLines, fromLine, last);
    }
    if (FLines->UpdateCount() > 0)
        FFoldRebuildPending = true; // waits for the end of the batch
    else
        FinishFoldScan();
}

void TEditorCore::FinishFoldScan()
{
    FFoldRebuildPending = false;
    if (!FAllFoldRanges.StopScanning(*FLines))
        return;
    if (auto* folding = dynamic_cast<TCustomFoldingHighlighter*>(FHighlighter))
        folding->AdjustFoldRanges(FAllFoldRanges, *FLines);
    if (OnFoldsChanged)
        OnFoldsChanged(this);
}

void TEditorCore::Collapse(int foldRangeIndex)
{
    FAllFoldRanges.Collapse(foldRangeIndex);
    Invalidate(FAllFoldRanges.Get(foldRangeIndex).FromLine - 1, -1);
}

void TEditorCore::Uncollapse(int foldRangeIndex)
{
    FAllFoldRanges.Uncollapse(foldRangeIndex);
    Invalidate(FAllFoldRanges.Get(foldRangeIndex).FromLine - 1, -1);
}

int TEditorCore::RescanRanges(int index)
{
    const int count = FLines->Count();
    if (!FHighlighter || index >= count)
        return index;
    if (index < 0)
        index = 0;
    if (index == 0)
        FHighlighter->ResetRange();
    else
        FHighlighter->SetRange(FLines->GetRange(index - 1));
    for (;;) {
        FHighlighter->SetLine(FLines->GetRef(index), index);
        FHighlighter->NextToEol();
        const std::intptr_t range = FHighlighter->GetRange();
        if (range == FLines->GetRange(index))
            return index;
        FLines->PutRange(index, range);
        if (++index >= count)
            return count - 1;
    }
}

void TEditorCore::RescanAllRanges()
{
    if (!FHighlighter)
        return;
    FHighlighter->ResetRange();
    const int count = FLines->Count();
    for (int i = 0; i < count; ++i) {
        FHighlighter->SetLine(FLines->GetRef(i), i);
        FHighlighter->NextToEol();
        FLines->PutRange(i, FHighlighter->GetRange());
    }
}

void TEditorCore::AddPlugin(TEditorPlugin* plugin)
{
    if (plugin && std::find(FPlugins.begin(), FPlugins.end(), plugin) == FPlugins.end())
        FPlugins.push_back(plugin);
}

void TEditorCore::RemovePlugin(TEditorPlugin* plugin)
{
    FPlugins.erase(std::remove(FPlugins.begin(), FPlugins.end(), plugin), FPlugins.end());
}

void TEditorCore::Invalidate(int firstLine, int lastLine)
{
    if (OnLinesInvalidated)
        OnLinesInvalidated(this, firstLine, lastLine);
}

void TEditorCore::LinesInserted(int index, int count)
{
    int lastScanned = index + count - 1;
    if (FHighlighter && FLines->Count() > 0) {
        int i = index;
        do {
            i = RescanRanges(i) + 1;
        } while (i < index + count);
        lastScanned = i - 1;
    }
    if (CodeFoldingActive()) {
        int foldIndex;
        if (FAllFoldRanges.CollapsedFoldStartAtLine(index, &foldIndex))
            FAllFoldRanges.Uncollapse(foldIndex);
        FAllFoldRanges.LinesInserted(index, count);
        // Blocks left open run to the last line, so appending moves their
        // end; a non-blank line without a marker (inside a string) can stop
        // the trimming of blank lines at a block's end. Both need a rebuild
        // that the marker comparison alone would not ask for.
        bool rebuild = index + count == FLines->Count();
        for (int i = index; !rebuild && i < index + count; ++i)
            rebuild = !IsBlank(FLines->GetRef(i));
        if (rebuild)
            FAllFoldRanges.RequestRebuild();
        ReScanForFoldRanges(index, lastScanned);
    }
    for (TEditorPlugin* plugin : FPlugins)
        plugin->LinesInserted(index, count);
    Invalidate(index, -1);
}

void TEditorCore::LinesBeforeDeleted(int index, int count)
{
    for (TEditorPlugin* plugin : FPlugins)
        plugin->LinesBeforeDeleted(index, count);
}

void TEditorCore::LinesDeleted(int index, int count)
{
    int lastScanned = index;
    if (FHighlighter && FLines->Count() > 0)
        lastScanned = RescanRanges(index);
    if (CodeFoldingActive()) {
        FAllFoldRanges.LinesDeleted(index, count);
        ReScanForFoldRanges(index, lastScanned);
    }
    for (TEditorPlugin* plugin : FPlugins)
        plugin->LinesDeleted(index, count);
    Invalidate(index, -1);
}

void TEditorCore::LinePut(int index, const QString& oldLine)
{
    int lastScanned = index;
    if (FHighlighter)
        lastScanned = RescanRanges(index);
    if (CodeFoldingActive()) {
        int foldIndex;
        if (FAllFoldRanges.CollapsedFoldStartAtLine(index + 1, &foldIndex))
            FAllFoldRanges.Uncollapse(foldIndex);
        FAllFoldRanges.LinePut(index, oldLine);
        // Whether a line is blank decides where a block's end is trimmed.
        if (IsBlank(oldLine) != IsBlank(FLines->GetRef(index)))
            FAllFoldRanges.RequestRebuild();
        ReScanForFoldRanges(index, lastScanned);
    }
    for (TEditorPlugin* plugin : FPlugins)
        plugin->LinePut(index, oldLine);
    Invalidate(index, lastScanned);
}

void TEditorCore::LinesCleared()
{
    FAllFoldRanges.Reset();
    FFoldRebuildPending = false;
    if (OnCleared)
        OnCleared(this);
    Invalidate(0, -1);
}

void TEditorCore::LinesChanged()
{
    if (FFoldRebuildPending && CodeFoldingActive())
        FinishFoldScan();
}

} // namespace editor
