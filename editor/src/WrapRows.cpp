#include "editor/WrapRows.h"

#include "editor/LineBuffer.h"
#include "editor/TextColumns.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace editor {

namespace {

// Lines per block: a fresh layout fills blocks to kFillBlock, inserted lines
// split a block past kMaxBlock, and deletions merge one below kMinBlock into
// a neighbour. Scans inside a block stay short; a change of a line's row
// count refreshes one prefix entry per block.
constexpr int kMaxBlock = 512;
constexpr int kFillBlock = 384;
constexpr int kMinBlock = 128;

// Cells of one code point at a column, as text::DisplayColumn counts them.
int Cells(char32_t c, int column, int tabWidth)
{
    if (c == u'\t')
        return tabWidth - column % tabWidth;
    if (c >= 0x300 && QChar::isMark(c))
        return 0;
    return text::IsWideChar(c) ? 2 : 1;
}

char32_t CodePointAt(QStringView s, int i, int to, int* length)
{
    const char16_t c = s[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < to && s[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, s[i + 1].unicode());
    }
    *length = 1;
    return c;
}

int ClusterCells(QStringView s, int from, int to, int column, int tabWidth)
{
    int cells = 0;
    for (int i = from; i < to;) {
        int length;
        const char32_t c = CodePointAt(s, i, to, &length);
        cells += Cells(c, column + cells, tabWidth);
        i += length;
    }
    return cells;
}

// Kana, CJK ideographs and punctuation, Hangul syllables and full-width
// forms: two cells, no marks, and they neither join what is before them nor
// what follows (the ranges text::NextCharBoundary passes without a search).
// A bit table: kana and ideographs mixed at random would mispredict a chain
// of range tests at every character.
constexpr std::array<std::uint64_t, 1024> kPlainWide = [] {
    std::array<std::uint64_t, 1024> bits{};
    constexpr char16_t ranges[][2] = {{0x3001, 0x3029}, {0x3041, 0x3096}, {0x30A1, 0x30FA}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xFF01, 0xFF60}};
    for (const auto& r : ranges)
        for (unsigned c = r[0]; c <= r[1]; ++c)
            bits[c >> 6] |= std::uint64_t(1) << (c & 63);
    return bits;
}();

inline bool IsPlainWide(char16_t c) { return (kPlainWide[c >> 6] >> (c & 63)) & 1; }

// Characters that never join what is before them.
inline bool StartsCluster(char16_t c) { return c < 0x300 || IsPlainWide(c); }

// The end of the cluster at i, without a boundary search for most text.
int ClusterEnd(QStringView s, int i)
{
    const int n = int(s.size());
    if (StartsCluster(s[i].unicode()) && (i + 1 == n || StartsCluster(s[i + 1].unicode())))
        return i + 1;
    return text::NextCharBoundary(s, i);
}

// The cluster start in the row [start, end) of a line whose column (from
// the row's start) is the largest not above column. Past the row's text: on
// the line's last row one position per column, else the row's last cluster.
// Clusters are stepped as the layout and the caret step them: the library's
// other boundary queries can disagree inside runs of regional indicators.
int IndexOfRowColumn(QStringView line, int start, int end, int column, int tabWidth, bool lastRow)
{
    int current = 0;
    int last = start;
    for (int i = start; i < end;) {
        const int next = ClusterEnd(line, i);
        const int width = ClusterCells(line, i, next, current, tabWidth);
        if (current + width > column && width > 0)
            return i;
        current += width;
        last = i;
        i = next;
    }
    return lastRow ? end + std::max(0, column - current) : last;
}

