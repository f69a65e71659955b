#pragma once
// Word-wrapped rows of the line buffer: each line cut into rows of at most
// a given number of cells. Rows end after the last blank (space or tab) that
// fits, else at the last grapheme cluster boundary that fits; a cluster wider
// than the row (a wide character at width 1, a tab wider than the row) takes
// a row of its own. Columns and tab stops count from the start of each row,
// so a row is drawn as if its text were a line of its own.
//
// Only the row count of each line is kept for every line; row starts are
// kept for the lines that wrap. Lines sit in blocks with prefix sums of
// lines and rows, so line <-> row lookups are a binary search over the
// blocks and a short scan inside one. All indexes here are 0-based.
#include <QStringView>

#include <vector>

namespace editor {

class TLineBuffer;

class TWrapRows {
public:
    struct TRowOfLine {
        int Line;      // 0-based line
        int RowInLine; // 0-based row within the line
        friend bool operator==(const TRowOfLine&, const TRowOfLine&) = default;
    };
    struct TRowPos {
        int Row;    // 0-based display row
        int Column; // 0-based cell within the row
        friend bool operator==(const TRowPos&, const TRowPos&) = default;
    };
    struct TLinePos {
        int Line; // 0-based line
        int Char; // UTF-16 index in the line; may lie past its end
        friend bool operator==(const TLinePos&, const TLinePos&) = default;
    };

    // Lays out every line of the buffer, which must outlive this object.
    // Widths below 1 count as 1.
    TWrapRows(const TLineBuffer& lines, int width, int tabWidth);

    int Width() const { return FWidth; }
    int TabWidth() const { return FTabWidth; }
    // Both lay out every line again when the value changes.
    void SetWidth(int width);
    void SetTabWidth(int tabWidth);
    void Relayout();

    // The buffer changed: lines [index, index + count) were inserted or
    // deleted, or the line at index was replaced. Only those lines are laid
    // out again.
    void LinesInserted(int index, int count);
    void LinesDeleted(int index, int count);
    void LinePut(int index);

    int LineCount() const { return FBlockLine.back(); }
    int RowCount() const { return FBlockRow.back(); }
    // Lines past the end of the text count as one row each, following the
    // last row, as rows past the end count as such lines; a negative line
    // or row maps to itself.
    int FirstRowOfLine(int line) const;
    int RowsOfLine(int line) const;
    TRowOfLine LineOfRow(int row) const;
    // UTF-16 range [RowStart, RowEnd) of a row of a line; RowEnd of the last
    // row is the line's length.
    int RowStart(int line, int rowInLine) const;
    int RowEnd(int line, int rowInLine) const;

    // A buffer position on screen. A position at a row's end on a row that
    // is not the line's last is shown at the start of the next row; past
    // the end of a line, each position adds a column to the last row.
    TRowPos ToDisplay(int line, int charIndex) const;
    // The character boundary whose column in the row is the largest not
    // above column. A column past the row's text gives the row's last
    // caret position (before its last cluster, so the position stays on the
    // row), except on the line's last row, where each column past the end
    // is one position past the line's end.
    TLinePos ToBuffer(int row, int column) const;

    // Row starts after the first of one line laid out at the width: the
    // layout rule on its own, without any buffer.
    static std::vector<int> LayoutLine(QStringView line, int width, int tabWidth);

private:
    struct TBlock {
        std::vector<int> Rows;   // rows of each line
        std::vector<int> Starts; // starts of rows after the first, of each wrapped line in order
        int RowTotal = 0;
    };
    struct TPlace {
        int Block;
        int Offset;   // line within the block
        int FirstRow; // first row of the line within the block
    };

    // Block holding line (the last block for a line at or past the end).
    int BlockOfLine(int line) const;
    TPlace Locate(int line) const;
    // Lays out lines [first, first + count) of the buffer into blocks.
    std::vector<TBlock> LayOut(int first, int count) const;
    // Lays out one line, appending its row starts; returns its row count.
    int LayOutInto(int line, std::vector<int>& starts) const;
    void SplitIfLarge(int block);
    void MergeIfSmall(int block);
    // Prefix sums from block on.
    void Refresh(int block);

    const TLineBuffer& FLines;
    int FWidth;
    int FTabWidth;
    std::vector<TBlock> FBlocks;
    // First line and first row of each block, with the totals after the last.
    std::vector<int> FBlockLine{0};
    std::vector<int> FBlockRow{0};
    std::vector<int> FScratch; // row starts of a line being replaced
};

} // namespace editor
