#pragma once
// The editor's gutter, left to right: marks band (bookmarks 0-9 and the
// error mark), line numbers, fold band, change-tracking band and a margin.
#include <QColor>
#include <QFont>
#include <QRect>

class QPainter;
namespace editor {
class TCustomCodeEditor;
}

namespace widgets {

class TEditorGutter {
public:
    enum TBand { gbMarks, gbNumbers, gbFold, gbChanges, gbMargin, gbCount };

    TEditorGutter();
    void SetFont(const QFont& font);
    const QFont& Font() const { return FFont; }
    // Widens the numbers band to the digits of lineCount; true when the
    // gutter's width changed.
    bool SetLineCount(int lineCount);
    int Width() const { return FLeft[gbCount]; }
    int BandLeft(TBand band) const { return FLeft[band]; }
    int BandWidth(TBand band) const { return FLeft[band + 1] - FLeft[band]; }
    // The band under x, gbCount right of the gutter.
    TBand BandAt(int x) const;

    static QColor ChangeColor(unsigned changeFlags);
    QColor Background = QColor(240, 240, 240);
    QColor NumberColor = QColor(128, 128, 128);
    QColor ErrorColor = QColor(215, 30, 30);

    // Where a line's bookmark or error marker is drawn, on a row at y.
    QRect MarkRect(int y, int lineHeight) const;

    // Paints the rows firstRow..lastRow (1-based display rows) of the editor,
    // row r at y = (r - firstRow) * lineHeight. errorLine (1-based, 0 for
    // none) gets the error marker, over a bookmark of the same line.
    void Paint(QPainter& p, const editor::TCustomCodeEditor& e, int firstRow, int lastRow, int lineHeight,
        int height, int errorLine = 0) const;

private:
    void Layout();

    QFont FFont;
    qreal FDigitWidth = 7;
    int FDigits = 0;
    int FLeft[gbCount + 1] = {};
};

} // namespace widgets
