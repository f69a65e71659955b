#pragma once
// Paints the visible rows of an editor's text on the cell grid: token
// colours and font styles from the highlighter, the selection in its mode
// blended over them, control characters as visible stand-ins.
#include <QColor>
#include <QRect>

#include <vector>

class QPainter;
namespace editor {
class TCustomCodeEditor;
class TCustomHighlighter;
struct TErrorMark;
}

namespace widgets {

class TFontGrid;

struct TTextColors {
    QColor Foreground = Qt::black;
    QColor Background = Qt::white;
    QColor Selection = QColor(0, 120, 215);
    qreal SelectionAlpha = 0.4;
};

// What a display row (1-based) shows: a whole line or, with word wrap, a
// piece of one, drawn from its own column 0.
struct TRowSpan {
    int Line = 0; // 1-based; 0 when the row is past the text
    int RowInLine = 0;
    int Start = 0; // the piece [Start, End) of the line, in UTF-16 units
    int End = 0;
    bool LastOfLine = true;
};
TRowSpan RowSpanAt(const editor::TCustomCodeEditor& e, int row);

// Rows firstRow..lastRow (1-based display rows); row firstRow is drawn at
// y = 0, display column leftChar at x = left.
// The highlighter may differ from the editor's while the view is still
// scanning a large text's ranges (the rows painted are scanned).
void PaintTextRows(QPainter& p, const editor::TCustomCodeEditor& e, editor::TCustomHighlighter* h, const TFontGrid& grid, const TTextColors& colors,
    int left, int width, int firstRow, int lastRow);

// The cells of the error mark's characters on the rows firstRow..lastRow,
// one rectangle a full row high for each row the characters fall on, placed
// as PaintTextRows places the text. Painting and the tool tip's hit test
// both use these.
std::vector<QRectF> ErrorMarkCells(const editor::TCustomCodeEditor& e, const TFontGrid& grid,
    const editor::TErrorMark& mark, int left, int firstRow, int lastRow);
// A wavy line along the bottom of each rectangle.
void PaintErrorUnderline(QPainter& p, const std::vector<QRectF>& cells, const QColor& color);

// The selected display columns [from, to) of a line, to -1 meaning the whole
// row; false when nothing on the line is selected.
bool SelectedColumns(const editor::TCustomCodeEditor& e, int line, int& from, int& to);

} // namespace widgets
