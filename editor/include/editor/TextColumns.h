#pragma once
// Character boundaries and display columns of one line of text. Positions
// are 0-based UTF-16 indexes; columns are 0-based, tabs run to the next
// multiple of the tab width and East Asian wide characters take two.
#include <QStringView>

namespace editor::text {

bool IsWideChar(char32_t c);

// Index of the next / previous grapheme cluster boundary. Past the end of
// the line every step is one column, so Next(i) is i + 1 there.
int NextCharBoundary(QStringView line, int index);
int PrevCharBoundary(QStringView line, int index);
bool IsCharBoundary(QStringView line, int index);
// The cluster start at or before index (index itself when past the end).
int SnapToCharBoundary(QStringView line, int index);

// Display column where the character at index starts (past the end of the
// line each position adds one column).
int DisplayColumn(QStringView line, int index, int tabWidth);
// The boundary index whose column is the largest not above column.
int IndexOfDisplayColumn(QStringView line, int column, int tabWidth);
// Columns of leading white space (characters of code 32 or less).
int IndentColumns(QStringView line, int tabWidth);
// Number of leading characters of code 32 or less.
int LeadingWhiteChars(QStringView line);
// Blanks when tabsToSpaces or fewer columns than a tab, else tabs then blanks.
QString IndentString(int columns, int tabWidth, bool tabsToSpaces);

} // namespace editor::text
