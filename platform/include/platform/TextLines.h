#pragma once
// Splitting text into lines and joining lines, with the set of line-break
// characters named by each caller: the editor, its buffer, script files and
// the result panes each accept a different set.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstdint>

namespace platform {

// A CR directly followed by an LF is one break when both are in the set.
enum TLineBreakChar : std::uint8_t {
    lbCR = 1 << 0,
    lbLF = 1 << 1,
    lbLS = 1 << 2, // U+2028 LINE SEPARATOR
    lbPS = 1 << 3, // U+2029 PARAGRAPH SEPARATOR
};
using TLineBreaks = std::uint8_t;
inline constexpr TLineBreaks kCrLfBreaks = lbCR | lbLF;

enum class TFinalBreak {
    EndsLine,        // a break at the very end starts no further line; "" has no lines
    StartsEmptyLine, // every break starts a line; "" is one empty line
};

inline bool IsLineBreak(char16_t c, TLineBreaks breaks)
{
    if (c > 13 && c < 0x2028) // almost every character leaves here
        return false;
    switch (c) {
    case 13: return breaks & lbCR;
    case 10: return breaks & lbLF;
    case 0x2028: return breaks & lbLS;
    case 0x2029: return breaks & lbPS;
    default: return false;
    }
}

// Calls f(line, lineBreak) for every line in order; lineBreak is the break
// that ended the line, empty for a last line without one. Header-only so the
// buffer's million-line loads compile it into their own loop.
template <typename F>
void ForEachLine(QStringView text, TLineBreaks breaks, TFinalBreak final, F&& f)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        while (i < n && !IsLineBreak(p[i], breaks))
            ++i;
        if (i == n) {
            f(text.sliced(start), QStringView());
            return;
        }
        const qsizetype breakLength = (p[i] == 13 && i + 1 < n && p[i + 1] == 10 && (breaks & lbLF)) ? 2 : 1;
        f(text.sliced(start, i - start), text.sliced(i, breakLength));
        i += breakLength;
    }
    if (final == TFinalBreak::StartsEmptyLine)
        f(text.sliced(n), QStringView());
}

QStringList SplitLines(QStringView text, TLineBreaks breaks, TFinalBreak final);

// Lines lineAt(0) .. lineAt(count - 1) with separator between them, and
// after the last when breakAfterLast; the result is allocated once.
template <typename LineAt>
QString JoinLines(qsizetype count, LineAt&& lineAt, QStringView separator, bool breakAfterLast)
{
    if (count <= 0)
        return QString();
    const qsizetype sepLen = separator.size();
    qsizetype total = sepLen * (count - 1 + (breakAfterLast ? 1 : 0));
    for (qsizetype i = 0; i < count; ++i)
        total += lineAt(i).size();
    QString result(total, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    for (qsizetype i = 0; i < count; ++i) {
        const QString& line = lineAt(i);
        out = std::copy_n(line.utf16(), line.size(), out);
        if (i + 1 < count || breakAfterLast)
            out = std::copy_n(separator.utf16(), sepLen, out);
    }
    return result;
}

QString JoinLines(const QStringList& lines, QStringView separator, bool breakAfterLast = false);

} // namespace platform
