#include "editor/ErrorMark.h"

#include "editor/LineBuffer.h"
#include "editor/TextColumns.h"

#include <algorithm>

namespace editor {

TMarkSpan MarkSpan(const TErrorMark& mark, QStringView lineText)
{
    const int size = int(lineText.size());
    int from = mark.Column > 0 ? mark.Column - 1 : text::LeadingWhiteChars(lineText);
    int to = mark.EndColumn > mark.Column ? std::min(mark.EndColumn - 1, size) : size;
    // Python counts code points, the columns may come from an older text:
    // whole clusters are marked.
    from = text::SnapToCharBoundary(lineText, from);
    if (to > from && to < size && !text::IsCharBoundary(lineText, to))
        to = text::NextCharBoundary(lineText, to);
    // An error at or past the line's end (a missing closing bracket) still
    // shows: one cell where it was reported.
    if (to <= from)
        to = text::NextCharBoundary(lineText, from);
    return {from, to};
}

TErrorMarker::TErrorMarker(TLineBuffer& lines) : FLines(lines), FSelf(std::make_shared<TErrorMarker*>(this))
{
    std::weak_ptr<TErrorMarker*> self = FSelf;
    auto call = [self](auto&& fn) {
        if (auto p = self.lock(); p && *p)
            fn(**p);
    };
    ChainEvent(FLines.OnInserted, [call](TLineBuffer*, int index, int count) {
        call([&](TErrorMarker& m) { m.LinesInserted(index, count); });
    });
    // Clear() reports its lines deleted first; SetText inserts the new ones
    // after that, so a whole-text replacement always removes the mark.
    ChainEvent(FLines.OnDeleted, [call](TLineBuffer*, int index, int count) {
        call([&](TErrorMarker& m) { m.LinesDeleted(index, count); });
    });
}

TErrorMarker::~TErrorMarker() { *FSelf = nullptr; }

void TErrorMarker::Set(const TErrorMark& mark)
{
    if (FLines.Count() == 0) {
        Clear();
        return;
    }
    TErrorMark m = mark;
    m.Line = std::clamp(m.Line, 1, FLines.Count());
    Change(m);
}

void TErrorMarker::Clear() { Change(std::nullopt); }

void TErrorMarker::LinesInserted(int index, int count)
{
    if (FMark && index <= FMark->Line - 1) {
        TErrorMark m = *FMark;
        m.Line += count;
        Change(m);
    }
}

void TErrorMarker::LinesDeleted(int index, int count)
{
    if (!FMark || index > FMark->Line - 1)
        return;
    if (index + count > FMark->Line - 1) {
        Change(std::nullopt);
        return;
    }
    TErrorMark m = *FMark;
    m.Line -= count;
    Change(m);
}

void TErrorMarker::Change(const std::optional<TErrorMark>& mark)
{
    if (mark == FMark)
        return;
    const int oldLine = FMark ? FMark->Line : 0;
    const int newLine = mark ? mark->Line : 0;
    // Assigned member by member: GCC 14 at -O3 takes a moved optional's
    // field for uninitialised.
    if (mark)
        FMark.emplace(*mark);
    else
        FMark.reset();
    if (OnChanged)
        OnChanged(oldLine, newLine);
}

} // namespace editor
