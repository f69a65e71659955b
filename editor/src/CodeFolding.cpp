#include "editor/CodeFolding.h"

#include "editor/BufferCoord.h"
#include "editor/LineBuffer.h"

#include <QtEndian>

#include <algorithm>

namespace editor {

namespace {

bool IsBlankLine(const QString& s)
{
    const QChar* p = s.constData();
    for (qsizetype i = 0, n = s.size(); i < n; ++i)
        if (p[i].unicode() > 32)
            return false;
    return true;
}

} // namespace

const TFoldRange& TFoldRanges::Get(int index) const
{
    if (index < 0 || index >= Count())
        throw EArgumentOutOfRange();
    return fRanges[std::size_t(index)];
}

int TFoldRanges::FindMarker(int line) const
{
    auto it = std::lower_bound(fFoldInfoList.begin(), fFoldInfoList.end(), line,
        [](const TLineFoldInfo& info, int l) { return info.Line < l; });
    return int(it - fFoldInfoList.begin());
}

int TFoldRanges::FindRange(int line) const
{
    auto it = std::lower_bound(
        fRanges.begin(), fRanges.end(), line, [](const TFoldRange& r, int l) { return r.FromLine < l; });
    return int(it - fRanges.begin());
}

void TFoldRanges::AddLineInfo(int aLine, int aFoldType, int aIndent, TFoldOpenClose aFoldOpenClose)
{
    const TLineFoldInfo info{aLine, aFoldOpenClose, aFoldType, aIndent};
    const int i = FindMarker(aLine);
    if (i < int(fFoldInfoList.size()) && fFoldInfoList[std::size_t(i)].Line == aLine) {
        if (fFoldInfoList[std::size_t(i)] == info)
            return;
        fFoldInfoList[std::size_t(i)] = info;
    } else {
        fFoldInfoList.insert(fFoldInfoList.begin() + i, info);
    }
    fRangesNeedFixing = true;
}

void TFoldRanges::NoFoldInfo(int aLine)
{
    const int i = FindMarker(aLine);
    if (i < int(fFoldInfoList.size()) && fFoldInfoList[std::size_t(i)].Line == aLine) {
        fFoldInfoList.erase(fFoldInfoList.begin() + i);
        fRangesNeedFixing = true;
    }
}

bool TFoldRanges::StopScanning(const TLineBuffer& lines)
{
    if (!fRangesNeedFixing)
        return false;
    StoreCollapsedState();
    RecreateFoldRanges(lines);
    RestoreCollapsedState();
    fRangesNeedFixing = false;
    return true;
}

void TFoldRanges::Reset()
{
    fRanges.clear();
    fCollapsedState.clear();
    fFoldInfoList.clear();
    fRangesNeedFixing = false;
}

void TFoldRanges::RecreateFoldRanges(const TLineBuffer& lines)
{
    fRanges.clear();
    // One stack of open ranges, kept as two views: the indentation-closed
    // ranges (their indents rise from bottom to top, so "close every range
    // indented at least this much" pops from the top) and one stack per fold
    // type for explicit closes. A range closed through one view is marked
    // closed and dropped lazily from the other.
    std::vector<int> indentStack;
    // Few fold types exist, so a flat list beats a map here.
    std::vector<std::pair<int, std::vector<int>>> typeStacks;
    auto typeStack = [&typeStacks](int type) -> std::vector<int>& {
        for (auto& entry : typeStacks)
            if (entry.first == type)
                return entry.second;
        typeStacks.emplace_back(type, std::vector<int>());
        return typeStacks.back().second;
    };
    std::vector<char> closed;
    closed.reserve(fFoldInfoList.size());

    auto closeIndented = [&](int indent, int toLine) {
        while (!indentStack.empty()) {
            const int top = indentStack.back();
            if (closed[std::size_t(top)]) {
                indentStack.pop_back();
                continue;
            }
            if (fRanges[std::size_t(top)].Indent < indent)
                break;
            fRanges[std::size_t(top)].ToLine = toLine;
            closed[std::size_t(top)] = 1;
            indentStack.pop_back();
        }
    };

    for (const TLineFoldInfo& info : fFoldInfoList) {
        if (info.FoldOpenClose == focOpen) {
            if (info.Indent >= 0)
                closeIndented(info.Indent, info.Line - 1);
            const int index = int(fRanges.size());
            fRanges.emplace_back(info.Line, info.Line, info.FoldType, info.Indent, false);
            closed.push_back(0);
            if (info.Indent >= 0)
                indentStack.push_back(index);
            typeStack(info.FoldType).push_back(index);
        } else if (info.Indent < 0) {
            std::vector<int>& stack = typeStack(info.FoldType);
            while (!stack.empty() && closed[std::size_t(stack.back())])
                stack.pop_back();
            if (stack.empty())
                continue;
            const int top = stack.back();
            stack.pop_back();
            fRanges[std::size_t(top)].ToLine = info.Line;
            closed[std::size_t(top)] = 1;
        } else {
            closeIndented(info.Indent, info.Line - 1);
        }
    }

    if (fCodeFoldingMode == cfmIndentation) {
        for (std::size_t i = 0; i < fRanges.size(); ++i)
            if (!closed[i] && fRanges[i].Indent >= 0)
                fRanges[i].ToLine = lines.Count();
        for (TFoldRange& range : fRanges) {
            if (range.Indent < 0)
                continue;
            while (range.ToLine > range.FromLine && IsBlankLine(lines.GetRef(LineIndex(range.ToLine))))
                --range.ToLine;
        }
    }
}

bool TFoldRanges::FoldStartAtLine(int line, int* index) const
{
    const int i = FindRange(line);
    if (i < Count() && fRanges[std::size_t(i)].FromLine == line) {
        if (index)
            *index = i;
        return true;
    }
    return false;
}

bool TFoldRanges::CollapsedFoldStartAtLine(int line, int* index) const
{
    int i = -1;
    if (FoldStartAtLine(line, &i) && fRanges[std::size_t(i)].Collapsed) {
        if (index)
            *index = i;
        return true;
    }
    return false;
}

bool TFoldRanges::FoldEndAtLine(int line, int* index) const
{
    for (int i = 0; i < Count(); ++i) {
        const TFoldRange& r = fRanges[std::size_t(i)];
        if (r.FromLine > line)
            break;
        if (r.ToLine == line) {
            if (index)
                *index = i;
            return true;
        }
    }
    return false;
}

bool TFoldRanges::FoldAroundLineEx(int line, bool wantCollapsed, bool acceptFromLine, bool acceptToLine, int* index) const
{
    bool found = false;
    for (int i = 0; i < Count(); ++i) {
        const TFoldRange& r = fRanges[std::size_t(i)];
        if (r.FromLine > line)
            break;
        const bool afterStart = r.FromLine < line || (acceptFromLine && r.FromLine == line);
        const bool beforeEnd = line < r.ToLine || (acceptToLine && r.ToLine == line);
        if (afterStart && beforeEnd && r.Collapsed == wantCollapsed) {
            found = true;
            if (index)
                *index = i;
        }
    }
    return found;
}

bool TFoldRanges::FoldHidesLine(int line, int* index) const
{
    return FoldAroundLineEx(line, true, false, true, index);
}

int TFoldRanges::FoldLineToRow(int line) const
{
    // A hidden line answers the row of the header that hides it, so the
    // row never falls into the rows of the lines before the fold.
    int hidden = 0;
    int lastLine = -1;
    int lastHeaderRow = 0;
    for (const TFoldRange& r : fRanges) {
        if (r.FromLine >= line)
            break;
        if (!r.Collapsed)
            continue;
        if (r.FromLine > lastLine) {
            lastHeaderRow = r.FromLine - hidden;
            if (line <= r.ToLine)
                return lastHeaderRow;
            hidden += r.LinesCollapsed();
            lastLine = r.ToLine;
        } else if (r.ToLine > lastLine) {
            if (line <= r.ToLine)
                return lastHeaderRow;
            hidden += r.ToLine - lastLine;
            lastLine = r.ToLine;
        }
    }
    return line - hidden;
}

int TFoldRanges::FoldRowToLine(int row) const
{
    int result = row;
    int lastLine = -1;
    for (const TFoldRange& r : fRanges) {
        if (r.FromLine >= result)
            break;
        if (!r.Collapsed)
            continue;
        if (r.FromLine > lastLine) {
            result += r.LinesCollapsed();
            lastLine = r.ToLine;
        } else if (r.ToLine > lastLine) {
            result += r.ToLine - lastLine;
            lastLine = r.ToLine;
        }
    }
    return result;
}

std::vector<int> TFoldRanges::FoldsAtLevel(int level) const
{
    std::vector<int> result;
    std::vector<int> open; // ToLine of the enclosing ranges
    for (int i = 0; i < Count(); ++i) {
        const TFoldRange& r = fRanges[std::size_t(i)];
        if (r.FoldType == FoldTypeRegion)
            continue;
        // Enclosing ranges are those still open at this range's header.
        open.erase(std::remove_if(open.begin(), open.end(), [&](int to) { return to < r.FromLine; }), open.end());
        if (int(open.size()) == level - 1)
            result.push_back(i);
        open.push_back(r.ToLine);
    }
    return result;
}

std::vector<int> TFoldRanges::FoldsOfType(int aType) const
{
    std::vector<int> result;
    for (int i = 0; i < Count(); ++i)
        if (fRanges[std::size_t(i)].FoldType == aType)
            result.push_back(i);
    return result;
}

int TFoldRanges::GetIndentLevel(int line) const
{
    for (int i = FindMarker(line) - 1; i >= 0; --i)
        if (fFoldInfoList[std::size_t(i)].Indent >= 0)
            return fFoldInfoList[std::size_t(i)].Indent;
    return -1;
}

void TFoldRanges::Collapse(int index)
{
    if (index < 0 || index >= Count())
        throw EArgumentOutOfRange();
    fRanges[std::size_t(index)].Collapsed = true;
}

void TFoldRanges::Uncollapse(int index)
{
    if (index < 0 || index >= Count())
        throw EArgumentOutOfRange();
    fRanges[std::size_t(index)].Collapsed = false;
}

void TFoldRanges::StoreCollapsedState()
{
    fCollapsedState.clear();
    for (const TFoldRange& r : fRanges)
        if (r.Collapsed)
            fCollapsedState.push_back(r.FromLine);
}

void TFoldRanges::RestoreCollapsedState()
{
    for (int line : fCollapsedState) {
        int index;
        if (FoldStartAtLine(line, &index))
            fRanges[std::size_t(index)].Collapsed = true;
    }
    fCollapsedState.clear();
}

void TFoldRanges::StoreCollapsedState(QIODevice& stream) const
{
    for (const TFoldRange& r : fRanges) {
        if (!r.Collapsed)
            continue;
        char bytes[4];
        qToLittleEndian<qint32>(r.FromLine, bytes);
        stream.write(bytes, 4);
    }
}

void TFoldRanges::RestoreCollapsedState(QIODevice& stream)
{
    char bytes[4];
    while (stream.read(bytes, 4) == 4) {
        int index;
        if (FoldStartAtLine(qFromLittleEndian<qint32>(bytes), &index))
            fRanges[std::size_t(index)].Collapsed = true;
    }
}

void TFoldRanges::LinesInserted(int aIndex, int aCount)
{
    for (auto it = fFoldInfoList.rbegin(); it != fFoldInfoList.rend() && it->Line > aIndex; ++it)
        it->Line += aCount;
    for (TFoldRange& r : fRanges) {
        if (r.FromLine > aIndex)
            r.Move(aCount);
        else if (r.ToLine > aIndex)
            r.ToLine += aCount;
    }
}

void TFoldRanges::LinesDeleted(int aIndex, int aCount)
{
    // A rebuild still pending from earlier changes of the same batch is kept.
    const int lastDeleted = aIndex + aCount;
    const int firstMarker = FindMarker(aIndex + 1);
    const int pastMarkers = FindMarker(lastDeleted + 1);
    for (std::size_t i = std::size_t(pastMarkers); i < fFoldInfoList.size(); ++i)
        fFoldInfoList[i].Line -= aCount;
    if (pastMarkers > firstMarker) {
        fFoldInfoList.erase(fFoldInfoList.begin() + firstMarker, fFoldInfoList.begin() + pastMarkers);
        fRangesNeedFixing = true;
    }

    const int firstRange = FindRange(aIndex + 1);
    const int pastRanges = FindRange(lastDeleted + 1);
    for (std::size_t i = std::size_t(pastRanges); i < fRanges.size(); ++i)
        fRanges[i].Move(-aCount);
    if (pastRanges > firstRange) {
        fRanges.erase(fRanges.begin() + firstRange, fRanges.begin() + pastRanges);
        fRangesNeedFixing = true;
    }
    for (int i = 0; i < firstRange; ++i) {
        TFoldRange& r = fRanges[std::size_t(i)];
        if (r.ToLine > lastDeleted) {
            r.ToLine -= aCount;
        } else if (r.ToLine > aIndex) {
            r.ToLine = aIndex;
            // The new end may be a blank line that a rebuild trims off.
            fRangesNeedFixing = true;
        }
    }
}

bool TFoldRanges::LinePut(int, const QString&) { return true; }

} // namespace editor
