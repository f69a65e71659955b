#pragma once
// Paints the visible rows of an editor's text on the cell grid: token
// colours and font styles from the highlighter, the selection in its mode
// blended over them, control characters as visible stand-ins.
#include <QColor>
#include <QRect>

class QPainter;
namespace editor {
class TCustomCodeEditor;
class TCustomHighlighter;
}

namespace widgets {

class TFontGrid;

struct TTextColors {
    QColor Foreground = Qt::black;
    QColor Background = Qt::white;
    QColor Selection = QColor(0, 120, 215);
    qreal SelectionAlpha = 0.4;
};

// Rows firstRow..lastRow (1-based display rows); row firstRow is drawn at
// y = 0, display column leftChar at x = left.
// The highlighter may differ from the editor's while the view is still
// scanning a large text's ranges (the rows painted are scanned).
void PaintTextRows(QPainter& p, const editor::TCustomCodeEditor& e, editor::TCustomHighlighter* h, const TFontGrid& grid, const TTextColors& colors,
    int left, int width, int firstRow, int lastRow);

// The selected display columns [from, to) of a line, to -1 meaning the whole
// row; false when nothing on the line is selected.
bool SelectedColumns(const editor::TCustomCodeEditor& e, int line, int& from, int& to);

} // namespace widgets
