#include "editor/TextColumns.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <iterator>

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

// East Asian Wide and Fullwidth ranges, and the emoji shown as pictures,
// as [first, last] pairs in order.
constexpr char32_t kWideRanges[][2] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F2FF},
    {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440},
    {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
    {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

} // namespace

bool IsWideChar(char32_t c)
{
    if (c < 0x1100)
        return false;
    // The last range that starts at or before c.
    const auto* end = std::end(kWideRanges);
    const auto* r = std::upper_bound(std::begin(kWideRanges), end, c,
                                     [](char32_t value, const char32_t(&range)[2]) { return value < range[0]; });
    return r != std::begin(kWideRanges) && c <= (*(r - 1))[1];
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
