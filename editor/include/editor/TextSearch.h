#pragma once
// Searching the editor's text with a compiled pattern: finding the next or
// previous match (wrapping once around the text), counting, in steps that
// stop at a deadline so a long text never blocks its caller, and replacing
// one match or all of them as one undo step.
#include <QString>
#include <QStringView>

#include <chrono>
#include <functional>
#include <optional>

#include "editor/BufferCoord.h"
#include "editor/SearchPattern.h"

namespace editor {

class TLineBuffer;
class TCustomCodeEditor;

// A match in the text (1-based, on one line; End just after its last
// character).
struct TSearchMatch {
    TBufferCoord Start;
    TBufferCoord End;
    friend bool operator==(const TSearchMatch&, const TSearchMatch&) = default;
};

using TSearchClock = std::chrono::steady_clock;

// The successive matches of a line, left to right, never overlapping; an
// empty match is followed by the next position. Returns Error when the
// pattern's match limit stopped it.
TMatchStatus ForEachMatch(const TSearchPattern& pattern, QStringView line, const std::function<void(TLineMatch)>& f);

// The message for a search stopped on a line (1-based).
QString SearchStoppedText(const TSearchPattern& pattern, int line);

// One search for the next or previous match. The buffer may change between
// steps; the run reads line counts afresh and never leaves the text.
class TFindRun {
public:
    // Forward: the first match starting at or after from (an empty match at
    // from itself only when acceptEmptyAtFrom). Backward: the last match
    // starting before from. Past the end it goes on from the other end of
    // the text, once.
    TFindRun(const TLineBuffer& lines, const TSearchPattern& pattern, TBufferCoord from, bool backward,
        bool acceptEmptyAtFrom = false);

    // Searches until it is finished or the deadline has passed; returns
    // Finished().
    bool Step(TSearchClock::time_point deadline = TSearchClock::time_point::max());
    bool Finished() const { return FFinished; }
    const std::optional<TSearchMatch>& Match() const { return FMatch; }
    // The match lies on the other side of the starting point.
    bool Wrapped() const { return FWrapped; }
    // Not empty when the match limit stopped the search.
    const QString& Error() const { return FError; }

private:
    bool SearchLine(int index);

    const TLineBuffer& FLines;
    const TSearchPattern& FPattern;
    TBufferCoord FFrom;
    bool FBackward;
    bool FAcceptEmptyAtFrom;
    int FLine;
    int FVisited = 0;
    bool FFinished = false;
    bool FWrapped = false;
    std::optional<TSearchMatch> FMatch;
    QString FError;
};

// Counting all matches of the text in steps.
class TCountRun {
public:
    TCountRun(const TLineBuffer& lines, const TSearchPattern& pattern);
    bool Step(TSearchClock::time_point deadline = TSearchClock::time_point::max());
    bool Finished() const { return FFinished; }
    long long Count() const { return FCount; }
    const QString& Error() const { return FError; }

private:
    const TLineBuffer& FLines;
    const TSearchPattern& FPattern;
    int FLine = 0;
    long long FCount = 0;
    bool FFinished = false;
    QString FError;
};

// Replaces the selection with the expanded replacement when the selection
// is exactly a match of the pattern, as one undo step; returns whether it did.
bool ReplaceSelection(TCustomCodeEditor& editor, const TSearchPattern& pattern, const QString& replacement);

// Replaces every match of the text as one undo step and returns how many.
// Throws ESearchError, with the text unchanged, when the match limit
// stopped the pattern on some line.
long long ReplaceAll(TCustomCodeEditor& editor, const TSearchPattern& pattern, const QString& replacement);

} // namespace editor
