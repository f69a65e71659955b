#include "editor/EditorCore.h"
#include "editor/TextColumns.h"

#include "editor/FoldingHighlighter.h"
#include "platform/TextLines.h"
#include "platform/ScopeExit.h"

#include <algorithm>
#include <climits>

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
    // Cells as the view draws them: tabs to the next stop, wide characters
    // two, combining marks none.
    return text::DisplayColumn(line, int(line.size()), FLines->TabWidth());
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
    ChainEvent(FLines->OnChanging, [call](TLineBuffer*) { call([&](TEditorCore& e) { e.LinesChanging(); }); });
    ChainEvent(FLines->OnChange, [call](TLineBuffer*) { call([&](TEditorCore& e) { e.LinesChanged(); }); });
}

void TEditorCore::SetHighlighterScanned(TCustomHighlighter* value)
{
    if (value == FHighlighter)
        return;
    FHighlighter = value;
    FAllFoldRanges.Reset();
    if (CodeFoldingActive())
        FullFoldScan();
    Invalidate(0, -1);
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
    if (FWrap) {
        RowsChanging();
        FWrap->SetTabWidth(value);
        RowsChanged();
    }
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
    if (value)
        SetWordWrap(false);
    FAllFoldRanges.Reset();
    FFoldRebuildPending = false;
    FUseCodeFolding = value;
    if (value && CodeFoldingActive())
        FullFoldScan();
    if (OnFoldsChanged)
        OnFoldsChanged(this);
    Invalidate(0, -1);
}

void TEditorCore::SetWordWrap(bool value)
{
    if (value == FWordWrap)
        return;
    if (value)
        SetUseCodeFolding(false);
    FWordWrap = value;
    UpdateWrap();
}

void TEditorCore::SetWrapWidth(int cells)
{
    if (cells == FWrapWidth)
        return;
    FWrapWidth = cells;
    UpdateWrap();
}

void TEditorCore::UpdateWrap()
{
    const bool on = FWordWrap && FWrapWidth >= 1;
    if (!on && !FWrap)
        return;
    RowsChanging();
    if (!on)
        FWrap.reset();
    else if (FWrap)
        FWrap->SetWidth(FWrapWidth);
    else
        FWrap = std::make_unique<TWrapRows>(*FLines, FWrapWidth, FLines->TabWidth());
    RowsChanged();
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
    FoldCollapsed(FAllFoldRanges.Get(foldRangeIndex));
    Invalidate(LineIndex(FAllFoldRanges.Get(foldRangeIndex).FromLine), -1);
}

void TEditorCore::Uncollapse(int foldRangeIndex)
{
    FAllFoldRanges.Uncollapse(foldRangeIndex);
    Invalidate(LineIndex(FAllFoldRanges.Get(foldRangeIndex).FromLine), -1);
}