// Appends the starts of the rows after the first; returns the row count.
int LayOutLine(QStringView s, int width, int tabWidth, std::vector<int>& starts)
{
    const char16_t* p = s.utf16();
    const int n = int(s.size());
    int rows = 1;
    int rowStart = 0;
    int column = 0;
    int afterBlank = -1; // end of the last blank that fits on the row
    int i = 0;
    while (i < n) {
        // Characters that are clusters of their own, one cell below U+0300
        // and two for the plain wide ones: most text is walked here, without
        // boundary searches.
        for (;;) {
            const int stop = std::min(n, i + std::max(0, width - column));
            int k = i;
            for (; k < stop; ++k) {
                const char16_t c = p[k];
                if (c >= 0x300 || c == u'\t' || (k + 1 < n && !StartsCluster(p[k + 1])))
                    break;
                if (c == u' ')
                    afterBlank = k + 1;
            }
            column += k - i;
            i = k;
            for (; i < n && column + 2 <= width && IsPlainWide(p[i]) && (i + 1 == n || StartsCluster(p[i + 1])); ++i)
                column += 2;
            if (i == k)
                break;
        }
        if (i == n)
            break;
        // One cluster of any kind.
        const char16_t c = p[i];
        int next;
        int cells;
        if (c == u'\t') {
            next = i + 1;
            cells = tabWidth - column % tabWidth;
        } else {
            next = ClusterEnd(s, i);
            cells = next == i + 1 && c < 0x300 ? 1 : ClusterCells(s, i, next, column, tabWidth);
        }
        if (column + cells > width && i > rowStart) {
            // The text after the cut starts the next row; it holds no blank,
            // so walking it again costs a word at most.
            const int cut = afterBlank > rowStart ? afterBlank : i;
            starts.push_back(cut);
            ++rows;
            rowStart = i = cut;
            column = 0;
            afterBlank = -1;
            continue;
        }
        column += cells;
        if ((c == u' ' || c == u'\t') && next == i + 1)
            afterBlank = next;
        i = next;
    }
    return rows;
}

} // namespace

std::vector<int> TWrapRows::LayoutLine(QStringView line, int width, int tabWidth)
{
    std::vector<int> starts;
    LayOutLine(line, std::max(1, width), std::max(1, tabWidth), starts);
    return starts;
}

TWrapRows::TWrapRows(const TLineBuffer& lines, int width, int tabWidth)
    : FLines(lines), FWidth(std::max(1, width)), FTabWidth(std::max(1, tabWidth))
{
    Relayout();
}

void TWrapRows::SetWidth(int width)
{
    width = std::max(1, width);
    if (width == FWidth)
        return;
    FWidth = width;
    Relayout();
}

void TWrapRows::SetTabWidth(int tabWidth)
{
    tabWidth = std::max(1, tabWidth);
    if (tabWidth == FTabWidth)
        return;
    FTabWidth = tabWidth;
    Relayout();
}

void TWrapRows::Relayout()
{
    FBlocks = LayOut(0, FLines.Count());
    Refresh(0);
}

int TWrapRows::LayOutInto(int line, std::vector<int>& starts) const
{
    return LayOutLine(FLines.GetRef(line), FWidth, FTabWidth, starts);
}

std::vector<TWrapRows::TBlock> TWrapRows::LayOut(int first, int count) const
{
    std::vector<TBlock> blocks;
    blocks.reserve(std::size_t(count / kFillBlock + 1));
    for (int done = 0; done < count;) {
        TBlock& block = blocks.emplace_back();
        const int n = std::min(kFillBlock, count - done);
        block.Rows.resize(std::size_t(n));
        for (int k = 0; k < n; ++k) {
            const int rows = LayOutInto(first + done + k, block.Starts);
            block.Rows[std::size_t(k)] = rows;
            block.RowTotal += rows;
        }
        done += n;
    }
    return blocks;
}

void TWrapRows::Refresh(int block)
{
    const int count = int(FBlocks.size());
    FBlockLine.resize(std::size_t(count) + 1);
    FBlockRow.resize(std::size_t(count) + 1);
    for (int b = std::clamp(block, 0, count); b < count; ++b) {
        FBlockLine[std::size_t(b) + 1] = FBlockLine[std::size_t(b)] + int(FBlocks[std::size_t(b)].Rows.size());
        FBlockRow[std::size_t(b) + 1] = FBlockRow[std::size_t(b)] + FBlocks[std::size_t(b)].RowTotal;
    }
}

