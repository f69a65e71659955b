#include "editor/TextColumns.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace editor::text {

namespace {

// Grapheme rules only look a little way around a position; a window keeps a
// step on a megabyte line from scanning the whole line.
constexpr int kWindow = 256;

// Characters that never join what comes before them: below U+0300 (CR LF
// aside, which a line never holds), kana,
// CJK ideographs and punctuation, full-width forms, Hangul syllables.
inline bool StartsCluster(char16_t d)
{
    return d < 0x300 || (d >= 0x3001 && d <= 0x3029) || (d >= 0x3041 && d <= 0x3096) || (d >= 0x30A1 && d <= 0x30FA)
        || (d >= 0x3400 && d <= 0x4DBF) || (d >= 0x4E00 && d <= 0x9FFF) || (d >= 0xAC00 && d <= 0xD7A3)
        || (d >= 0xFF01 && d <= 0xFF60);
}

// Characters that may join what follows them: surrogates, the zero-width
// joiner, the prepended marks, and Hangul leading jamo before a syllable.
inline bool MayJoinNext(char16_t c)
{
    return QChar::isSurrogate(c) || c == 0x200D || (c >= 0x0600 && c <= 0x0605) || c == 0x06DD || c == 0x070F
        || c == 0x0890 || c == 0x0891 || c == 0x08E2 || c == 0x0D4E || (c >= 0x1100 && c <= 0x115F)
        || (c >= 0xA960 && c <= 0xA97C);
}

// True when the grapheme rules surely break between c and d: without a
// boundary search, a line of Japanese or Korean text is walked as fast as
// ASCII.
inline bool BreaksBetween(char16_t c, char16_t d) { return StartsCluster(d) && !MayJoinNext(c); }

// The library's grapheme search can answer the middle of a surrogate pair
// (a pair followed by a spacing mark at the start of its text); the caret
// must never land there.
inline bool SplitsPair(QStringView line, int i)
{
    return i > 0 && i < line.size() && line[i - 1].isHighSurrogate() && line[i].isLowSurrogate();
}

char32_t CodePointAt(QStringView s, int i, int* length)
{
    const char16_t c = s[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
        *length = 2;
        return QChar::surrogateToUcs4(c, s[i + 1].unicode());
    }
    *length = 1;
    return c;
}

int Columns(char32_t c, int column, int tabWidth)
{
    if (c == u'\t')
        return tabWidth - column % tabWidth;
    if (c >= 0x300 && QChar::isMark(c))
        return 0;
    return IsWideChar(c) ? 2 : 1;
}

} // namespace

bool IsWideChar(char32_t c)
{
    if (c < 0x1100)
        return false;
    return (c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF)
        || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F)
        || (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x2FFFD) || (c >= 0x30000 && c <= 0x3FFFD);
}

int NextCharBoundary(QStringView line, int index)
{
    const int n = int(line.size());
    if (index < 0)
        return 0;
    if (index >= n)
        return index + 1;
    if (index + 1 >= n || BreaksBetween(line[index].unicode(), line[index + 1].unicode()))
        return index + 1;
    // A boundary before the window's end depends on nothing past it, so a
    // short window is tried first; most clusters are a few characters long.
    for (const int window : {16, kWindow}) {
        const int end = std::min(n, index + window);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line.data() + index, end - index);
        finder.setPosition(0);
        const qsizetype next = finder.toNextBoundary();
        if (next > 0 && (index + next < end || end == n || window == kWindow))
            return SplitsPair(line, index + int(next)) ? index + int(next) + 1 : index + int(next);
        if (next <= 0 && window == kWindow)
            return end;
    }
    return std::min(n, index + kWindow);
}

int PrevCharBoundary(QStringView line, int index)
{
    const int n = int(line.size());
    if (index <= 0)
        return 0;
    if (index > n)
        return index - 1;
    if (index == 1 || BreaksBetween(line[index - 2].unicode(), line[index - 1].unicode()))
        return index - 1;
    int start = std::max(0, index - kWindow);
    if (start > 0 && QChar::isLowSurrogate(line[start].unicode()))
        --start;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line.data() + start, index - start);
    finder.toEnd();
    const qsizetype prev = finder.toPreviousBoundary();
    const int result = prev < 0 ? start : start + int(prev);
    return SplitsPair(line, result) ? result - 1 : result;
}

bool IsCharBoundary(QStringView line, int index)
{
    const int n = int(line.size());
    if (index <= 0 || index >= n)
        return true;
    if (BreaksBetween(line[index - 1].unicode(), line[index].unicode()))
        return true;
    int start = std::max(0, index - kWindow);
    if (start > 0 && QChar::isLowSurrogate(line[start].unicode()))
        --start;
    const int end = std::min(n, index + kWindow);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line.data() + start, end - start);
    finder.setPosition(index - start);
    return finder.isAtBoundary() && !SplitsPair(line, index);
}

int SnapToCharBoundary(QStringView line, int index)
{
    if (index <= 0)
        return 0;
    if (index >= line.size() || IsCharBoundary(line, index))
        return index;
    return PrevCharBoundary(line, index);
}

int DisplayColumn(QStringView line, int index, int tabWidth)
{
    tabWidth = std::max(1, tabWidth);
    const int n = int(line.size());
    const int stop = std::min(index, n);
    int column = 0;
    for (int i = 0; i < stop;) {
        const char16_t c = line[i].unicode();
        if (c < 0x300 && c != u'\t') {
            ++column;
            ++i;
            continue;
        }
        int length;
        const char32_t cp = CodePointAt(line, i, &length);
        column += Columns(cp, column, tabWidth);
        i += length;
    }
    return column + std::max(0, index - n);
}

int IndexOfDisplayColumn(QStringView line, int column, int tabWidth)
{
    tabWidth = std::max(1, tabWidth);
    const int n = int(line.size());
    int current = 0;
    int i = 0;
    while (i < n) {
        int length;
        const char32_t cp = CodePointAt(line, i, &length);
        const int width = Columns(cp, current, tabWidth);
        if (current + width > column && width > 0)
            return SnapToCharBoundary(line, i);
        current += width;
        i += length;
    }
    return n + std::max(0, column - current);
}

int LeadingWhiteChars(QStringView line)
{
    int i = 0;
    while (i < line.size() && line[i].unicode() <= 32)
        ++i;
    return i;
}

int IndentColumns(QStringView line, int tabWidth)
{
    return DisplayColumn(line, LeadingWhiteChars(line), tabWidth);
}

QString IndentString(int columns, int tabWidth, bool tabsToSpaces)
{
    if (columns <= 0)
        return QString();
    if (tabsToSpaces || columns < tabWidth || tabWidth < 1)
        return QString(columns, u' ');
    return QString(columns / tabWidth, u'\t') + QString(columns % tabWidth, u' ');
}

} // namespace editor::text
