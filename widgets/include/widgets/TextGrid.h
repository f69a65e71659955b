#pragma once
// Text on a fixed grid of cells: one cell per character, tabs to the next
// multiple of the tab width, East Asian wide characters two cells, a grapheme
// cluster (surrogate pair, base and combining marks) one glyph. Painting and
// mouse hit tests both go through this, so they agree on every position.
#include <QFont>
#include <QString>
#include <QStringView>

namespace widgets {

// One grapheme cluster of a line and the cells it takes.
struct TGridCell {
    int Index = 0;  // 0-based UTF-16 index of the cluster
    int Length = 0; // UTF-16 units
    int Column = 0; // 0-based first cell
    int Width = 0;  // cells (0 for a lone combining mark)
};

// Calls f(const TGridCell&) for the clusters of line that touch the columns
// [fromColumn, toColumn); stops at toColumn. Returns false when f asked to
// stop by returning false.
template <typename F>
void ForEachCell(QStringView line, int tabWidth, int fromColumn, int toColumn, F&& f);

// The cluster's cells at the given column (the tab's run for a tab).
int CellWidth(QStringView line, int index, int length, int column, int tabWidth);
int NextCluster(QStringView line, int index);

// What a cluster shows: control characters and lone surrogates are drawn as
// visible stand-ins so they never turn into garbage.
QString VisibleGlyph(QStringView cluster);

// Cell and line metrics of the editor's font. Wide characters are centred on
// their two cells whatever the fallback font's advance is.
class TFontGrid {
public:
    explicit TFontGrid(const QFont& font = QFont());
    const QFont& Font() const { return FFont; }
    void SetFont(const QFont& font);
    qreal CellWidth() const { return FCellWidth; }
    int LineHeight() const { return FLineHeight; }
    int Ascent() const { return FAscent; }

    // The fixed-width stand-in for the designed editor font, at a pixel size.
    static QFont EditorFont(int pixels);

private:
    QFont FFont;
    qreal FCellWidth = 8;
    int FLineHeight = 16;
    int FAscent = 12;
};

// --- implementation of the template

template <typename F>
void ForEachCell(QStringView line, int tabWidth, int fromColumn, int toColumn, F&& f)
{
    const int n = int(line.size());
    int column = 0;
    for (int i = 0; i < n && column < toColumn;) {
        const int next = NextCluster(line, i);
        const int width = CellWidth(line, i, next - i, column, tabWidth);
        if (column + width > fromColumn || (width == 0 && column >= fromColumn)) {
            if (!f(TGridCell{i, next - i, column, width}))
                return;
        }
        column += width;
        i = next;
    }
}

} // namespace widgets