int TWrapRows::BlockOfLine(int line) const
{
    const auto first = FBlockLine.begin();
    const auto last = first + std::ptrdiff_t(FBlocks.size());
    return std::max(0, int(std::upper_bound(first, last, line) - first) - 1);
}

namespace {

// Rows of the first count lines of a block.
int RowsBefore(const std::vector<int>& rows, bool anyWrapped, int count)
{
    if (!anyWrapped)
        return count;
    int sum = 0;
    for (int k = 0; k < count; ++k)
        sum += rows[std::size_t(k)];
    return sum;
}

} // namespace

TWrapRows::TPlace TWrapRows::Locate(int line) const
{
    const int b = BlockOfLine(line);
    const TBlock& block = FBlocks[std::size_t(b)];
    const int offset = line - FBlockLine[std::size_t(b)];
    return {b, offset, RowsBefore(block.Rows, !block.Starts.empty(), offset)};
}

void TWrapRows::LinesInserted(int index, int count)
{
    if (count <= 0)
        return;
    index = std::clamp(index, 0, LineCount());
    if (FBlocks.empty()) {
        FBlocks = LayOut(index, count);
        Refresh(0);
        return;
    }
    const TPlace at = Locate(index);
    TBlock& block = FBlocks[std::size_t(at.Block)];
    if (count <= kMaxBlock) {
        std::vector<int> rows(std::size_t(count), 0);
        std::vector<int> starts;
        int total = 0;
        for (int k = 0; k < count; ++k)
            total += rows[std::size_t(k)] = LayOutInto(index + k, starts);
        block.Rows.insert(block.Rows.begin() + at.Offset, rows.begin(), rows.end());
        block.Starts.insert(block.Starts.begin() + (at.FirstRow - at.Offset), starts.begin(), starts.end());
        block.RowTotal += total;
        SplitIfLarge(at.Block);
        Refresh(at.Block);
        return;
    }
    // Many lines (a paste, a loaded text): blocks of their own, the block
    // they land in cut in two.
    std::vector<TBlock> fresh = LayOut(index, count);
    int where = at.Block;
    if (at.Offset > 0) {
        TBlock tail;
        const int startsCut = at.FirstRow - at.Offset;
        tail.Rows.assign(block.Rows.begin() + at.Offset, block.Rows.end());
        tail.Starts.assign(block.Starts.begin() + startsCut, block.Starts.end());
        tail.RowTotal = block.RowTotal - at.FirstRow;
        block.Rows.resize(std::size_t(at.Offset));
        block.Starts.resize(std::size_t(startsCut));
        block.RowTotal = at.FirstRow;
        ++where;
        if (!tail.Rows.empty())
            FBlocks.insert(FBlocks.begin() + where, std::move(tail));
    }
    FBlocks.insert(FBlocks.begin() + where, std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    Refresh(at.Block);
}

void TWrapRows::LinesDeleted(int index, int count)
{
    if (count <= 0 || index < 0 || index >= LineCount())
        return;
    const TPlace at = Locate(index);
    int left = std::min(count, LineCount() - index);
    int b = at.Block;
    int offset = at.Offset;
    int firstRow = at.FirstRow;
    while (left > 0) {
        TBlock& block = FBlocks[std::size_t(b)];
        const int take = std::min(left, int(block.Rows.size()) - offset);
        int rows = 0;
        for (int k = offset; k < offset + take; ++k)
            rows += block.Rows[std::size_t(k)];
        const int startsAt = firstRow - offset;
        block.Rows.erase(block.Rows.begin() + offset, block.Rows.begin() + offset + take);
        block.Starts.erase(block.Starts.begin() + startsAt, block.Starts.begin() + startsAt + (rows - take));
        block.RowTotal -= rows;
        left -= take;
        ++b;
        offset = firstRow = 0;
    }
    // Emptied blocks go in one sweep, however many there are.
    FBlocks.erase(std::remove_if(FBlocks.begin() + at.Block, FBlocks.begin() + b,
                                 [](const TBlock& block) { return block.Rows.empty(); }),
        FBlocks.begin() + b);
    MergeIfSmall(at.Block + 1);
    MergeIfSmall(at.Block);
    Refresh(std::max(0, at.Block - 1));
}

void TWrapRows::LinePut(int index)
{
    if (index < 0 || index >= LineCount())
        return;
    const TPlace at = Locate(index);
    TBlock& block = FBlocks[std::size_t(at.Block)];
    int& rows = block.Rows[std::size_t(at.Offset)];
    FScratch.clear();
    const int now = LayOutInto(index, FScratch);
    if (now == 1 && rows == 1)
        return; // most keystrokes
    const auto from = block.Starts.begin() + (at.FirstRow - at.Offset);
    const int before = rows;
    // Replace the line's starts in place, growing or shrinking the tail.
    const int common = std::min(before, now) - 1;
    std::copy(FScratch.begin(), FScratch.begin() + common, from);
    if (now > before)
        block.Starts.insert(from + common, FScratch.begin() + common, FScratch.end());
    else if (now < before)
        block.Starts.erase(from + common, from + (before - 1));
    rows = now;
    if (now != before) {
        block.RowTotal += now - before;
        Refresh(at.Block);
    }
}

void TWrapRows::SplitIfLarge(int b)
{
    TBlock& block = FBlocks[std::size_t(b)];
    const int size = int(block.Rows.size());
    if (size <= kMaxBlock)
        return;
    const int half = size / 2;
    const int rowsBefore = RowsBefore(block.Rows, !block.Starts.empty(), half);
    TBlock tail;
    tail.Rows.assign(block.Rows.begin() + half, block.Rows.end());
    tail.Starts.assign(block.Starts.begin() + (rowsBefore - half), block.Starts.end());
    tail.RowTotal = block.RowTotal - rowsBefore;
    block.Rows.resize(std::size_t(half));
    block.Starts.resize(std::size_t(rowsBefore - half));
    block.RowTotal = rowsBefore;
    FBlocks.insert(FBlocks.begin() + b + 1, std::move(tail));
}

void TWrapRows::MergeIfSmall(int b)
{
    const int count = int(FBlocks.size());
    if (b < 0 || b >= count || int(FBlocks[std::size_t(b)].Rows.size()) >= kMinBlock)
        return;
    auto fits = [&](int x) {
        return x >= 0 && x + 1 < count
            && FBlocks[std::size_t(x)].Rows.size() + FBlocks[std::size_t(x) + 1].Rows.size() <= std::size_t(kMaxBlock);
    };
    const int into = fits(b) ? b : fits(b - 1) ? b - 1 : -1;
    if (into < 0)
        return;
    TBlock& head = FBlocks[std::size_t(into)];
    TBlock& tail = FBlocks[std::size_t(into) + 1];
    head.Rows.insert(head.Rows.end(), tail.Rows.begin(), tail.Rows.end());
    head.Starts.insert(head.Starts.end(), tail.Starts.begin(), tail.Starts.end());
    head.RowTotal += tail.RowTotal;
    FBlocks.erase(FBlocks.begin() + into + 1);
}

int TWrapRows::FirstRowOfLine(int line) const
{
    if (line < 0)
        return line;
    if (line >= LineCount())
        return RowCount() + (line - LineCount());
    const TPlace at = Locate(line);
    return FBlockRow[std::size_t(at.Block)] + at.FirstRow;
}

int TWrapRows::RowsOfLine(int line) const
{
    if (line < 0 || line >= LineCount())
        return 1;
    const int b = BlockOfLine(line);
    return FBlocks[std::size_t(b)].Rows[std::size_t(line - FBlockLine[std::size_t(b)])];
}

TWrapRows::TRowOfLine TWrapRows::LineOfRow(int row) const
{
    if (row < 0)
        return {row, 0};
    if (row >= RowCount())
        return {LineCount() + (row - RowCount()), 0};
    // Every block holds a row at least, so the block starts are increasing.
    const auto first = FBlockRow.begin();
    const auto last = first + std::ptrdiff_t(FBlocks.size());
    const int b = int(std::upper_bound(first, last, row) - first) - 1;
    const TBlock& block = FBlocks[std::size_t(b)];
    int rest = row - FBlockRow[std::size_t(b)];
    if (block.Starts.empty())
        return {FBlockLine[std::size_t(b)] + rest, 0};
    int k = 0;
    while (rest >= block.Rows[std::size_t(k)])
        rest -= block.Rows[std::size_t(k++)];
    return {FBlockLine[std::size_t(b)] + k, rest};
}

int TWrapRows::RowStart(int line, int rowInLine) const
{
    if (rowInLine <= 0 || line < 0 || line >= LineCount())
        return 0;
    const TPlace at = Locate(line);
    const TBlock& block = FBlocks[std::size_t(at.Block)];
    const int rows = block.Rows[std::size_t(at.Offset)];
    if (rows == 1)
        return 0;
    return block.Starts[std::size_t(at.FirstRow - at.Offset + std::min(rowInLine, rows - 1) - 1)];
}

int TWrapRows::RowEnd(int line, int rowInLine) const
{
    if (line < 0 || line >= LineCount())
        return 0;
    const TPlace at = Locate(line);
    const TBlock& block = FBlocks[std::size_t(at.Block)];
    const int rows = block.Rows[std::size_t(at.Offset)];
    if (rowInLine + 1 >= rows)
        return FLines.LineCharLength(line);
    return block.Starts[std::size_t(at.FirstRow - at.Offset + std::max(0, rowInLine))];
}

TWrapRows::TRowPos TWrapRows::ToDisplay(int line, int charIndex) const
{
    charIndex = std::max(0, charIndex);
    if (line < 0 || line >= LineCount())
        return {FirstRowOfLine(line), charIndex};
    const TPlace at = Locate(line);
    const TBlock& block = FBlocks[std::size_t(at.Block)];
    const int rows = block.Rows[std::size_t(at.Offset)];
    const int firstRow = FBlockRow[std::size_t(at.Block)] + at.FirstRow;
    int row = 0;
    int start = 0;
    if (rows > 1) {
        // The last row starting at or before the position.
        const auto starts = block.Starts.begin() + (at.FirstRow - at.Offset);
        row = int(std::upper_bound(starts, starts + (rows - 1), charIndex) - starts);
        start = row > 0 ? starts[row - 1] : 0;
    }
    const QStringView text = QStringView(FLines.GetRef(line)).mid(start);
    return {firstRow + row, text::DisplayColumn(text, charIndex - start, FTabWidth)};
}

TWrapRows::TLinePos TWrapRows::ToBuffer(int row, int column) const
{
    column = std::max(0, column);
    const TRowOfLine at = LineOfRow(row);
    if (at.Line < 0 || at.Line >= LineCount())
        return {at.Line, column};
    const QString& line = FLines.GetRef(at.Line);
    const int start = RowStart(at.Line, at.RowInLine);
    const int end = RowEnd(at.Line, at.RowInLine);
    // A position at the end of a row that wraps is shown on the next row, so
    // such a row ends at its last cluster's start.
    const bool lastRow = at.RowInLine + 1 >= RowsOfLine(at.Line);
    return {at.Line, IndexOfRowColumn(line, start, end, column, FTabWidth, lastRow)};
}

} // namespace editor