void TEditorCore::RevealLine(int line)
{
    if (!CodeFoldingActive())
        return;
    int index;
    while (FAllFoldRanges.FoldHidesLine(line, &index))
        Uncollapse(index);
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

TPluginSubscription::TPluginSubscription(std::weak_ptr<TEditorCore*> core, TEditorPlugin* plugin)
    : FCore(std::move(core)), FPlugin(plugin)
{
}

TPluginSubscription::TPluginSubscription(TPluginSubscription&& other) noexcept
    : FCore(std::move(other.FCore)), FPlugin(other.FPlugin)
{
    other.FPlugin = nullptr;
}

TPluginSubscription& TPluginSubscription::operator=(TPluginSubscription&& other) noexcept
{
    if (this != &other) {
        Reset();
        FCore = std::move(other.FCore);
        FPlugin = other.FPlugin;
        other.FPlugin = nullptr;
    }
    return *this;
}

TPluginSubscription::~TPluginSubscription() { Reset(); }

void TPluginSubscription::Reset()
{
    if (FPlugin)
        if (auto core = FCore.lock(); core && *core)
            (*core)->RemovePlugin(FPlugin);
    FPlugin = nullptr;
    FCore.reset();
}

TPluginSubscription TEditorCore::Subscribe(TEditorPlugin* plugin)
{
    AddPlugin(plugin);
    return TPluginSubscription(FSelf, plugin);
}

void TEditorCore::AddPlugin(TEditorPlugin* plugin)
{
    if (plugin && std::find(FPlugins.begin(), FPlugins.end(), plugin) == FPlugins.end())
        FPlugins.push_back(plugin);
}

void TEditorCore::RemovePlugin(TEditorPlugin* plugin)
{
    auto it = std::find(FPlugins.begin(), FPlugins.end(), plugin);
    if (it == FPlugins.end())
        return;
    // A plug-in may leave from inside a notification; the slot is emptied
    // now and compacted once no dispatch is running.
    if (FDispatching > 0) {
        *it = nullptr;
        FPluginsRemoved = true;
    } else {
        FPlugins.erase(it);
    }
}

template <typename F>
void TEditorCore::ForEachPlugin(F&& f)
{
    ++FDispatching;
    const platform::TScopeExit dispatch([this] {
        if (--FDispatching == 0 && FPluginsRemoved) {
            FPlugins.erase(std::remove(FPlugins.begin(), FPlugins.end(), nullptr), FPlugins.end());
            FPluginsRemoved = false;
        }
    });
    for (std::size_t i = 0; i < FPlugins.size(); ++i)
        if (TEditorPlugin* plugin = FPlugins[i])
            f(*plugin);
}

void TEditorCore::Invalidate(int firstLine, int lastLine)
{
    const int last = lastLine < 0 ? INT_MAX : lastLine;
    if (FInvalidFirst > FInvalidLast) {
        FInvalidFirst = firstLine;
        FInvalidLast = last;
    } else {
        FInvalidFirst = std::min(FInvalidFirst, firstLine);
        FInvalidLast = std::max(FInvalidLast, last);
    }
    if (!FInBatch)
        FlushInvalidation();
}

void TEditorCore::FlushInvalidation()
{
    if (FInvalidFirst > FInvalidLast)
        return;
    const int first = FInvalidFirst;
    const int last = FInvalidLast == INT_MAX ? -1 : FInvalidLast;
    FInvalidFirst = 0;
    FInvalidLast = -2;
    LinesInvalidated(first, last);
    if (OnLinesInvalidated)
        OnLinesInvalidated(this, first, last);
}

void TEditorCore::LinesInserted(int index, int count)
{
    if (FWrap)
        FWrap->LinesInserted(index, count);
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
    ForEachPlugin([&](TEditorPlugin& p) { p.LinesInserted(index, count); });
    Invalidate(index, -1);
}

void TEditorCore::LinesBeforeDeleted(int index, int count)
{
    ForEachPlugin([&](TEditorPlugin& p) { p.LinesBeforeDeleted(index, count); });
}

void TEditorCore::LinesDeleted(int index, int count)
{
    if (FWrap)
        FWrap->LinesDeleted(index, count);
    int lastScanned = index;
    if (FHighlighter && FLines->Count() > 0)
        lastScanned = RescanRanges(index);
    if (CodeFoldingActive()) {
        FAllFoldRanges.LinesDeleted(index, count);
        ReScanForFoldRanges(index, lastScanned);
    }
    ForEachPlugin([&](TEditorPlugin& p) { p.LinesDeleted(index, count); });
    Invalidate(index, -1);
}

void TEditorCore::LinePut(int index, const QString& oldLine)
{
    // A line that gains or loses rows moves every row below it.
    bool rowsMoved = false;
    if (FWrap) {
        const int rows = FWrap->RowsOfLine(index);
        FWrap->LinePut(index);
        rowsMoved = FWrap->RowsOfLine(index) != rows;
    }
    int lastScanned = index;
    if (FHighlighter)
        lastScanned = RescanRanges(index);
    if (CodeFoldingActive()) {
        int foldIndex;
        if (FAllFoldRanges.CollapsedFoldStartAtLine(LineOfIndex(index), &foldIndex))
            FAllFoldRanges.Uncollapse(foldIndex);
        FAllFoldRanges.LinePut(index, oldLine);
        // Whether a line is blank decides where a block's end is trimmed.
        if (IsBlank(oldLine) != IsBlank(FLines->GetRef(index)))
            FAllFoldRanges.RequestRebuild();
        ReScanForFoldRanges(index, lastScanned);
    }
    ForEachPlugin([&](TEditorPlugin& p) { p.LinePut(index, oldLine); });
    Invalidate(index, rowsMoved ? -1 : lastScanned);
}

void TEditorCore::LinesCleared()
{
    FAllFoldRanges.Reset();
    FFoldRebuildPending = false;
    ForEachPlugin([](TEditorPlugin& p) { p.LinesCleared(); });
    if (OnCleared)
        OnCleared(this);
    Invalidate(0, -1);
}

void TEditorCore::LinesChanging()
{
    FInBatch = true;
    ForEachPlugin([](TEditorPlugin& p) { p.BatchBegin(); });
}

void TEditorCore::LinesChanged()
{
    if (FFoldRebuildPending && CodeFoldingActive())
        FinishFoldScan();
    FInBatch = false;
    ForEachPlugin([](TEditorPlugin& p) { p.BatchEnd(); });
    FlushInvalidation();
}

} // namespace editor

