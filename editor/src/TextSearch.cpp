#include "editor/TextSearch.h"

#include "editor/CodeEditor.h"
#include "editor/EditTransaction.h"
#include "editor/LineBuffer.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace editor {

namespace {

// Lines searched between two looks at the clock.
constexpr int kLinesPerClockCheck = 64;

bool HasLineBreak(QStringView s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) {
        return c == u'\r' || c == u'\n' || c == QChar(0x2028) || c == QChar(0x2029);
    });
}

} // namespace

TMatchStatus ForEachMatch(const TSearchPattern& pattern, QStringView line, const std::function<void(TLineMatch)>& f)
{
    int pos = 0;
    bool notEmpty = false;
    while (pos <= line.size()) {
        const TMatchResult r = pattern.Next(line, pos, notEmpty);
        if (r.Status != TMatchStatus::Found)
            return r.Status == TMatchStatus::Error ? TMatchStatus::Error : TMatchStatus::Found;
        f(r.Match);
        pos = r.Match.End;
        notEmpty = r.Match.Empty();
    }
    return TMatchStatus::Found;
}

QString SearchStoppedText(const TSearchPattern& pattern, int line)
{
    return QStringLiteral(u"%1 行目で照合の上限に達したため検索を中止しました (%2)").arg(line).arg(pattern.LastError());
}

TFindRun::TFindRun(const TLineBuffer& lines, const TSearchPattern& pattern, TBufferCoord from, bool backward,
    bool acceptEmptyAtFrom)
    : FLines(lines)
    , FPattern(pattern)
    , FFrom(from)
    , FBackward(backward)
    , FAcceptEmptyAtFrom(acceptEmptyAtFrom)
    , FLine(std::clamp(LineIndexOf(from), 0, std::max(0, lines.Count() - 1)))
{
    if (lines.Count() == 0 || !pattern.IsValid())
        FFinished = true;
}

bool TFindRun::SearchLine(int index)
{
    const QString& text = FLines.GetRef(index);
    const int len = int(text.size());
    const bool first = FVisited == 0;
    TMatchResult r;
    if (FBackward)
        r = FPattern.Previous(text, first ? std::clamp(CharIndexOf(FFrom), 0, len + 1) : len + 1);
    else if (first)
        r = FPattern.Next(text, std::clamp(CharIndexOf(FFrom), 0, len), !FAcceptEmptyAtFrom);
    else
        r = FPattern.Next(text, 0);
    if (r.Status == TMatchStatus::Error) {
        FError = SearchStoppedText(FPattern, LineOfIndex(index));
        return true;
    }
    if (!r)
        return false;
    FMatch = TSearchMatch{CoordOfIndexes(r.Match.Start, index), CoordOfIndexes(r.Match.End, index)};
    return true;
}

bool TFindRun::Step(TSearchClock::time_point deadline)
{
    while (!FFinished) {
        const int count = FLines.Count();
        // Every line once, and the starting line a second time for the part
        // on the other side of the start.
        if (count == 0 || FVisited > count) {
            FFinished = true;
            break;
        }
        const int start = std::min(FLine, count - 1);
        int index = FBackward ? start - FVisited : start + FVisited;
        const bool wrapped = index < 0 || index >= count;
        index = ((index % count) + count) % count;
        if (SearchLine(index)) {
            FWrapped = wrapped && FMatch.has_value();
            FFinished = true;
            break;
        }
        ++FVisited;
        if (FVisited % kLinesPerClockCheck == 0 && TSearchClock::now() >= deadline)
            break;
    }
    return FFinished;
}

TCountRun::TCountRun(const TLineBuffer& lines, const TSearchPattern& pattern)
    : FLines(lines)
    , FPattern(pattern)
{
    if (!pattern.IsValid())
        FFinished = true;
}

bool TCountRun::Step(TSearchClock::time_point deadline)
{
    const auto add = [this](TLineMatch) { ++FCount; };
    while (!FFinished) {
        if (FLine >= FLines.Count()) {
            FFinished = true;
            break;
        }
        if (ForEachMatch(FPattern, FLines.GetRef(FLine), add) == TMatchStatus::Error) {
            FError = SearchStoppedText(FPattern, LineOfIndex(FLine));
            FFinished = true;
            break;
        }
        ++FLine;
        if (FLine % kLinesPerClockCheck == 0 && TSearchClock::now() >= deadline)
            break;
    }
    return FFinished;
}

bool ReplaceSelection(TCustomCodeEditor& editor, const TSearchPattern& pattern, const QString& replacement)
{
    if (editor.ReadOnly() || editor.SelectionMode() != smNormal)
        return false;
    const TBufferCoord begin = editor.BlockBegin();
    const TBufferCoord end = editor.BlockEnd();
    if (begin.Line != end.Line)
        return false;
    const QString line = editor.LineAt(begin.Line);
    const TMatchResult r = pattern.At(line, CharIndexOf(begin));
    if (r.Status == TMatchStatus::Error)
        throw ESearchError(SearchStoppedText(pattern, begin.Line));
    if (!r || r.Match.End != CharIndexOf(end))
        return false;
    editor.SetSelText(pattern.Expand(line, replacement));
    return true;
}

long long ReplaceAll(TCustomCodeEditor& editor, const TSearchPattern& pattern, const QString& replacement)
{
    if (editor.ReadOnly() || !pattern.IsValid())
        return 0;
    // Every new line is built before the first change, so a pattern stopped
    // by its match limit leaves the text as it was.
    std::vector<std::pair<int, QString>> changed;
    long long total = 0;
    const TLineBuffer& lines = editor.Lines();
    for (int i = 0; i < lines.Count(); ++i) {
        const QString& line = lines.GetRef(i);
        QString out;
        int copied = 0;
        int matches = 0;
        // Expand reads the groups of the match just found, so it runs inside.
        const auto replaceOne = [&](TLineMatch m) {
            out += QStringView(line).mid(copied, m.Start - copied);
            out += pattern.Expand(line, replacement);
            copied = m.End;
            ++matches;
        };
        if (ForEachMatch(pattern, line, replaceOne) == TMatchStatus::Error)
            throw ESearchError(SearchStoppedText(pattern, LineOfIndex(i)));
        if (matches == 0)
            continue;
        out += QStringView(line).mid(copied);
        total += matches;
        if (out != line)
            changed.emplace_back(i, std::move(out));
    }
    if (changed.empty())
        return total;
    TEditTransaction transaction(editor);
    // From the last line up, so line breaks in a replacement move no line
    // still to be replaced.
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
        const int line = LineOfIndex(it->first);
        if (HasLineBreak(it->second))
            editor.ReplaceTextRange({1, line}, editor.LineEndOf(line), it->second);
        else
            editor.PutLine(line, it->second);
    }
    return total;
}

} // namespace editor
