#pragma once
// Text positions as the user sees them: 1-based character and line. The
// buffer itself is indexed from 0; the conversions live here and only here.
#include <compare>

namespace editor {

struct TBufferCoord {
    int Char = 1; // 1-based UTF-16 position in the line; may lie past its end
    int Line = 1; // 1-based line

    friend bool operator==(const TBufferCoord&, const TBufferCoord&) = default;
    friend std::strong_ordering operator<=>(const TBufferCoord& a, const TBufferCoord& b)
    {
        if (auto c = a.Line <=> b.Line; c != 0)
            return c;
        return a.Char <=> b.Char;
    }
};

// A position on screen: 1-based display column (tabs expanded, wide
// characters counting two) and 1-based row (folded lines removed).
struct TDisplayCoord {
    int Column = 1;
    int Row = 1;
    friend bool operator==(const TDisplayCoord&, const TDisplayCoord&) = default;
};

// The only conversions between 1-based positions and 0-based indexes.
constexpr int LineIndex(int line) { return line - 1; }
constexpr int CharIndex(int ch) { return ch - 1; }
constexpr int LineOfIndex(int lineIndex) { return lineIndex + 1; }
constexpr int CharOfIndex(int charIndex) { return charIndex + 1; }
constexpr int LineIndexOf(const TBufferCoord& c) { return LineIndex(c.Line); }
constexpr int CharIndexOf(const TBufferCoord& c) { return CharIndex(c.Char); }
constexpr TBufferCoord CoordOfIndexes(int charIndex, int lineIndex)
{
    return {CharOfIndex(charIndex), LineOfIndex(lineIndex)};
}

} // namespace editor