namespace editor {

QStringList TEditorCore::SplitTextLines(QStringView text)
{
    using namespace platform;
    return SplitLines(text, lbCR | lbLF | lbLS | lbPS, TFinalBreak::StartsEmptyLine);
}

TBufferCoord TEditorCore::InsertTextAt(TBufferCoord pos, QStringView text)
{
    TLineBufferUpdate batch(*FLines);
    if (FLines->Count() == 0)
        FLines->Add(QString());
    const int line = std::clamp(LineIndexOf(pos), 0, FLines->Count() - 1);
    const int at = std::max(0, CharIndexOf(pos));
    if (text.isEmpty())
        return CoordOfIndexes(at, line);
    QString current = FLines->Get(line);
    if (current.size() < at)
        current.append(QString(at - current.size(), u' '));
    QStringList parts = SplitTextLines(text);
    if (parts.size() == 1) {
        const int end = at + int(parts.front().size());
        current.insert(at, parts.front());
        FLines->Put(line, current);
        return CoordOfIndexes(end, line);
    }
    const int lastLength = int(parts.back().size());
    parts.back().append(QStringView(current).mid(at));
    current.truncate(at);
    current.append(parts.front());
    FLines->Put(line, current);
    FLines->InsertStrings(line + 1, parts, 1);
    return CoordOfIndexes(lastLength, line + int(parts.size()) - 1);
}

void TEditorCore::DeleteTextRange(TBufferCoord from, TBufferCoord to)
{
    if (to < from)
        std::swap(from, to);
    const int count = FLines->Count();
    if (count == 0 || from == to || LineIndexOf(from) >= count)
        return;
    const int first = std::max(0, LineIndexOf(from));
    const int last = std::clamp(LineIndexOf(to), first, count - 1);
    const int at = std::max(0, CharIndexOf(from));
    TLineBufferUpdate batch(*FLines);
    if (first == last) {
        const QString& current = FLines->GetRef(first);
        const int end = std::min(int(current.size()), CharIndexOf(to));
        if (end <= at)
            return;
        FLines->Put(first, QString(current).remove(at, end - at));
        return;
    }
    QString joined = FLines->Get(first);
    if (joined.size() < at)
        joined.append(QString(at - joined.size(), u' '));
    joined.truncate(at);
    const QString& tail = FLines->GetRef(last);
    joined.append(QStringView(tail).mid(std::clamp(CharIndexOf(to), 0, int(tail.size()))));
    FLines->Put(first, joined);
    FLines->DeleteLines(first + 1, last - first);
}

TBufferCoord TEditorCore::ReplaceTextRange(TBufferCoord from, TBufferCoord to, QStringView text)
{
    if (to < from)
        std::swap(from, to);
    TLineBufferUpdate batch(*FLines);
    DeleteTextRange(from, to);
    return InsertTextAt(from, text);
}

QString TEditorCore::TextRange(TBufferCoord from, TBufferCoord to) const
{
    if (to < from)
        std::swap(from, to);
    const int count = FLines->Count();
    if (count == 0 || LineIndexOf(from) >= count)
        return QString();
    const int first = std::max(0, LineIndexOf(from));
    const int last = std::clamp(LineIndexOf(to), first, count - 1);
    auto clampChar = [](const QString& s, int index) { return std::clamp(index, 0, int(s.size())); };
    const QString& head = FLines->GetRef(first);
    const int at = clampChar(head, CharIndexOf(from));
    if (first == last)
        return head.mid(at, std::max(0, clampChar(head, CharIndexOf(to)) - at));
    QString result = head.mid(at);
    for (int i = first + 1; i < last; ++i) {
        result += QLatin1String("\r\n");
        result += FLines->GetRef(i);
    }
    const QString& tail = FLines->GetRef(last);
    result += QLatin1String("\r\n");
    result += QStringView(tail).left(clampChar(tail, CharIndexOf(to)));
    return result;
}

} // namespace editor
